#include "wire/pem_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

constexpr off_t kMaxPemFile = 1 << 20;

std::string Problem(const char* path, const char* what) {
    return std::string(path) + ": " + what;
}

}  // namespace

std::string ReadPemFile(const char* path, PemKind kind, std::string* pem) {
    // Not blocking: a FIFO in place of the file must not hold the caller.
    const int fd = open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd == -1) {
        return Problem(path, std::strerror(errno));
    }
    struct stat status;
    std::string problem;
    if (fstat(fd, &status) != 0) {
        problem = Problem(path, std::strerror(errno));
    } else if (!S_ISREG(status.st_mode)) {
        problem = Problem(path, "not a regular file");
    } else if (status.st_size > kMaxPemFile) {
        problem = Problem(path, "larger than the 1 MiB a PEM file may have");
    } else if (kind == PemKind::PrivateKey && (status.st_mode & 0007) != 0) {
        char text[160];
        std::snprintf(text, sizeof text,
                      "a private key that others may use (mode %04o): chmod o= %s",
                      static_cast<unsigned>(status.st_mode & 07777), path);
        problem = Problem(path, text);
    }
    std::string content;
    while (problem.empty()) {
        char block[8192];
        const ssize_t got = read(fd, block, sizeof block);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            problem = Problem(path, std::strerror(errno));
        } else if (got == 0) {
            break;
        } else if (content.size() + static_cast<size_t>(got) > static_cast<size_t>(kMaxPemFile)) {
            problem = Problem(path, "larger than the 1 MiB a PEM file may have");
        } else {
            content.append(block, static_cast<size_t>(got));
        }
    }
    close(fd);
    if (problem.empty()) {
        pem->swap(content);
    }
    return problem;
}
