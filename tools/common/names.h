// Names of the library's own statuses (with their meanings) and of its driver
// types, shared by pelk and the Python module.
#ifndef PELK_TOOLS_COMMON_STATUS_NAMES_H
#define PELK_TOOLS_COMMON_STATUS_NAMES_H

#include <cstddef>

struct NamedStatus {
    int code;
    const char* name;
    const char* meaning;
};

// Every named status, 0 ("OK") first.
extern const NamedStatus kNamedStatuses[];
extern const size_t kNamedStatusCount;

// The entry of code, or nullptr for a code that is not the library's own.
const NamedStatus* FindNamedStatus(int code);

// "qm", "zb5t", "zbhost", or "unknown" for another value.
const char* DriverName(int type);

#endif
