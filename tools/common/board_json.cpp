#include "tools/common/board_json.h"

JsonObject BoardJson(const std::string& name, uint32_t number, const std::string& driverName,
                     const std::string& driverBoardID, bool aLaw) {
    JsonObject json;
    json.Str("name", name)
        .Int("number", number)
        .Str("driverName", driverName)
        .Str("driverBoardID", driverBoardID)
        .Bool("aLaw", aLaw);
    return json;
}

JsonObject BoardJson(const OAMSHADOW_BOARD& board) {
    return BoardJson(board.name, board.number, board.driverName, board.driverBoardID,
                     board.isUsingALaw);
}
