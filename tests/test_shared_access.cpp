// Every object that processes sharing boards create follows one access
// policy: read/write for all without a group, 0660 and the group's with one.
#include <fcntl.h>
#include <grp.h>
#include <sys/sem.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include <gtest/gtest.h>
#include <pelklib.h>

#include "emu/pelklib_emu.h"
#include "oam/board_table_writer.h"
#include "services/pxi.h"
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

    pxiDeallocShMem(&handle, &address);
    deletePelkLib(emulator);
}

TEST(SharedAccess, WithoutGroupEveryUserReadsAndWrites) {
    setenv("PELK_GROUP", "pelk-group-that-does-not-exist", 1);
    ExpectEveryObjectShared(0666, getegid());
}

TEST(SharedAccess, WithGroupOnlyItsMembers) {
    std::string name = UsableOtherGroup();
    setenv("PELK_GROUP", name.c_str(), 1);
    ExpectEveryObjectShared(0660, getgrnam(name.c_str())->gr_gid);
}

}  // namespace
