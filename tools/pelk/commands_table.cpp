// pelk boards and pelk resolve: the board-identity table and the driver each
// logical board number resolves to.
#include <string>
#include <vector>

#include "tools/common/board_json.h"
#include "tools/common/board_table.h"
#include "tools/common/status.h"
#include "tools/pelk/command.h"
#include "tools/pelk/resolution.h"
#include "tools/pelk/target.h"

namespace {

int RunBoards(Invocation& invocation) {
    Output& out = invocation.out;
    std::vector<OAMSHADOW_BOARD> boards;
    bool qm = false;
    std::string why;
    const int status = invocation.remote.empty()
                           ? ReadBoardTable(&boards, &qm, &why)
                           : ReadRemoteTable(invocation.remote, &boards, &qm, &why);
    if (status != 0) {
        out.Doing("read the board-identity table");
        out.Failure(status, nullptr);
        out.Error(why);
        return kExitFailed;
    }
    out.Fields().Bool("qmPlugin", qm);
    out.Text("qm plug-in: %s\n%-16s %-10s %-8s %-10s %-5s %s\n", qm ? "on" : "off", "name",
             "number", "driver", "board ID", "A-law", "resolves to");
    JsonArray list;
    for (const OAMSHADOW_BOARD& board : boards) {
        const Resolution resolution = ResolveBoard(board.number, invocation.remote);
        list.Obj(BoardJson(board).Obj("resolution", ResolutionJson(resolution)));
        out.Text("%-16s %-10u %-8s %-10s %-5s %s\n", board.name, board.number, board.driverName,
                 JsonQuote(board.driverBoardID).c_str(), board.isUsingALaw ? "yes" : "no",
                 ResolutionText(resolution).c_str());
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
        return out.Usage("N takes 0 to 4294967295, not \"" + word + "\"");
    }
    const Resolution resolution = ResolveBoard(board, invocation.remote);
    out.Fields().Obj("resolution", ResolutionJson(resolution));
    if (resolution.status != 0) {
        ReportUnresolved(out, resolution);
        return kExitFailed;
    }
    out.Text("board %u: %s\n", board, ResolutionText(resolution).c_str());
    return kExitOk;
}

}  // namespace

const Command kBoardsCommand = {
    "boards", "",        "list the board-identity table with the driver each board resolves to",
    {},       false,     0,
    0,        RunBoards, {"pelk boards", "pelk boards --json"}};
const Command kResolveCommand = {
    "resolve", "N",        "the driver type and driver board ID of logical board N",
    {},        false,      1,
    1,         RunResolve, {"pelk resolve 2", "pelk -j resolve 2"}};
