// Named shared-memory segments on POSIX shared memory (shm_open + mmap).
// Each mapping gets a handle in a small process-wide table that remembers
// the segment's name (to remove it), its mapped size (to bound copies) and
// the process that mapped it: a copy of the table inherited by a child of
// fork never removes the segment.
#include "services/pxi.h"

#include "services/shared_access.h"
#include "services/shm_segment.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <new>

namespace {

struct Mapping {
    uint32_t handle;
    uint32_t size;
    void* address;
    pid_t process;  // the one that mapped it, alone allowed to remove it
    char name[256];
    Mapping* next;
};

// How long an attacher waits for a new segment's size: attempts 1 ms apart.
constexpr int kSizeWaitAttempts = 1000;

std::mutex s_mappingsLock;
Mapping* s_mappings = nullptr;
uint32_t s_lastHandle = 0;

// shm_open wants one leading slash.
bool ObjectName(const char* name, char (&out)[256]) {
    int n = std::snprintf(out, sizeof out, "%s%s", name[0] == '/' ? "" : "/", name);
    return n > 0 && static_cast<size_t>(n) < sizeof out;
}

// Records a new mapping; false when no memory is left for the record.
bool Remember(const char* objectName, uint32_t size, void* address, uint32_t* handle) {
    Mapping* mapping = new (std::nothrow) Mapping;
    if (mapping == nullptr) {
        return false;
    }
    std::snprintf(mapping->name, sizeof mapping->name, "%s", objectName);
    mapping->size = size;
    mapping->address = address;
    mapping->process = getpid();
    std::lock_guard<std::mutex> hold(s_mappingsLock);
    do {
        ++s_lastHandle;
    } while (s_lastHandle == 0);
    mapping->handle = s_lastHandle;
    mapping->next = s_mappings;
    s_mappings = mapping;
    *handle = mapping->handle;
    return true;
}

// Takes the record of handle out of the table; null when there is none.
Mapping* Forget(uint32_t handle) {
    std::lock_guard<std::mutex> hold(s_mappingsLock);
    for (Mapping** link = &s_mappings; *link != nullptr; link = &(*link)->next) {
        if ((*link)->handle == handle) {
            Mapping* found = *link;
            *link = found->next;
            return found;
        }
    }
    return nullptr;
}

uint32_t MapAndRemember(int fd, const char* objectName, uint32_t size, uint32_t* handle,
                        void** address) {
    void* mapped = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (mapped == MAP_FAILED) {
        return static_cast<uint32_t>(errno);
    }
    if (!Remember(objectName, size, mapped, handle)) {
        munmap(mapped, size);
        return ENOMEM;
    }
    *address = mapped;
    return 0;
}

// Waits, under the segment's lock, until its creator has sized it (a
// creator holds the lock from creation to sizing, but an attacher may get
// there between the two). 0 with the size once it has one that 32 bits
// describe. The segment is checked (CheckSharedMemoryObject) once it has a
// size, or when the wait ends without one: until then it may be a
// creator's, not yet handed to the group.
uint32_t SizedLength(int fd, const char* objectName, uint32_t* length) {
    for (int attempt = 0; attempt < kSizeWaitAttempts; ++attempt) {
        if (flock(fd, LOCK_SH) != 0) {
            return static_cast<uint32_t>(errno);
        }
        struct stat status;
        int error = fstat(fd, &status) == 0 ? 0 : errno;
        if (error == 0 && (status.st_size > 0 || attempt + 1 == kSizeWaitAttempts)) {
            error = CheckSharedMemoryObject(fd, objectName);
        }
        flock(fd, LOCK_UN);
        if (error != 0) {
            return static_cast<uint32_t>(error);
        }
        if (status.st_size > static_cast<off_t>(UINT32_MAX)) {
            return EFBIG;
        }
        if (status.st_size > 0) {
            *length = static_cast<uint32_t>(status.st_size);
            return 0;
        }
        const struct timespec pause = {0, 1000000};
        nanosleep(&pause, nullptr);
    }
    return EINVAL;  // left empty by whoever made it
}

uint32_t Release(uint32_t* handle, void** address, bool removeName) {
    Mapping* mapping = Forget(*handle);
    if (mapping == nullptr) {
        return EINVAL;
    }
    munmap(mapping->address, mapping->size);
    uint32_t result = 0;
    if (removeName && mapping->process == getpid() && shm_unlink(mapping->name) != 0) {
        result = static_cast<uint32_t>(errno);
    }
    delete mapping;
    *handle = 0;
    *address = nullptr;
    return result;
}

}  // namespace

uint32_t pxiAllocShMem(const char* name, uint32_t size, uint32_t* handle, void** address) {
    char objectName[256];
    if (!ObjectName(name, objectName)) {
        return ENAMETOOLONG;
    }
    if (size == 0) {
        return EINVAL;
    }
    int fd = OpenSharedMemoryObject(objectName, O_RDWR | O_CREAT | O_EXCL, SharedCreateMode());
    if (fd == -1) {
        return errno == EEXIST ? PXI_SHMEM_EXISTS : static_cast<uint32_t>(errno);
    }
    // Sized under the segment's lock, so an attacher waits for the size.
    // Shared as the access policy says, whatever the umask.
    uint32_t result = 0;
    if (flock(fd, LOCK_EX) != 0) {
        result = static_cast<uint32_t>(errno);
    } else if ((result = static_cast<uint32_t>(ShareDescriptor(fd))) != 0) {
    } else if (ftruncate(fd, static_cast<off_t>(size)) != 0) {
        result = static_cast<uint32_t>(errno);
    } else {
        result = MapAndRemember(fd, objectName, size, handle, address);
    }
    // The mapping keeps the open file alive: the lock is released by hand.
    flock(fd, LOCK_UN);
    close(fd);
    if (result != 0) {
        shm_unlink(objectName);
    }
    return result;
}

uint32_t pxiAttachShMem(const char* name, uint32_t* handle, void** address) {
    char objectName[256];
    if (!ObjectName(name, objectName)) {
        return ENAMETOOLONG;
    }
    int fd = OpenSharedMemoryObject(objectName, O_RDWR, 0);
    if (fd == -1) {
        return static_cast<uint32_t>(errno);
    }
    uint32_t length = 0;
    uint32_t result = SizedLength(fd, objectName, &length);
    if (result == 0) {
        result = MapAndRemember(fd, objectName, length, handle, address);
    }
    close(fd);
    return result;
}

uint32_t pxiDetachShMem(uint32_t* handle, void** address) {
    return Release(handle, address, false);
}

uint32_t pxiDeallocShMem(uint32_t* handle, void** address) {
    return Release(handle, address, true);
}

uint32_t pxiShMemSize(uint32_t handle) {
    std::lock_guard<std::mutex> hold(s_mappingsLock);
    for (const Mapping* mapping = s_mappings; mapping != nullptr; mapping = mapping->next) {
        if (mapping->handle == handle) {
            return mapping->size;
        }
    }
    return 0;
}
