// OS services the library calls: sleeping, shared memory, text comparison.
#ifndef PELK_SERVICES_PXI_H
#define PELK_SERVICES_PXI_H

#include <cstdint>

// Sleeps for ms milliseconds. Returns 0 once the whole interval has passed,
// otherwise the milliseconds still to wait when a signal cut it short.
uint32_t pxiSleepMs(uint32_t ms);

// Compares two texts ignoring case: negative, zero or positive as a sorts
// before, equal to or after b.
int pxiStricmp(const char* a, const char* b);

#endif
