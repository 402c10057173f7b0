// Names and meanings of every status the library returns, as the tools
// show them.
#ifndef PELK_TOOLS_STATUS_H
#define PELK_TOOLS_STATUS_H

#include <string>

#include <pelklib.h>

#include "tools/common/json.h"

struct StatusInfo {
    int code = 0;
    std::string name;         // PKERR_TIMEOUT, ENOENT, OAMSHADOW_ERR_NOT_FOUND, ...
    std::string meaning;      // a short explanation
    std::string libraryText;  // GetErrorText's text; empty without an object
};

// lib may be null; with an object, negative codes also get its text.
StatusInfo DescribeStatus(int code, cPelkLib* lib);

// {"code":-2,"name":"PKERR_TIMEOUT","meaning":"...","text":"PKERR_TIMEOUT"}
JsonObject StatusJson(const StatusInfo& status);
// -2 PKERR_TIMEOUT: no message or board answer within the time-out
std::string StatusLine(const StatusInfo& status);

#endif
