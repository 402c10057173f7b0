// Every object that processes sharing boards create follows one access
// policy: read/write for all without a group, 0660 and the group's with one.
// Objects another user made under the same names are used only as far as
// the policy trusts them.
#include <fcntl.h>
#include <grp.h>
#include <sys/mman.h>
#include <sys/sem.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <pelklib.h>

#include "emu/pelklib_emu.h"
#include "oam/board_table_writer.h"
#include "services/pxi.h"
#include "tests/support/child_process.h"
#include "tests/support/zbhost_process.h"
#include "wire/emulator_paths.h"

namespace {

// A group this process may hand objects to: one it is not in when it can
// (root), so that a group that was not applied shows.
std::string UsableOtherGroup() {
    const struct group* daemon = getgrnam("daemon");
    if (geteuid() == 0 && daemon != nullptr && daemon->gr_gid != getegid()) {
        std::string probe = "/dev/shm/pelk-group-probe";
        bool usable = close(open(probe.c_str(), O_CREAT | O_WRONLY, 0600)) == 0 &&
                      chown(probe.c_str(), static_cast<uid_t>(-1), daemon->gr_gid) == 0;
        unlink(probe.c_str());
        if (usable) return daemon->gr_name;
    }
    return getgrgid(getegid())->gr_name;
}

// Creates one of each shared object and checks its mode and group.
void ExpectEveryObjectShared(mode_t mode, gid_t group) {
    Zbhost zbhost;
    ASSERT_TRUE(zbhost.WaitReady());
    cPelkLib* emulator = NewPelkLibByType(PELKLIB_DRIVER_ZBHOST);
    int waitHandle = -1;
    ASSERT_EQ(emulator->Open(4096, &waitHandle), 0);
    uint32_t handle = 0;
    void* address = nullptr;
    ASSERT_EQ(pxiAllocShMem("ZBHOSTSETDATA", 64, &handle, &address), 0u);
    CBoardTableWriter table(kBoardIDsShadowName, 4096);
    ASSERT_EQ(table.Insert(CBoardIDShadow("brd", 1, "zbhost", "0", false)), 0);

    const std::string paths[] = {"/dev/shm/ZBHOSTSETDATA",
                                 "/dev/shm/OAM_BoardIDsShadow",
                                 "/dev/shm/OAM_BoardIDsShadowCZelSharedMemoryArray.mutex",
                                 "/dev/shm/OAM_BoardIDsShadow.journal",
                                 EmulatorFile(ZBHOST_SEMAPHORE_NAME).text,
                                 EmulatorFile(ZBHOST_MANAGER_IN_NAME).text,
                                 EmulatorFile(ZBHOST_MANAGER_OUT_NAME).text,
                                 EmulatorFile(ZBHOST_LOCK_NAME).text,
                                 EmulatorPipe(ZBHOST_PIPE_IN_NAME, 0).text,
                                 EmulatorPipe(ZBHOST_PIPE_OUT_NAME, 0).text};
    for (const std::string& path : paths) {
        struct stat status {};
        ASSERT_EQ(stat(path.c_str(), &status), 0) << path;
        // Without a group the lock file need not be writable by all.
        EXPECT_TRUE((status.st_mode & 07777) == mode ||
                    (mode == 0666 && path.find(".lock") != std::string::npos))
            << path << " has mode " << std::oct << status.st_mode;
        EXPECT_EQ(status.st_gid, group) << path;
    }
    struct semid_ds set {};
    ASSERT_EQ(
        semctl(semget(ftok(EmulatorFile(ZBHOST_SEMAPHORE_NAME).text, 0), 1, 0), 0, IPC_STAT, &set),
        0);
    EXPECT_EQ(set.sem_perm.mode & 0777, mode);
    EXPECT_EQ(set.sem_perm.gid, group);

    // Another user: sharing without a group; outside it, told what to join.
    const int texts = memfd_create("texts", 0);
    const int status = AsNobody([texts] {
        pelkSetLogCallback(
            [](const char* text, void* fd) {
                (void)!ftruncate(*static_cast<int*>(fd), 0);
                (void)!pwrite(*static_cast<int*>(fd), text, strlen(text), 0);
            },
            const_cast<int*>(&texts));
        return -cPelkLib_Emu().Open(0, nullptr);
    });
    char last[512] = {};
    (void)!pread(texts, last, sizeof last - 1, 0);
    close(texts);
    if (mode == 0666) {
        EXPECT_EQ(status, 0) << last;
    } else {
        EXPECT_EQ(status, -PKERR_UNKNOWN);
        const std::string name = getgrgid(group)->gr_name;
        EXPECT_THAT(std::string(last),
                    testing::HasSubstr("/dev/ZBHostSemaphore (owner root (uid 0), group " + name +
                                       ", mode 0660): join group " + name));
    }

    pxiDeallocShMem(&handle, &address);
    deletePelkLib(emulator);
}

// The table's segments and the board data as an ordinary user may make
// them before root uses them. Those refused are named with their owner and
// their removal and left as they are; the table works once they are gone.
// The texts logged are added to texts.
void Append(const char* text, void* all) {
    *static_cast<std::string*>(all) += text;
}

void ExpectRefused(const std::vector<std::string>& names, uid_t owner, gid_t group, mode_t mode,
                   std::string* texts) {
    pelkSetLogCallback(Append, texts);
    for (const std::string& name : names) {
        for (const std::string& other : names) unlink(("/dev/shm/" + other).c_str());
        const std::string path = "/dev/shm/" + name;
        ASSERT_EQ(close(open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY, mode)), 0);
        ASSERT_EQ(chmod(path.c_str(), mode), 0);
        ASSERT_EQ(chown(path.c_str(), owner, group), 0);
        char data[4] = "abc";
        unsigned int count = 0;
        const bool table = name != "ZBHOSTSETDATA";
        EXPECT_EQ(oamShadowInit(), table ? OAMSHADOW_ERR_UNAVAILABLE : 0) << name;
        oamShadowExit();
        EXPECT_EQ(CBoardTableWriter(kBoardIDsShadowName, 4096).GetOpenError(), table ? EACCES : 0)
            << name;
        EXPECT_EQ(cPelkLib_Emu().SetBoardData(0, 3, data, &count), table ? 0 : EACCES);
        struct stat status {};
        ASSERT_EQ(stat(path.c_str(), &status), 0);
        EXPECT_TRUE(status.st_uid == owner && (status.st_mode & 07777) == mode &&
                    status.st_size == 0)
            << path;
        EXPECT_THAT(*texts, testing::HasSubstr(path + " (owner "));
        EXPECT_THAT(*texts, testing::HasSubstr("remove it (rm " + path + ")"));
    }
    for (const std::string& name : names) unlink(("/dev/shm/" + name).c_str());
    EXPECT_EQ(oamShadowInit(), 0);
    oamShadowExit();
    pelkSetLogCallback(nullptr, nullptr);
}

