#include "python/table.h"

#include <mutex>
#include <vector>

#include <pybind11/eval.h>
#include <pybind11/stl.h>

#include "python/diagnostics.h"
#include "python/errors.h"
#include "services/driver_names.h"
#include "services/shm_presence.h"

namespace py = pybind11;

namespace {

// Attaching and detaching are process-wide, so table calls from several
// Python threads take turns.
std::mutex g_tableMutex;

// Attaching makes a table where there is none, so the table's segment is
// looked for first: no table raises OAMSHADOW_ERR_UNAVAILABLE saying why.
void CheckTableExists() {
    const std::string missing = MissingBoardTable();
    if (!missing.empty()) {
        RaiseStatus(OAMSHADOW_ERR_UNAVAILABLE, missing);
    }
}

// The whole table, copied under one hold of its mutex (through the pelkd at
// remote when given); 0 or the status.
int ReadBoardTable(const std::optional<std::string>& remote, std::vector<OAMSHADOW_BOARD>* boards) {
    int status = remote ? 0 : oamShadowInit();
    if (status != 0) {
        return status;
    }
    int count = 0;
    // Asks the size first; the table may grow before the copy.
    do {
        boards->resize(static_cast<size_t>(count));
        status =
            remote ? PelklibRemoteCopyTable(remote->c_str(), boards->data(), count, &count, nullptr)
                   : oamShadowCopyTable(0, boards->data(), count, &count, nullptr);
    } while (status == OAMSHADOW_ERR_UNAVAILABLE && static_cast<size_t>(count) > boards->size());
    boards->resize(status == 0 ? static_cast<size_t>(count) : 0);
    if (!remote) {
        oamShadowExit();
    }
    return status;
}

py::list Boards(const std::optional<std::string>& remote) {
    if (!remote) {
        CheckTableExists();
    }
    std::vector<OAMSHADOW_BOARD> boards;
    int status;
    {
        py::gil_scoped_release released;
        std::lock_guard<std::mutex> lock(g_tableMutex);
        ForgetDiagnostic();
        status = ReadBoardTable(remote, &boards);
    }
    if (status == OAMSHADOW_ERR_UNAVAILABLE && !remote) {
        RaiseStatus(status, UnopenedBoardTable());
    }
    Check(status);
    const py::object entryClass = py::module_::import("pelk").attr("BoardEntry");
    py::list list;
    for (const OAMSHADOW_BOARD& board : boards) {
        list.append(entryClass(board.name, board.number, board.driverName, board.driverBoardID,
                               board.isUsingALaw));
    }
    return list;
}

const char* const kBoardEntry = R"(
import collections as _collections

BoardEntry = _collections.namedtuple(
    "BoardEntry", ["name", "number", "driver", "driver_board_id", "alaw"])
BoardEntry.__doc__ = """One board of the board-identity table: its name, logical number,
driver name, board ID within that driver (text, as the table holds it) and
whether it uses A-law."""
del _collections
)";

}  // namespace

Resolution ResolveBoard(unsigned int number, const std::optional<std::string>& remote) {
    if (!remote) {
        CheckTableExists();
    }
    Resolution resolution = {PELKLIB_DRIVER_QM, "", 0};
    int status;
    {
        py::gil_scoped_release released;
        std::lock_guard<std::mutex> lock(g_tableMutex);
        ForgetDiagnostic();
        if (remote) {
            status = PelklibRemoteGetBoardDriver(remote->c_str(), number, &resolution.type,
                                                 &resolution.id);
        } else {
            PelklibAttachOAM();
            status = PelklibGetBoardDriver(number, &resolution.type, &resolution.id);
            PelklibDetachOAM();
        }
    }
    if (status == PKSTATUS_OAM_NOT_ATTACHED && !remote) {
        RaiseStatus(status, UnopenedBoardTable());
    }
    Check(status);
    resolution.driver = DriverName(resolution.type);
    return resolution;
}

void DefineTable(py::module_& module) {
    py::exec(kBoardEntry, module.attr("__dict__"));
    module.def(
        "boards", &Boards, py::arg("remote") = py::none(),
        "Every board of the board-identity table, in the table's order, as BoardEntry "
        "tuples; with remote=\"unix:PATH\" or \"HOST:PORT\", the table of that pelkd's "
        "host. Raises pelk.Error with OAMSHADOW_ERR_UNAVAILABLE, saying why, when there is no "
        "table or pelkd cannot be reached; looking never makes a table.");
    module.def(
        "resolve",
        [](unsigned int number, const std::optional<std::string>& remote) {
            const Resolution resolution = ResolveBoard(number, remote);
            return py::make_tuple(resolution.driver, resolution.id);
        },
        py::arg("number"), py::arg("remote") = py::none(),
        "The driver (\"zb5t\", \"zbhost\" or \"qm\") and driver board ID of a logical board "
        "number, as (driver, id); with remote, in the table of that pelkd's host. Raises "
        "pelk.NoSuchBoard when the table has no such board or its ID is not decimal, pelk.Error "
        "with OAMSHADOW_ERR_UNAVAILABLE when there is no table, pelk.Error for other failures.");
}
