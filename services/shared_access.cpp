#include "services/shared_access.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include <grp.h>
#include <pwd.h>
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

// An object another user created may already be shared as the policy
// says; only its owner could change it.
bool AlreadyShared(const struct stat& status) {
    const Policy& policy = CurrentPolicy();
    return (status.st_mode & 07777) == SharedMode() &&
           (!policy.grouped || status.st_gid == policy.group);
}

// "mallory (uid 1001)", or the number alone for a user without a name.
std::string UserText(uid_t uid) {
    std::vector<char> scratch(16384);
    struct passwd entry;
    struct passwd* found = nullptr;
    const std::string number = "uid " + std::to_string(uid);
    if (getpwuid_r(uid, &entry, scratch.data(), scratch.size(), &found) != 0 || found == nullptr) {
        return number;
    }
    return std::string(found->pw_name) + " (" + number + ")";
}

std::string GroupText(gid_t gid) {
    std::vector<char> scratch(16384);
    struct group entry;
    struct group* found = nullptr;
    if (getgrgid_r(gid, &entry, scratch.data(), scratch.size(), &found) != 0 || found == nullptr) {
        return "gid " + std::to_string(gid);
    }
    return found->gr_name;
}

std::string ModeText(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

const char* KindText(mode_t mode) {
    switch (mode & S_IFMT) {
        case S_IFREG: return "regular file";
        case S_IFDIR: return "directory";
        case S_IFIFO: return "FIFO";
        case S_IFLNK: return "symbolic link";
        case S_IFSOCK: return "socket";
        case S_IFCHR: return "character device";
        case S_IFBLK: return "block device";
        default: return "file of unknown type";
    }
}

mode_t KindMode(SharedKind kind) {
    switch (kind) {
        case SharedKind::Directory: return S_IFDIR;
        case SharedKind::Fifo: return S_IFIFO;
        case SharedKind::File: break;
    }
    return S_IFREG;
}

// Who may own a shared object: this process's user, root, and under the
// group policy whoever put it in the policy's group (only a member, or
// root, can).
std::string TrustedOwners() {
    std::string owners = "root";
    if (geteuid() != 0) {
        owners += ", " + UserText(geteuid());
    }
    if (CurrentPolicy().grouped) {
        owners += ", group " + GroupText(CurrentPolicy().group);
    }
    return owners;
}

int Refuse(std::string* why, const std::string& text) {
    *why = text;
    return EACCES;
}

// The owner and permission part of the check, shared by files and IPC
// objects. `removal` says how to remove the object.
int CheckOwnerAndMode(uid_t owner, gid_t group, mode_t mode, bool directory, const char* name,
                      const std::string& removal, std::string* why) {
    const Policy& policy = CurrentPolicy();
    // Names are looked up only for a refusal.
    const auto facts = [&] {
        return std::string(name) + " (owner " + UserText(owner) + ", group " + GroupText(group) +
               ", mode " + ModeText(mode) + ")";
    };
    if (owner != geteuid() && owner != 0 && !(policy.grouped && group == policy.group)) {
        return Refuse(why, facts() + " belongs to none of: " + TrustedOwners() +
                               ": whoever owns it could change what it holds; " + removal);
    }
    if (directory) {
        if ((mode & S_IWOTH) != 0 && (mode & S_ISVTX) == 0) {
            return Refuse(why, facts() +
                                   " is writable by every user without the sticky bit, so any of"
                                   " them could replace the files in it: chmod o-w " +
                                   name + " (or chmod +t " + name + ")");
        }
        return 0;
    }
    if (policy.grouped &&
        ((mode & S_IRWXO) != 0 || ((mode & S_IRWXG) != 0 && group != policy.group))) {
        return Refuse(why, facts() + " gives access beyond group " + GroupText(policy.group) +
                               ", which the group policy allows; " + removal +
                               ", and it is made anew for the group");
    }
    // Another member's object: only its owner could share it as it should be.
    if (owner != geteuid() && owner != 0 && (mode & 0060) != 0060) {
        return Refuse(why, facts() + " is not shared with group " + GroupText(policy.group) +
                               " as the group policy says, and only its owner may change that; " +
                               removal);
    }
    return 0;
}

std::string RemovalText(const char* path) {
    return std::string("remove it (rm ") + path + ") if it is not in use";
}

// The object's owner, group and mode, and whom it lets in.
std::string PermissionText(const char* path, const struct stat& status) {
    const std::string facts = std::string(path) + " (owner " + UserText(status.st_uid) +
                              ", group " + GroupText(status.st_gid) + ", mode " +
                              ModeText(status.st_mode) + ")";
    // Joining the group helps only when the group may do more than everybody.
    const mode_t group = (status.st_mode & S_IRWXG) >> 3;
    const mode_t others = status.st_mode & S_IRWXO;
    if ((group & ~others) != 0) {
        return "permission denied on " + facts + ": join group " + GroupText(status.st_gid) +
               " (usermod -aG " + GroupText(status.st_gid) + " USER, then log in again)";
    }
    return "permission denied on " + facts +
           ": none but its owner has more access than every"
           " user; run as " +
           UserText(status.st_uid) + " or use a place of your own";
}

// fstat and the kind: 0 with status filled, or the refusal.
int CheckKind(int fd, mode_t expected, const char* path, struct stat* status, std::string* why) {
    if (fstat(fd, status) != 0) {
        const int error = errno;
        *why = std::string("cannot look at ") + path + ": " + std::strerror(error);
        return error;
    }
    if ((status->st_mode & S_IFMT) != expected) {
        return Refuse(why, std::string(path) + " is a " + KindText(status->st_mode) + ", not a " +
                               KindText(expected) + ": " + RemovalText(path));
    }
    return 0;
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

int ShareDescriptor(int fd) {
    struct stat status;
    if (fstat(fd, &status) != 0) {
        return errno;
    }
    if (AlreadyShared(status)) {
        return 0;
    }
    const Policy& policy = CurrentPolicy();
    if (policy.grouped && fchown(fd, static_cast<uid_t>(-1), policy.group) != 0) {
        return errno;
    }
    return fchmod(fd, SharedMode()) == 0 ? 0 : errno;
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

int CheckSharedObject(int fd, SharedKind kind, const char* path, std::string* why) {
    struct stat status;
    const int error = CheckKind(fd, KindMode(kind), path, &status, why);
    if (error != 0) {
        return error;
    }
    return CheckOwnerAndMode(status.st_uid, status.st_gid, status.st_mode,
                             kind == SharedKind::Directory, path, RemovalText(path), why);
}

int CheckOwnFile(int fd, const char* path, std::string* why) {
    struct stat status;
    const int error = CheckKind(fd, S_IFREG, path, &status, why);
    if (error != 0 || status.st_uid == geteuid() || status.st_uid == 0) {
        return error;
    }
    return Refuse(why, std::string(path) + " belongs to " + UserText(status.st_uid) +
                           ", not to root or " + UserText(geteuid()) + ": " + RemovalText(path) +
                           ", or name another file");
}

int CheckSharedIpc(const struct ipc_perm& permission, const char* name, const char* removal,
                   std::string* why) {
    return CheckOwnerAndMode(permission.uid, permission.gid, permission.mode, false, name,
                             std::string("remove it (") + removal + ") if it is not in use", why);
}

std::string DescribeOpenFailure(const char* path, int error) {
    if (error == ELOOP) {
        return std::string(path) +
               " is a symbolic link, which is not followed: " + RemovalText(path);
    }
    if (error == EACCES || error == EPERM) {
        struct stat status;
        if (lstat(path, &status) == 0) {
            return PermissionText(path, status);
        }
        // The object itself is out of reach (or not there): its directory
        // is what keeps us out.
        std::string directory(path);
        const size_t slash = directory.find_last_of('/');
        directory.resize(slash == 0 ? 1 : slash == std::string::npos ? 0 : slash);
        if (!directory.empty() && stat(directory.c_str(), &status) == 0) {
            return PermissionText(directory.c_str(), status);
        }
    }
    if (error == ENOENT) {
        return std::string(path) + " does not exist";
    }
    return std::string("cannot open ") + path + ": " + std::strerror(error);
}
