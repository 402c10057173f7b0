#include "python/table.h"

#include <mutex>
#include <vector>

#include <pybind11/eval.h>

#include "python/errors.h"

namespace py = pybind11;

namespace {

// Attaching and detaching are process-wide, so table calls from several
// Python threads take turns.
std::mutex g_tableMutex;

// Room for the longest texts the table holds, with their NUL.
constexpr unsigned int kTextSize = 256;
constexpr int kMaxBoards = 1000;

struct BoardEntry {
    std::string name;
    uint32_t number = 0;
    std::string driverName;
    std::string driverBoardID;
    bool aLaw = false;
};

// Every board of the table; 0 or the status of the first lookup that failed.
int ReadBoardTable(std::vector<BoardEntry>* boards) {
    int status = oamShadowInit();
    for (int index = 0; status == 0 && index < kMaxBoards; ++index) {
        BoardEntry entry;
        char name[kTextSize], driverName[kTextSize], driverBoardID[kTextSize];
        status = oamShadowBoardEnum(0, index, name, sizeof name);
        if (status == OAMSHADOW_ERR_NOT_FOUND) {
            status = 0;
            break;
        }
        if (status == 0) {
            entry.name = name;
            status = oamShadowBoardGetNumber(0, name, &entry.number);
        }
        if (status == 0) {
            status = oamShadowBoardGetDriverIDs(0, name, driverName, sizeof driverName,
                                                driverBoardID, sizeof driverBoardID);
        }
        if (status == 0) {
            entry.driverName = driverName;
            entry.driverBoardID = driverBoardID;
            status = oamShadowBoardIsUsingALaw(0, name, &entry.aLaw);
        }
        if (status == 0) {
            boards->push_back(entry);
        }
    }
    oamShadowExit();
    return status;
}

const char* DriverName(PELKLIB_DRIVER_TYPE type) {
    switch (type) {
        case PELKLIB_DRIVER_QM: return "qm";
        case PELKLIB_DRIVER_ZB5T: return "zb5t";
        case PELKLIB_DRIVER_ZBHOST: return "zbhost";
    }
    return "unknown";
}

py::list Boards() {
    std::vector<BoardEntry> boards;
    int status;
    {
        py::gil_scoped_release released;
        std::lock_guard<std::mutex> lock(g_tableMutex);
        status = ReadBoardTable(&boards);
    }
    Check(status);
    const py::object entryClass = py::module_::import("pelk").attr("BoardEntry");
    py::list list;
    for (const BoardEntry& board : boards) {
        list.append(entryClass(board.name, board.number, board.driverName, board.driverBoardID,
                               board.aLaw));
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

Resolution ResolveBoard(unsigned int number) {
    Resolution resolution = {PELKLIB_DRIVER_QM, "", 0};
    int status;
    {
        py::gil_scoped_release released;
        std::lock_guard<std::mutex> lock(g_tableMutex);
        PelklibAttachOAM();
        status = PelklibGetBoardDriver(number, &resolution.type, &resolution.id);
        PelklibDetachOAM();
    }
    Check(status);
    resolution.driver = DriverName(resolution.type);
    return resolution;
}

void DefineTable(py::module_& module) {
    py::exec(kBoardEntry, module.attr("__dict__"));
    module.def("boards", &Boards,
               "Every board of the board-identity table, in the table's order, as BoardEntry "
               "tuples. Raises pelk.Error when there is no table (OAMSHADOW_ERR_UNAVAILABLE).");
    module.def(
        "resolve",
        [](unsigned int number) {
            const Resolution resolution = ResolveBoard(number);
            return py::make_tuple(resolution.driver, resolution.id);
        },
        py::arg("number"),
        "The driver (\"zb5t\", \"zbhost\" or \"qm\") and driver board ID of a logical board "
        "number, as (driver, id). Raises pelk.NoSuchBoard when the table has no such board "
        "or its ID is not decimal, pelk.Error for other failures.");
}
