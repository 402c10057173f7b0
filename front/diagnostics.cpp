// The exported entry to the library's diagnostic path, and its version.
#include <pelklib.h>

#include "services/pelk_log.h"

extern "C" void pelkSetLogCallback(pelk_log_callback callback, void* user) {
    PelkLogSetCallback(callback, user);
}

extern "C" const char* pelklibVersion(void) {
    return PELK_VERSION_TEXT;
}
