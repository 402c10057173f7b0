#include "unix/system_calls.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

UnixSystemCalls g_unixSystemCalls = {::open, ::fcntl, ::close, ::ioctl, ::poll};
