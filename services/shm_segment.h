// Opening a named POSIX shared-memory segment that several processes may
// open at the same moment.
#ifndef PELK_SERVICES_SHM_SEGMENT_H
#define PELK_SERVICES_SHM_SEGMENT_H

#include <cstddef>

struct ShmSegment {
    void* address;
    size_t size;
    bool created;  // this call sized the segment
};

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
