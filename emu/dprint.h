// dprint: the emulator backend's only message output, printf-style through
// the library's diagnostic path (services/pelk_log.h), nothing added.
#ifndef PELK_EMU_DPRINT_H
#define PELK_EMU_DPRINT_H

#include <cstdarg>

#include "services/pelk_log.h"

__attribute__((format(printf, 1, 2))) static inline void dprint(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    PelkLogV(format, arguments);
    va_end(arguments);
}

#endif
