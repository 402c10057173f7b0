#include "emu/system_calls.h"

#include <fcntl.h>
#include <unistd.h>

EmuSystemCalls g_emuSystemCalls = {::open, ::close, ::read, ::write, ::poll, ::fcntl};
