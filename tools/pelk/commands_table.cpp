// pelk boards and pelk resolve: the board-identity table and the driver each
// logical board number resolves to.
#include <string>
#include <vector>

#include "tools/pelk/command.h"
#include "tools/pelk/options.h"
#include "tools/pelk/resolution.h"
#include "tools/pelk/status.h"
#include "tools/pelk/target.h"

namespace {

// Room for the longest texts the table holds, with their NUL.
constexpr unsigned int kTextSize = 256;
constexpr int kMaxBoards = 1000;

struct BoardRecord {
    std::string name;
    uint32_t number = 0;
    std::string driverName;
    std::string driverBoardID;
    bool aLaw = false;
    int lookupStatus = 0;  // of the lookups by name
};

// Reads every record through the enumeration; the status of the first
// failing enumeration, or 0.
int ReadTable(std::vector<BoardRecord>* boards, bool* qm) {
    int status = oamShadowInit();
    if (status != 0) {
        return status;
    }
    status = oamShadowBoardGetIsUsingQmPlugin(0, qm);
    for (int index = 0; status == 0 && index < kMaxBoards; ++index) {
        char name[kTextSize];
        status = oamShadowBoardEnum(0, index, name, sizeof name);
        if (status == OAMSHADOW_ERR_NOT_FOUND) {
            status = 0;
            break;
        }
        if (status != 0) {
            break;
        }
        BoardRecord board;
        board.name = name;
        char driverName[kTextSize], driverBoardID[kTextSize];
        board.lookupStatus = oamShadowBoardGetNumber(0, name, &board.number);
        if (board.lookupStatus == 0) {
            board.lookupStatus = oamShadowBoardGetDriverIDs(0, name, driverName, sizeof driverName,
                                                            driverBoardID, sizeof driverBoardID);
        }
        if (board.lookupStatus == 0) {
            board.driverName = driverName;
            board.driverBoardID = driverBoardID;
            board.lookupStatus = oamShadowBoardIsUsingALaw(0, name, &board.aLaw);
        }
        boards->push_back(board);
    }
    oamShadowExit();
    return status;
}

int RunBoards(Invocation& invocation) {
    Output& out = invocation.out;
    std::vector<BoardRecord> boards;
    bool qm = false;
    const int status = ReadTable(&boards, &qm);
    if (status != 0) {
        out.Status("status", "board-identity table", status, nullptr);
        if (status == OAMSHADOW_ERR_UNAVAILABLE) {
            out.Error("there is no board-identity table on this host (its OAM supervisor, or "
                      "oamtab, writes it)");
        }
        return kExitFailed;
    }
    out.Fields().Bool("qmPlugin", qm);
    out.Text("qm plug-in: %s\n%-16s %-10s %-8s %-10s %-5s %s\n", qm ? "on" : "off", "name",
             "number", "driver", "board ID", "A-law", "resolves to");
    JsonArray list;
    for (const BoardRecord& board : boards) {
        JsonObject json;
        json.Str("name", board.name);
        if (board.lookupStatus != 0) {
            const StatusInfo lookup = DescribeStatus(board.lookupStatus, nullptr);
            list.Obj(json.Obj("lookupStatus", StatusJson(lookup)));
            out.Text("%-16s lookup failed: %s\n", board.name.c_str(), StatusLine(lookup).c_str());
            continue;
        }
        const Resolution resolution = ResolveBoard(board.number);
        list.Obj(json.Int("number", board.number)
                     .Str("driverName", board.driverName)
                     .Str("driverBoardID", board.driverBoardID)
                     .Bool("aLaw", board.aLaw)
                     .Obj("resolution", ResolutionJson(resolution)));
        out.Text("%-16s %-10u %-8s %-10s %-5s %s\n", board.name.c_str(), board.number,
                 board.driverName.c_str(), JsonQuote(board.driverBoardID).c_str(),
                 board.aLaw ? "yes" : "no", ResolutionText(resolution).c_str());
    }
    out.Fields().Arr("boards", list);
    if (boards.empty()) {
        out.Text("the board-identity table holds no boards\n");
    } else {
        out.Text("%zu board(s)\n", boards.size());
    }
    return kExitOk;
}

int RunResolve(Invocation& invocation) {
    Output& out = invocation.out;
    unsigned int board = 0;
    const std::string& word = invocation.args.Positional()[0];
    if (!ParseUnsigned(word, &board)) {
        out.Error("N takes 0 to 4294967295, not \"" + word + "\"");
        return kExitUsage;
    }
    const Resolution resolution = ResolveBoard(board);
    out.Fields().Obj("resolution", ResolutionJson(resolution));
    out.Text("board %u: %s\n", board, ResolutionText(resolution).c_str());
    if (resolution.status != 0) {
        out.Doing("resolve board " + std::to_string(board));
        out.Failure(resolution.status, nullptr);
        out.Error(resolution.cause.empty() ? DescribeStatus(resolution.status, nullptr).meaning
                                           : resolution.cause);
    }
    return resolution.status == 0 ? kExitOk : kExitFailed;
}

}  // namespace

const Command kBoardsCommand = {
    "boards", "", "list the board-identity table with the driver each board resolves to",
    {}, false, 0, 0, RunBoards};
const Command kResolveCommand = {
    "resolve", "N", "the driver type and driver board ID of logical board N",
    {}, false, 1, 1, RunResolve};
