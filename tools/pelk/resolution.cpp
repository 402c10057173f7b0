#include "tools/pelk/resolution.h"

#include "tools/pelk/status.h"

namespace {

// Room for the longest texts the table holds, with their NUL.
constexpr unsigned int kTextSize = 256;

// The library gives one status for both causes; the table, still attached
// from the resolution, tells them apart.
std::string NoSuchBoardCause(unsigned int board) {
    char name[kTextSize], driverName[kTextSize], driverBoardID[kTextSize];
    if (oamShadowBoardLookupByNumber(0, board, name, sizeof name) == 0 &&
        oamShadowBoardGetDriverIDs(0, name, driverName, sizeof driverName, driverBoardID,
                                   sizeof driverBoardID) == 0) {
        return std::string("board ") + name + " has driver board ID " + JsonQuote(driverBoardID) +
               ", which is not a decimal number";
    }
    return "no board has number " + std::to_string(board) + " in the table";
}

}  // namespace

// One attach for the resolution and the cause of -16.
Resolution ResolveBoard(unsigned int board) {
    Resolution resolution;
    resolution.board = board;
    PelklibAttachOAM();
    resolution.status = PelklibGetBoardDriver(board, &resolution.type, &resolution.id);
    if (resolution.status == PKSTATUS_NO_SUCH_BOARD) {
        resolution.cause = NoSuchBoardCause(board);
    }
    PelklibDetachOAM();
    return resolution;
}

JsonObject ResolutionJson(const Resolution& resolution) {
    JsonObject json;
    json.Int("board", resolution.board)
        .Obj("status", StatusJson(DescribeStatus(resolution.status, nullptr)));
    if (resolution.status == 0) {
        json.Int("driverType", resolution.type)
            .Str("driver", DriverName(resolution.type))
            .Int("id", resolution.id);
    } else if (!resolution.cause.empty()) {
        json.Str("cause", resolution.cause);
    }
    return json;
}

std::string ResolutionText(const Resolution& resolution) {
    if (resolution.status != 0) {
        const StatusInfo status = DescribeStatus(resolution.status, nullptr);
        return resolution.cause.empty()
                   ? StatusLine(status)
                   : std::to_string(status.code) + " " + status.name + ": " + resolution.cause;
    }
    return "type " + std::to_string(resolution.type) + " (" + DriverName(resolution.type) +
           "), ID " + std::to_string(resolution.id);
}
