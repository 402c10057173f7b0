#include "tools/pelkd/unix_listener.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <grpcpp/server_posix.h>

#include "services/shared_access.h"

namespace {

std::string Failed(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

std::string Octal(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

// Owned by pelkd's user or root, and, when every user may write it, sticky.
std::string CheckDirectory(const struct stat& status, const std::string& directory) {
    if (status.st_uid != geteuid() && status.st_uid != 0) {
        return directory + " belongs to uid " + std::to_string(status.st_uid) +
               ", neither pelkd's user nor root: use a directory of pelkd's user";
    }
    if ((status.st_mode & S_IWOTH) != 0 && (status.st_mode & S_ISVTX) == 0) {
        return directory + " may be written by every user (mode " + Octal(status.st_mode) +
               "): chmod o-w " + directory + ", or use another directory";
    }
    return "";
}

}  // namespace

UnixListener::~UnixListener() {
    Stop();
    for (int fd : {m_listen_fd, m_lock_fd, m_dir_fd, m_stop_fd}) {
        if (fd >= 0) {
            close(fd);
        }
    }
}

std::string UnixListener::OpenDirectory(const std::string& directory, bool runtimeDirectory) {
    // Made for pelkd's user alone; its access is set on the descriptor.
    if (runtimeDirectory && mkdir(directory.c_str(), 0700) != 0 && errno != EEXIST) {
        return Failed("cannot make " + directory);
    }
    m_dir_fd = open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (m_dir_fd < 0) {
        return errno == ELOOP || errno == ENOTDIR
                   ? directory + " is not a directory (a symbolic link is not followed)"
                   : Failed(directory);
    }
    struct stat status;
    if (fstat(m_dir_fd, &status) != 0) {
        return Failed(directory);
    }
    std::string problem = CheckDirectory(status, directory);
    if (!problem.empty() || !runtimeDirectory || status.st_uid != geteuid()) {
        return problem;
    }
    gid_t group;
    if (SharedGroupId(&group)) {
        if (fchown(m_dir_fd, static_cast<uid_t>(-1), group) != 0 || fchmod(m_dir_fd, 02750) != 0) {
            return Failed("cannot give " + directory + " to group " + std::to_string(group));
        }
    } else if (fchmod(m_dir_fd, 0755) != 0) {
        return Failed("cannot set the mode of " + directory);
    }
    return "";
}

std::string UnixListener::TakeLock(const std::string& path) {
    const std::string lock = m_name + ".lock";
    m_lock_fd = openat(m_dir_fd, lock.c_str(),
                       O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600);
    if (m_lock_fd < 0) {
        return Failed("cannot open " + path + ".lock");
    }
    struct stat status;
    if (fstat(m_lock_fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_uid != geteuid()) {
        return path + ".lock is not a regular file of pelkd's user: remove it";
    }
    if (flock(m_lock_fd, LOCK_EX | LOCK_NB) != 0) {
        return errno == EWOULDBLOCK
                   ? "another pelkd serves " + path + " (it holds " + path + ".lock)"
                   : Failed("cannot lock " + path + ".lock");
    }
    // Under the lock, a socket of pelkd's user is one a killed pelkd left.
    struct stat left;
    if (fstatat(m_dir_fd, m_name.c_str(), &left, AT_SYMLINK_NOFOLLOW) == 0) {
        if (!S_ISSOCK(left.st_mode) || left.st_uid != geteuid()) {
            return path + " exists and is not a socket pelkd left: remove it";
        }
        if (unlinkat(m_dir_fd, m_name.c_str(), 0) != 0) {
            return Failed("cannot remove the old socket " + path);
        }
    }
    return "";
}

std::string UnixListener::BindSocket(const std::string& path) {
    m_listen_fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (m_listen_fd < 0) {
        return Failed("socket");
    }
    // Bound through the directory's descriptor: no name on the way is
    // looked up again.
    struct sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "/proc/self/fd/%d/%s", m_dir_fd,
                  m_name.c_str());
    gid_t group;
    const bool grouped = SharedGroupId(&group);
    struct stat directory;
    fstat(m_dir_fd, &directory);
    const bool inherits = (directory.st_mode & S_ISGID) != 0 && directory.st_gid == group;
    const gid_t ownGroup = getegid();
    const bool switchGroup = grouped && !inherits && ownGroup != group && geteuid() == 0;
    if (switchGroup && setegid(group) != 0) {
        return Failed("cannot take group " + std::to_string(group) + " for the socket");
    }
    const mode_t umaskBefore = umask(grouped ? 0117 : 0111);
    const int bound =
        bind(m_listen_fd, reinterpret_cast<struct sockaddr*>(&address), sizeof address);
    const int error = errno;
    umask(umaskBefore);
    if (switchGroup && setegid(ownGroup) != 0) {
        return Failed("cannot take back group " + std::to_string(ownGroup));
    }
    errno = error;
    if (bound != 0 || listen(m_listen_fd, 128) != 0) {
        return Failed("cannot listen on " + path);
    }
    struct stat made;
    if (fstatat(m_dir_fd, m_name.c_str(), &made, AT_SYMLINK_NOFOLLOW) != 0) {
        return Failed(path);
    }
    m_device = made.st_dev;
    m_inode = made.st_ino;
    if (grouped && made.st_gid != group) {
        return path + " would belong to group " + std::to_string(made.st_gid) + ", not group " +
               std::to_string(group) +
               " of the policy: make its directory set-group-ID with "
               "that group (chgrp GROUP DIR; chmod g+s DIR), or run pelkd as root";
    }
    return "";
}

std::string UnixListener::Bind(const std::string& path, bool runtimeDirectory) {
    const size_t slash = path.rfind('/');
    m_name = path.substr(slash + 1);
    std::string problem = OpenDirectory(slash == 0 ? "/" : path.substr(0, slash), runtimeDirectory);
    if (problem.empty()) {
        problem = TakeLock(path);
    }
    if (problem.empty()) {
        problem = BindSocket(path);
    }
    return problem;
}

void UnixListener::Serve(grpc::Server* server) {
    m_stop_fd = eventfd(0, EFD_CLOEXEC);
    m_acceptor = std::thread([this, server] { Accept(server); });
}

void UnixListener::Accept(grpc::Server* server) {
    for (;;) {
        struct pollfd ready[2] = {{m_stop_fd, POLLIN, 0}, {m_listen_fd, POLLIN, 0}};
        if (poll(ready, 2, -1) < 0 || ready[0].revents != 0) {
            if (ready[0].revents != 0) {
                return;
            }
            continue;
        }
        const int fd = accept4(m_listen_fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            if (errno == EMFILE || errno == ENFILE) {
                usleep(100000);  // no descriptor left: try again, not in a busy loop
            }
            continue;
        }
        struct ucred peer;
        socklen_t length = sizeof peer;
        if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0) {
            close(fd);
            continue;
        }
        m_users.Connected(fd, peer.uid);
        grpc::AddInsecureChannelFromFd(server, fd);
    }
}

void UnixListener::Stop() {
    if (m_acceptor.joinable()) {
        const uint64_t one = 1;
        (void)!write(m_stop_fd, &one, sizeof one);
        m_acceptor.join();
    }
    struct stat still;
    if (m_inode != 0 && fstatat(m_dir_fd, m_name.c_str(), &still, AT_SYMLINK_NOFOLLOW) == 0 &&
        still.st_dev == m_device && still.st_ino == m_inode) {
        unlinkat(m_dir_fd, m_name.c_str(), 0);
    }
    m_inode = 0;
}
