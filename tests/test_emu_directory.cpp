// The emulator directory as Open finds it: what it says, with its status,
// when it cannot reach a runtime there, and what it refuses to use: a
// directory others could rearrange, and objects that are not what the
// runtime makes (regular files, symbolic links, other users' FIFOs). The
// user nobody plays the other user; nothing refused is written to.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/sem.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "emu/pelklib_emu.h"
#include "support/child_process.h"
#include "wire/emulator_paths.h"

namespace {

using testing::HasSubstr;
using testing::StartsWith;

struct Attempt {
    int status;
    std::string last;  // the last text logged
};

// Opens an emulated board in dir (a handshake played by runtime, when given).
Attempt OpenIn(const std::string& dir, const std::function<void()>& runtime = nullptr) {
    setenv(kEmulatorDirVariable, dir.c_str(), 1);
    std::vector<std::string> texts;
    pelkSetLogCallback(
        [](const char* text, void* user) {
            static_cast<std::vector<std::string>*>(user)->push_back(text);
        },
        &texts);
    std::thread serving(runtime ? runtime : std::function<void()>([] {}));
    Attempt attempt{cPelkLib_Emu().Open(0, nullptr), ""};
    serving.join();
    pelkSetLogCallback(nullptr, nullptr);
    unsetenv(kEmulatorDirVariable);
    attempt.last = texts.empty() ? "" : texts.back();
    return attempt;
}

// A fresh directory of root's with the given mode and owner.
std::string Directory(mode_t mode, uid_t owner = 0) {
    char name[] = "/dev/shm/emu-XXXXXX";
    if (mkdtemp(name) == nullptr || chmod(name, mode) != 0 || chown(name, owner, owner) != 0) {
        return "";
    }
    return name;
}

// A file of root's that planted links point at; it must stay empty.
const char kTarget[] = "/dev/shm/roots-file";

bool TargetUntouched() {
    struct stat status;
    return stat(kTarget, &status) == 0 && S_ISREG(status.st_mode) && status.st_size == 0 &&
           (status.st_mode & 07777) == 0600;
}

void Plant(const std::string& path, const std::string& content) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666);
    (void)!write(fd, content.data(), content.size());
    close(fd);
    (void)!chown(path.c_str(), kNobody, kNobody);
}

void PlantLink(const std::string& path) {
    (void)!symlink(kTarget, path.c_str());
    (void)!lchown(path.c_str(), kNobody, kNobody);
}

void PlantFifo(const std::string& path, uid_t owner = kNobody) {
    (void)!mkfifo(path.c_str(), 0666);
    (void)!chmod(path.c_str(), 0666);
    (void)!chown(path.c_str(), owner, owner);
}

// Answers one handshake in dir with pipe number 7, as a runtime would.
void AnswerSeven(const std::string& dir) {
    const int reply = open((dir + "/" + ZBHOST_MANAGER_OUT_NAME).c_str(), O_WRONLY);
    const int request = open((dir + "/" + ZBHOST_MANAGER_IN_NAME).c_str(), O_RDONLY);
    char word[4];
    const int32_t seven = 7;
    if (read(request, word, sizeof word) == 4) (void)!write(reply, &seven, sizeof seven);
    close(request);
    close(reply);
}

TEST(EmuDirectory, EveryFailureSaysWhyAndWhatToDo) {
    const std::string empty = Directory(0755);
    const std::string stale = Directory(0755);
    Plant(stale + "/" + ZBHOST_LOCK_NAME, "");
    (void)!chown((stale + "/" + ZBHOST_LOCK_NAME).c_str(), 0, 0);
    const std::string tooLong = empty + std::string(201 - empty.size(), '/');
    const struct {
        std::string dir;
        int status;
        std::string says;
    } cases[] = {
        {"/nonexistent", PKERR_UNKNOWN,
         "Open: the emulator directory /nonexistent does not exist: start zbhost in /nonexistent "
         "(PELK_EMULATOR_DIR=/nonexistent zbhost), or set PELK_EMULATOR_DIR to the directory "
         "zbhost serves\n"},
        {tooLong, PKERR_UNKNOWN, "is longer than 200 bytes: choose a shorter path\n"},
        {"/dev/null", PKERR_UNKNOWN, "Open: the emulator directory /dev/null is not a directory"},
        {empty, PKERR_NOT_OPEN,
         "Open: no runtime serves " + empty + " (" + empty +
             "/ZBHostManagerOut does not exist): start zbhost in " + empty},
        {stale, PKERR_NOT_OPEN,
         "Open: no runtime alive, nobody holds " + stale + "/ZBHostManager.lock: start zbhost in " +
             stale},
    };
    for (const auto& c : cases) {
        const Attempt attempt = OpenIn(c.dir);
        EXPECT_EQ(attempt.status, c.status) << c.dir;
        EXPECT_THAT(attempt.last, HasSubstr(c.says));
    }
}

