#include "emu/system_calls.h"

#include <fcntl.h>
#include <unistd.h>

EmuSystemCalls g_emuSystemCalls = {::open,   ::close,    ::read, ::write, ::readv,
                                   ::writev, ::pwritev2, ::poll, ::fcntl};
