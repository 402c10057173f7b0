// One board of the board-identity table in the JSON every tool writes:
// {"name","number","driverName","driverBoardID","aLaw"}.
#ifndef PELK_TOOLS_BOARD_JSON_H
#define PELK_TOOLS_BOARD_JSON_H

#include <cstdint>
#include <string>

#include <pelklib.h>

#include "tools/common/json.h"

JsonObject BoardJson(const std::string& name, uint32_t number, const std::string& driverName,
                     const std::string& driverBoardID, bool aLaw);
JsonObject BoardJson(const OAMSHADOW_BOARD& board);

#endif