// Directories: writable by everybody only with the sticky bit, and root's
// or the user's own.
TEST(EmuDirectory, LooseOrForeignDirectoriesAreRefused) {
    const struct {
        mode_t mode;
        uid_t owner;
        std::string says;
    } cases[] = {
        {0777, 0, "is writable by every user without the sticky bit"},
        {0755, kNobody,
         "(owner nobody (uid 65534), group nogroup, mode 0755) belongs to none of: root:"},
    };
    for (const auto& c : cases) {
        const std::string dir = Directory(c.mode, c.owner);
        const Attempt attempt = OpenIn(dir);
        EXPECT_EQ(attempt.status, PKERR_UNKNOWN);
        EXPECT_THAT(attempt.last, StartsWith("Open: the emulator directory is refused: " + dir));
        EXPECT_THAT(attempt.last, HasSubstr(c.says));
    }
    EXPECT_NE(OpenIn(Directory(01777)).last.find("no runtime serves"), std::string::npos);
}

// In a directory everybody may add to (sticky), what another user planted
// under the runtime's names is refused, and nothing is written through it.
TEST(EmuDirectory, PlantedObjectsAreRefused) {
    ASSERT_EQ(close(open(kTarget, O_WRONLY | O_CREAT | O_EXCL, 0600)), 0);
    const auto path = [](const std::string& dir, const char* name) { return dir + "/" + name; };

    // Regular files as the manager's pipes, the reply holding 7, and the
    // pair a link to root's file and another regular file.
    const std::string files = Directory(01777);
    Plant(path(files, ZBHOST_MANAGER_IN_NAME), "");
    Plant(path(files, ZBHOST_MANAGER_OUT_NAME), std::string("\x07\0\0\0", 4));
    PlantLink(files + "/ZBHostIn0007");
    Plant(files + "/ZBHostOut0007", "");
    Attempt attempt = OpenIn(files);
    EXPECT_EQ(attempt.status, PKERR_NOT_OPEN);
    EXPECT_EQ(attempt.last, "Open: refused: " + path(files, ZBHOST_MANAGER_OUT_NAME) +
                                " is a regular file, not a FIFO: remove it (rm " +
                                path(files, ZBHOST_MANAGER_OUT_NAME) + ") if it is not in use\n");

    // FIFOs of another user.
    const std::string fifos = Directory(01777);
    PlantFifo(path(fifos, ZBHOST_MANAGER_IN_NAME));
    PlantFifo(path(fifos, ZBHOST_MANAGER_OUT_NAME));
    attempt = OpenIn(fifos);
    EXPECT_EQ(attempt.status, PKERR_NOT_OPEN);
    EXPECT_THAT(attempt.last, HasSubstr("(owner nobody (uid 65534), group nogroup, mode 0666) "
                                        "belongs to none of: root"));

    // The manager's pipes root's, its answer 7, and that pair a link.
    const std::string pair = Directory(01777);
    PlantFifo(path(pair, ZBHOST_MANAGER_IN_NAME), 0);
    PlantFifo(path(pair, ZBHOST_MANAGER_OUT_NAME), 0);
    PlantLink(pair + "/ZBHostIn0007");
    PlantFifo(pair + "/ZBHostOut0007", 0);
    attempt = OpenIn(pair, [&] { AnswerSeven(pair); });
    EXPECT_EQ(attempt.status, PKERR_NOT_OPEN);
    EXPECT_EQ(attempt.last, "Open: refused: " + pair +
                                "/ZBHostIn0007 is a symbolic link, which is not followed: remove "
                                "it (rm " +
                                pair + "/ZBHostIn0007) if it is not in use\n");

    // The semaphore's marker a link; a set another user made under its key.
    const std::string marker = Directory(01777);
    PlantLink(path(marker, ZBHOST_SEMAPHORE_NAME));
    attempt = OpenIn(marker);
    EXPECT_EQ(attempt.status, PKERR_UNKNOWN);
    EXPECT_THAT(attempt.last,
                StartsWith("Open: the semaphore's marker is refused: " +
                           path(marker, ZBHOST_SEMAPHORE_NAME) + " is a symbolic link"));
    const std::string set = Directory(01777);
    const std::string key = path(set, ZBHOST_SEMAPHORE_NAME);
    ASSERT_EQ(close(open(key.c_str(), O_CREAT | O_WRONLY, 0644)), 0);
    ASSERT_EQ(
        AsNobody([&] { return semget(ftok(key.c_str(), 0), 1, IPC_CREAT | 0666) >= 0 ? 0 : 1; }),
        0);
    attempt = OpenIn(set);
    EXPECT_EQ(attempt.status, PKERR_UNKNOWN);
    EXPECT_THAT(attempt.last, HasSubstr("(key of " + key +
                                        ") (owner nobody (uid 65534), group "
                                        "nogroup, mode 0666) belongs to none of: root"));

    // The lock a link: refused before anything else is looked at.
    const std::string lock = Directory(01777);
    PlantLink(path(lock, ZBHOST_LOCK_NAME));
    attempt = OpenIn(lock);
    EXPECT_EQ(attempt.status, PKERR_NOT_OPEN);
    EXPECT_THAT(attempt.last, StartsWith("Open: the runtime's lock is refused: " +
                                         path(lock, ZBHOST_LOCK_NAME) + " is a symbolic link"));
    EXPECT_TRUE(TargetUntouched());
}

}  // namespace
