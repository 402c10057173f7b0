// dprint: the emulator backend's only message output, printf-style on
// standard output, nothing added and no flush. Each source file that
// includes this gets its own file-static copy.
#ifndef PELK_EMU_DPRINT_H
#define PELK_EMU_DPRINT_H

#include <cstdarg>
#include <cstdio>

__attribute__((format(printf, 1, 2))) static inline void dprint(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    std::vprintf(format, arguments);
    va_end(arguments);
}

#endif
