#include "services/shm_segment.h"

#include "services/pelk_log.h"
#include "services/shared_access.h"
#include "services/standard_descriptors.h"

#include <cerrno>
#include <cstdint>
#include <string>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int MapLocked(int fd, size_t size, ShmSegment* segment, ShmPrepare prepare) {
    struct stat status;
    if (fstat(fd, &status) != 0) {
        return errno;
    }
    bool created = false;
    size_t length = static_cast<size_t>(status.st_size);
    if (status.st_size == 0) {
        if (size == 0) {
            return EINVAL;
        }
        // Every sharing process locks and stores the segment, whatever
        // the creator's umask.
        int error = ShareDescriptor(fd);
        if (error != 0) {
            return error;
        }
        if (ftruncate(fd, static_cast<off_t>(size)) != 0) {
            return errno;
        }
        created = true;
        length = size;
    } else if (static_cast<uint64_t>(status.st_size) > UINT32_MAX) {
        return EFBIG;
    }
    void* address = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (address == MAP_FAILED) {
        return errno;
    }
    int error = prepare ? prepare(address, length) : 0;
    if (error != 0) {
        munmap(address, length);
        return error;
    }
    segment->address = address;
    segment->size = length;
    segment->created = created;
    return 0;
}

// Where the C library keeps POSIX shared-memory objects.
constexpr char kShmDirectory[] = "/dev/shm";

}  // namespace

int OpenSharedMemoryObject(const char* name, int flags, mode_t mode) {
    const std::string path = kShmDirectory + std::string(name);
    const int fd = open(path.c_str(), flags | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd == -1 && errno == ELOOP) {
        PelkLog("Shared memory %s: %s\n", name + 1,
                DescribeOpenFailure(path.c_str(), ELOOP).c_str());
        errno = ELOOP;
    }
    return fd == -1 ? -1 : KeepOffStandardDescriptors(fd);
}

int CheckSharedMemoryObject(int fd, const char* name) {
    const std::string path = kShmDirectory + std::string(name);
    std::string why;
    const int error = CheckSharedObject(fd, SharedKind::File, path.c_str(), &why);
    if (error != 0) {
        PelkLog("Shared memory %s: %s\n", name + 1, why.c_str());
    }
    return error;
}

int OpenShmSegment(const char* name, size_t size, ShmSegment* segment, ShmPrepare prepare) {
    int fd = OpenSharedMemoryObject(name, O_RDWR | O_CREAT, SharedCreateMode());
    if (fd < 0) {
        return errno;
    }
    int error = 0;
    while (flock(fd, LOCK_EX) != 0) {
        if (errno != EINTR) {
            error = errno;
            break;
        }
    }
    if (error == 0) {
        error = CheckSharedMemoryObject(fd, name);
    }
    if (error == 0) {
        error = MapLocked(fd, size, segment, prepare);
    }
    // The mapping keeps the open file alive, so the lock must be released
    // explicitly.
    flock(fd, LOCK_UN);
    close(fd);
    return error;
}
