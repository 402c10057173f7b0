#include "tools/pelk/resolution.h"

#include "services/shm_presence.h"
#include "tools/common/status.h"

namespace {

constexpr int kMaxBoards = 1000;

// Room for the longest texts the table holds, with their NUL.
constexpr unsigned int kTextSize = 256;

std::string NotDecimal(const char* name, const char* driverBoardID) {
    return std::string("board ") + name + " has driver board ID " + JsonQuote(driverBoardID) +
           ", which is not a decimal number";
}

// The library gives one status for both causes; the table, still attached
// from the resolution, tells them apart.
std::string NoSuchBoardCause(unsigned int board) {
    char name[kTextSize], driverName[kTextSize], driverBoardID[kTextSize];
    if (oamShadowBoardLookupByNumber(0, board, name, sizeof name) == 0 &&
        oamShadowBoardGetDriverIDs(0, name, driverName, sizeof driverName, driverBoardID,
                                   sizeof driverBoardID) == 0) {
        return NotDecimal(name, driverBoardID);
    }
    return "no board has number " + std::to_string(board) + " in the table";
}

std::string RemoteTableUnavailable(const std::string& remote) {
    return "no board-identity table from pelkd at " + remote +
           ": its host has none, or pelkd cannot be reached";
}

// The same, from a copy of the table of pelkd's host.
std::string RemoteNoSuchBoardCause(unsigned int board, const std::string& remote) {
    std::vector<OAMSHADOW_BOARD> boards;
    bool qm;
    if (ReadRemoteTable(remote, &boards, &qm, nullptr) == 0) {
        for (const OAMSHADOW_BOARD& entry : boards) {
            if (entry.number == board) {
                return NotDecimal(entry.name, entry.driverBoardID);
            }
        }
    }
    return "no board has number " + std::to_string(board) + " in the table";
}

}  // namespace

int ReadRemoteTable(const std::string& remote, std::vector<OAMSHADOW_BOARD>* boards, bool* qm,
                    std::string* why) {
    int count = 0;
    boards->resize(kMaxBoards);
    const int status =
        PelklibRemoteCopyTable(remote.c_str(), boards->data(), kMaxBoards, &count, qm);
    boards->resize(status == 0 ? static_cast<size_t>(count) : 0);
    if (status != 0 && why != nullptr) {
        *why = status == OAMSHADOW_ERR_UNAVAILABLE
                   ? RemoteTableUnavailable(remote)
                   : "cannot read the board-identity table of pelkd at " + remote;
    }
    return status;
}

// One attach for the resolution and the cause of -16.
Resolution ResolveBoard(unsigned int board, const std::string& remote) {
    Resolution resolution;
    resolution.board = board;
    if (!remote.empty()) {
        resolution.status =
            PelklibRemoteGetBoardDriver(remote.c_str(), board, &resolution.type, &resolution.id);
        if (resolution.status == PKSTATUS_NO_SUCH_BOARD) {
            resolution.cause = RemoteNoSuchBoardCause(board, remote);
        } else if (resolution.status == OAMSHADOW_ERR_UNAVAILABLE) {
            resolution.cause = RemoteTableUnavailable(remote);
        }
        return resolution;
    }
    resolution.cause = MissingBoardTable();
    if (!resolution.cause.empty()) {
        resolution.status = OAMSHADOW_ERR_UNAVAILABLE;
        return resolution;
    }
    PelklibAttachOAM();
    resolution.status = PelklibGetBoardDriver(board, &resolution.type, &resolution.id);
    if (resolution.status == PKSTATUS_NO_SUCH_BOARD) {
        resolution.cause = NoSuchBoardCause(board);
    } else if (resolution.status == PKSTATUS_OAM_NOT_ATTACHED) {
        resolution.cause = UnopenedBoardTable();
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
        StatusInfo status = DescribeStatus(resolution.status, nullptr);
        status.meaning = resolution.cause.empty() ? status.meaning : resolution.cause;
        return StatusLine(status);
    }
    return "type " + std::to_string(resolution.type) + " (" + DriverName(resolution.type) +
           "), ID " + std::to_string(resolution.id);
}

void ReportUnresolved(Output& out, const Resolution& resolution) {
    out.Doing("resolve board " + std::to_string(resolution.board));
    out.Failure(resolution.status, nullptr);
    out.Error("board " + std::to_string(resolution.board) + ": " + ResolutionText(resolution));
}
