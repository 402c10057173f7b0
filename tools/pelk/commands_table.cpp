// pelk boards and pelk resolve: the board-identity table and the driver each
// logical board number resolves to.
#include <string>
#include <vector>

#include "tools/pelk/command.h"
#include "tools/pelk/options.h"
#include "tools/pelk/status.h"
#include "tools/pelk/target.h"

namespace {

constexpr int kMaxBoards = 1000;

int ResolveBoard(unsigned int board, PELKLIB_DRIVER_TYPE* type, unsigned int* id) {
    PelklibAttachOAM();
    const int status = PelklibGetBoardDriver(board, type, id);
    PelklibDetachOAM();
    return status;
}

JsonObject ResolutionJson(int status, PELKLIB_DRIVER_TYPE type, unsigned int id) {
    JsonObject json;
    json.Obj("status", StatusJson(DescribeStatus(status, nullptr)));
    if (status == 0) {
        json.Int("driverType", type).Str("driver", DriverName(type)).Int("id", id);
    }
    return json;
}

std::string ResolutionText(int status, PELKLIB_DRIVER_TYPE type, unsigned int id) {
    if (status != 0) {
        return StatusLine(DescribeStatus(status, nullptr));
    }
    return "type " + std::to_string(type) + " (" + DriverName(type) + "), ID " +
           std::to_string(id);
}

// Copies the whole table at once, so the list is a table that existed.
int ReadTable(std::vector<OAMSHADOW_BOARD>* boards, bool* qm) {
    int status = oamShadowInit();
    if (status != 0) {
        return status;
    }
    int count = 0;
    boards->resize(kMaxBoards);
    status = oamShadowCopyTable(0, boards->data(), kMaxBoards, &count, qm);
    boards->resize(status == 0 ? static_cast<size_t>(count) : 0);
    oamShadowExit();
    return status;
}

int RunBoards(Invocation& invocation) {
    Output& out = invocation.out;
    std::vector<OAMSHADOW_BOARD> boards;
    bool qm = false;
    const int status = ReadTable(&boards, &qm);
    if (status != 0) {
        out.Status("status", "board-identity table", status, nullptr);
        return kExitFailed;
    }
    out.Fields().Bool("qmPlugin", qm);
    out.Text("qm plug-in: %s\n%-16s %-10s %-8s %-10s %-5s %s\n", qm ? "on" : "off", "name",
             "number", "driver", "board ID", "A-law", "resolves to");
    JsonArray list;
    for (const OAMSHADOW_BOARD& board : boards) {
        JsonObject json;
        json.Str("name", board.name);
        PELKLIB_DRIVER_TYPE type = PELKLIB_DRIVER_QM;
        unsigned int id = 0;
        const int resolved = ResolveBoard(board.number, &type, &id);
        list.Obj(json.Int("number", board.number)
                     .Str("driverName", board.driverName)
                     .Str("driverBoardID", board.driverBoardID)
                     .Bool("aLaw", board.isUsingALaw)
                     .Obj("resolution", ResolutionJson(resolved, type, id)));
        out.Text("%-16s %-10u %-8s %-10s %-5s %s\n", board.name, board.number, board.driverName,
                 JsonQuote(board.driverBoardID).c_str(), board.isUsingALaw ? "yes" : "no",
                 ResolutionText(resolved, type, id).c_str());
    }
    out.Fields().Arr("boards", list);
    out.Text("%zu board(s)\n", boards.size());
    return kExitOk;
}

int RunResolve(Invocation& invocation) {
    Output& out = invocation.out;
    unsigned int board = 0;
    if (!ParseUnsigned(invocation.args.Positional()[0], &board)) {
        out.Error("N must be a decimal board number");
        return kExitUsage;
    }
    PELKLIB_DRIVER_TYPE type = PELKLIB_DRIVER_QM;
    unsigned int id = 0;
    const int status = ResolveBoard(board, &type, &id);
    out.Fields().Int("board", board).Obj("resolution", ResolutionJson(status, type, id));
    out.Text("board %u: %s\n", board, ResolutionText(status, type, id).c_str());
    return status == 0 ? kExitOk : kExitFailed;
}

}  // namespace

const Command kBoardsCommand = {
    "boards", "", "list the board-identity table with the driver each board resolves to",
    {}, false, 0, 0, RunBoards};
const Command kResolveCommand = {
    "resolve", "N", "the driver type and driver board ID of logical board N",
    {}, false, 1, 1, RunResolve};
