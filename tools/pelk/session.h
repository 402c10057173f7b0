// An opened board-access object for a command, and the printing of statuses.
#ifndef PELK_TOOL_SESSION_H
#define PELK_TOOL_SESSION_H

#include <memory>
#include <string>

#include <pelklib.h>

struct PelkDeleter {
    void operator()(cPelkLib* lib) const { deletePelkLib(lib); }
};
using PelkHandle = std::unique_ptr<cPelkLib, PelkDeleter>;

// A new object of the driver type; null (with a message) when the type has
// no backend.
PelkHandle CreateBoard(PELKLIB_DRIVER_TYPE driver);
// A new object, opened; null (with a message) when it cannot be opened.
PelkHandle OpenBoard(PELKLIB_DRIVER_TYPE driver);

// "PKERR_TIMEOUT (-2)" and the like, in the library's own words.
std::string StatusText(cPelkLib& lib, int status);
const char* DriverName(PELKLIB_DRIVER_TYPE driver);

// Parses a whole unsigned decimal number; false when text is not one.
bool ParseNumber(const std::string& text, unsigned int* value);

#endif