const std::vector<std::string> kSegments = {"OAM_BoardIDsShadow",
                                            "OAM_BoardIDsShadowCZelSharedMemoryArray.mutex",
                                            "OAM_BoardIDsShadow.journal", "ZBHOSTSETDATA"};

TEST(SharedAccess, WithoutGroupEveryUserReadsAndWrites) {
    setenv("PELK_GROUP", "pelk-group-that-does-not-exist", 1);
    ExpectEveryObjectShared(0666, getegid());
}

TEST(SharedAccess, WithGroupOnlyItsMembers) {
    std::string name = UsableOtherGroup();
    setenv("PELK_GROUP", name.c_str(), 1);
    ExpectEveryObjectShared(0660, getgrnam(name.c_str())->gr_gid);
}

TEST(Squatters, WithoutGroupAnotherUsersObjectsAreRefused) {
    setenv("PELK_GROUP", "pelk-group-that-does-not-exist", 1);
    std::string texts;
    ExpectRefused(kSegments, kNobody, kNobody, 0666, &texts);
    EXPECT_THAT(texts, testing::HasSubstr("(owner nobody (uid 65534), group nogroup, mode 0666) "
                                          "belongs to none of: root:"));

    // A link under the table's name is not followed to root's file.
    const char target[] = "/dev/shm/roots-file";
    ASSERT_EQ(close(open(target, O_CREAT | O_EXCL | O_WRONLY, 0600)), 0);
    unlink("/dev/shm/OAM_BoardIDsShadow");
    ASSERT_EQ(symlink(target, "/dev/shm/OAM_BoardIDsShadow"), 0);
    texts.clear();
    pelkSetLogCallback(Append, &texts);
    EXPECT_EQ(oamShadowInit(), OAMSHADOW_ERR_UNAVAILABLE);
    pelkSetLogCallback(nullptr, nullptr);
    EXPECT_THAT(texts, testing::HasSubstr("/dev/shm/OAM_BoardIDsShadow is a symbolic link, which "
                                          "is not followed: remove it"));
    struct stat status {};
    ASSERT_EQ(stat(target, &status), 0);
    EXPECT_EQ(status.st_size, 0);
}

// A member's object in the group is shared as it is; one open to others
// (made before the group was configured) is refused, even root's, and so
// is a member's object not shared with the group.
TEST(Squatters, WithGroupOnlyTheGroupsObjectsAreTaken) {
    const std::string name = UsableOtherGroup();
    setenv("PELK_GROUP", name.c_str(), 1);
    const gid_t group = getgrnam(name.c_str())->gr_gid;
    const std::string member = "/dev/shm/OAM_BoardIDsShadow";
    unlink(member.c_str());
    ASSERT_EQ(close(open(member.c_str(), O_CREAT | O_EXCL | O_WRONLY, 0660)), 0);
    ASSERT_EQ(chown(member.c_str(), kNobody, group), 0);
    ASSERT_EQ(chmod(member.c_str(), 0660), 0);
    ASSERT_EQ(oamShadowInit(), 0);
    oamShadowExit();
    struct stat status {};
    ASSERT_EQ(stat(member.c_str(), &status), 0);
    EXPECT_TRUE(status.st_uid == kNobody && status.st_gid == group && status.st_size > 0);
    ASSERT_EQ(unlink(member.c_str()), 0);

    std::string texts;
    ExpectRefused(kSegments, 0, 0, 0666, &texts);
    EXPECT_THAT(texts, testing::HasSubstr("(owner root (uid 0), group root, mode 0666) gives "
                                          "access beyond group " +
                                          name));
    // Only its owner may share a member's object: root does not do it for them.
    texts.clear();
    ExpectRefused({"OAM_BoardIDsShadow", "ZBHOSTSETDATA"}, kNobody, group, 0640, &texts);
    EXPECT_THAT(texts, testing::HasSubstr("is not shared with group " + name));
}

}  // namespace
