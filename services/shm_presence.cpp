#include "services/shm_presence.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <pelklib.h>

namespace {

// Where the C library's shm_open keeps segments on Linux.
constexpr char kShmDirectory[] = "/dev/shm/";

}  // namespace

int ShmSegmentPresence(const char* name) {
    const size_t length = std::strlen(name);
    if (length == 0 || length > NAME_MAX || std::strchr(name, '/') != nullptr) {
        return EINVAL;
    }
    struct stat status;
    if (fstatat(AT_FDCWD, (kShmDirectory + std::string(name)).c_str(), &status,
                AT_SYMLINK_NOFOLLOW) != 0) {
        return errno;
    }
    if (S_ISLNK(status.st_mode)) {
        return ELOOP;
    }
    return S_ISREG(status.st_mode) ? 0 : EINVAL;
}

std::string UnopenedBoardTable() {
    const std::string path = kShmDirectory + std::string(OAMSHADOW_SEGMENT_NAME);
    struct stat status;
    if (fstatat(AT_FDCWD, path.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
        return MissingBoardTable();
    }
    const struct passwd* owner = getpwuid(status.st_uid);
    const struct group* group = getgrgid(status.st_gid);
    const std::string groupName = group != nullptr ? group->gr_name : std::to_string(status.st_gid);
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned int>(status.st_mode & 07777));
    std::string text = "the board-identity table " + path + " (owner " +
                       (owner != nullptr ? owner->pw_name : std::to_string(status.st_uid)) +
                       ", group " + groupName + ", mode " + mode + ") cannot be opened";
    if (faccessat(AT_FDCWD, path.c_str(), R_OK | W_OK, AT_EACCESS) != 0) {
        return (status.st_mode & 060) == 060
                   ? text + ": this user may not read and write it; join group " + groupName +
                         ", which may"
                   : text + ": this user may not read and write it, nor may its group; have the "
                            "OAM supervisor share it with the group that shares boards "
                            "(PELK_GROUP)";
    }
    return text + ": its mutex or journal segment beside it refuses this user";
}

std::string MissingBoardTable() {
    const int presence = ShmSegmentPresence(OAMSHADOW_SEGMENT_NAME);
    const std::string path = kShmDirectory + std::string(OAMSHADOW_SEGMENT_NAME);
    const char* const writeIt =
        "the OAM supervisor writes the table, or load one with \"oamtab load FILE\"";
    switch (presence) {
        case 0: return "";
        case ENOENT:
            return "there is no board-identity table on this host (" + path +
                   " does not exist): " + writeIt;
        case ELOOP:
            return path + " is a symbolic link, not the board-identity table: remove it; " +
                   writeIt;
        case EINVAL:
            return path + " is not a shared-memory segment, so there is no board-identity " +
                   "table: remove it; " + writeIt;
        default:
            return "cannot look for the board-identity table " + path + ": " +
                   std::strerror(presence);
    }
}
