// The names of the driver types, as the board-identity table and the tools
// spell them.
#ifndef PELK_SERVICES_DRIVER_NAMES_H
#define PELK_SERVICES_DRIVER_NAMES_H

#include <pelklib.h>

// "qm", "zb5t", "zbhost", or "unknown" for another value.
const char* DriverName(int type);

// The type named by name, ignoring case; false for a name of no driver.
bool DriverTypeByName(const char* name, PELKLIB_DRIVER_TYPE* type);

#endif
