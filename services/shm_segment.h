// Opening a named POSIX shared-memory segment that several processes may
// open at the same moment.
#ifndef PELK_SERVICES_SHM_SEGMENT_H
#define PELK_SERVICES_SHM_SEGMENT_H

#include <cstddef>

#include <sys/types.h>

struct ShmSegment {
    void* address;
    size_t size;
    bool created;  // this call sized the segment
};

// Opens the shared-memory object `name` ("/...") as shm_open does (the file
// of that name in /dev/shm, read/write: a FIFO planted there does not block
// it), but never through a symbolic link (reported in the library's log),
// close-on-exec and off descriptors 0 to 2. The descriptor, or -1 with
// errno.
int OpenSharedMemoryObject(const char* name, int flags, mode_t mode);

// Checks the object `name` open on fd (CheckSharedObject) once whoever
// made it is done with it (under its lock, or once it has its size): 0, or
// EACCES with the refusal reported in the library's log.
int CheckSharedMemoryObject(int fd, const char* name);

// Runs once per opening, under the segment's lock, on the mapped bytes.
// Returns 0, or an errno value that fails the opening.
typedef int (*ShmPrepare)(void* address, size_t size);

// Opens (creating if needed) and maps the segment `name` ("/..."). An
// exclusive file lock on the segment serialises openers: the one that finds
// it empty sizes it to `size` bytes of zeros; the others map the size it
// has. `prepare`, when given, runs before the lock is released. Returns 0 or
// the errno of the failed step (nothing stays mapped then).
int OpenShmSegment(const char* name, size_t size, ShmSegment* segment,
                   ShmPrepare prepare = nullptr);

#endif
