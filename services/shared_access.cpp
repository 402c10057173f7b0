#include "services/shared_access.h"

#include <cerrno>
#include <vector>

#include <grp.h>
#include <sys/sem.h>
#include <sys/stat.h>
#include <unistd.h>

#include "services/settings.h"

namespace {

struct Policy {
    bool grouped = false;
    gid_t group = 0;
};

Policy ResolvePolicy() {
    const char* name = SettingGroup();
    std::vector<char> scratch(16384);
    struct group entry;
    struct group* found = nullptr;
    int error;
    while ((error = getgrnam_r(name, &entry, scratch.data(), scratch.size(), &found)) == ERANGE &&
           scratch.size() < (1u << 24)) {
        scratch.resize(scratch.size() * 2);
    }
    Policy policy;
    if (error == 0 && found != nullptr) {
        policy.grouped = true;
        policy.group = found->gr_gid;
    }
    return policy;
}

// Read once: every object of the process follows one policy.
const Policy& CurrentPolicy() {
    static const Policy policy = ResolvePolicy();
    return policy;
}

mode_t SharedMode() {
    return CurrentPolicy().grouped ? 0660 : 0666;
}

}  // namespace

bool SharedByGroup() {
    return CurrentPolicy().grouped;
}

bool SharedGroupId(gid_t* group) {
    *group = CurrentPolicy().group;
    return CurrentPolicy().grouped;
}

mode_t SharedCreateMode() {
    return CurrentPolicy().grouped ? 0600 : 0666;
}

// An object another user created may already be shared as the policy
// says; only its owner could change it.
bool AlreadyShared(const struct stat& status) {
    const Policy& policy = CurrentPolicy();
    return (status.st_mode & 07777) == SharedMode() &&
           (!policy.grouped || status.st_gid == policy.group);
}

int ShareDescriptor(int fd) {
    struct stat status;
    if (fstat(fd, &status) == 0 && AlreadyShared(status)) {
        return 0;
    }
    const Policy& policy = CurrentPolicy();
    if (policy.grouped && fchown(fd, static_cast<uid_t>(-1), policy.group) != 0) {
        return errno;
    }
    return fchmod(fd, SharedMode()) == 0 ? 0 : errno;
}

int SharePath(const char* path) {
    struct stat status;
    if (stat(path, &status) == 0 && AlreadyShared(status)) {
        return 0;
    }
    const Policy& policy = CurrentPolicy();
    if (policy.grouped && chown(path, static_cast<uid_t>(-1), policy.group) != 0) {
        return errno;
    }
    return chmod(path, SharedMode()) == 0 ? 0 : errno;
}

int ShareSemaphoreSet(int set) {
    const Policy& policy = CurrentPolicy();
    if (!policy.grouped) {
        return 0;
    }
    struct semid_ds status;
    if (semctl(set, 0, IPC_STAT, &status) != 0) {
        return errno;
    }
    status.sem_perm.gid = policy.group;
    status.sem_perm.mode = SharedMode();
    return semctl(set, 0, IPC_SET, &status) == 0 ? 0 : errno;
}
