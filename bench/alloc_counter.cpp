// Preloaded into a program (LD_PRELOAD) to count its heap allocations from
// outside: every malloc, calloc, realloc and aligned allocation (operator
// new included, which calls malloc) adds one to a 64-bit counter at the start
// of the shared file whose descriptor PELK_ALLOC_COUNTER_FD names. The
// allocations themselves are glibc's own.
#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* block, size_t size);
void* __libc_memalign(size_t alignment, size_t size);
}

namespace {

uint64_t s_beforeMapped = 0;
uint64_t* s_counter = &s_beforeMapped;

void Count() {
    __atomic_add_fetch(s_counter, 1, __ATOMIC_RELAXED);
}

__attribute__((constructor)) void MapCounter() {
    const char* fd = std::getenv("PELK_ALLOC_COUNTER_FD");
    if (fd == nullptr) return;
    void* shared =
        mmap(nullptr, sizeof(uint64_t), PROT_READ | PROT_WRITE, MAP_SHARED, std::atoi(fd), 0);
    if (shared != MAP_FAILED) s_counter = static_cast<uint64_t*>(shared);
}

}  // namespace

extern "C" {

void* malloc(size_t size) {
    Count();
    return __libc_malloc(size);
}

void* calloc(size_t count, size_t size) {
    Count();
    return __libc_calloc(count, size);
}

void* realloc(void* block, size_t size) {
    Count();
    return __libc_realloc(block, size);
}

void* memalign(size_t alignment, size_t size) {
    Count();
    return __libc_memalign(alignment, size);
}

void* aligned_alloc(size_t alignment, size_t size) {
    Count();
    return __libc_memalign(alignment, size);
}

int posix_memalign(void** block, size_t alignment, size_t size) {
    Count();
    void* allocated = __libc_memalign(alignment, size);
    if (allocated == nullptr) return 12;  // ENOMEM
    *block = allocated;
    return 0;
}

}  // extern "C"
