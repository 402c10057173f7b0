// OS services the library calls: sleeping, shared memory, text comparison.
#ifndef PELK_SERVICES_PXI_H
#define PELK_SERVICES_PXI_H

#include <cstdint>

// Sleeps for ms milliseconds. Returns 0 once the whole interval has passed,
// otherwise the milliseconds still to wait when a signal cut it short.
uint32_t pxiSleepMs(uint32_t ms);

// Named shared-memory segments. A handle of 0 stands for no segment; every
// mapping is read/write and shared with every process using the name.
constexpr uint32_t PXI_SHMEM_EXISTS = 0xF0006;

// Creates the segment `name` of `size` bytes (zero-filled) and maps it.
// 0 on success; PXI_SHMEM_EXISTS when a segment of that name exists already;
// otherwise an errno value. handle and address are written only on success.
uint32_t pxiAllocShMem(const char* name, uint32_t size, uint32_t* handle, void** address);
// Maps the existing segment `name` in its whole size. 0 or an errno value.
uint32_t pxiAttachShMem(const char* name, uint32_t* handle, void** address);
// Unmaps the segment; handle and address become 0 and null.
uint32_t pxiDetachShMem(uint32_t* handle, void** address);
// Unmaps the segment and removes its name from the system, when the
// process that mapped it calls; in a child of fork it only unmaps.
uint32_t pxiDeallocShMem(uint32_t* handle, void** address);
// Mapped size in bytes of the segment behind handle; 0 for an unknown handle.
uint32_t pxiShMemSize(uint32_t handle);

// Compares two texts ignoring case: negative, zero or positive as a sorts
// before, equal to or after b.
int pxiStricmp(const char* a, const char* b);

#endif
