// The Python names of pelk.Board: messages and board operations.
#include <optional>
#include <string>
#include <vector>

#include <pybind11/stl.h>

#include "python/board.h"
#include "python/errors.h"

namespace py = pybind11;

namespace {

constexpr unsigned int kMaxDetected = 4096;

// A board operation's board: the one given, or the Board's own ID.
using BoardArgument = std::optional<unsigned int>;
unsigned int Chosen(const Board& board, BoardArgument given) {
    return given ? *given : board.id();
}

void CheckLength(uint64_t length, uint64_t maximum, const char* what) {
    if (length > maximum) {
        throw py::value_error(std::string(what) + " takes at most " + std::to_string(maximum) +
                              ", not " + std::to_string(length));
    }
}

py::bytes ReadEeprom(Board& board, unsigned int id, unsigned int offset, unsigned int length) {
    CheckLength(length, kMaxAreaLen, "length");
    std::string area(length, '\0');
    unsigned int count = 0;
    Check(board.Call(
        [&](cPelkLib& lib) { return lib.ReadEEPROM(id, offset, length, &area[0], &count); }));
    area.resize(std::min(count, length));
    return py::bytes(area);
}

py::tuple BoardMapping(Board& board, BoardArgument given) {
    const unsigned int id = Chosen(board, given);
    PK_BOARD_MAPPING mapping = {};
    Check(board.Call(
        [&](cPelkLib& lib) { return lib.GetBoardMapping(id, sizeof mapping, &mapping); }));
    return py::make_tuple(mapping.size, mapping.word1, mapping.word2, mapping.word3, mapping.word4,
                          mapping.word5);
}

py::bytes GetBoardData(Board& board, BoardArgument given, unsigned int size) {
    const unsigned int id = Chosen(board, given);
    CheckLength(size, kMaxAreaLen, "size");
    std::string area(size, '\0');
    unsigned int count = 0;
    Check(board.Call([&](cPelkLib& lib) { return lib.GetBoardData(id, size, &area[0], &count); }));
    area.resize(std::min(count, size));
    return py::bytes(area);
}

unsigned int SetBoardData(Board& board, unsigned int id, const py::bytes& data) {
    std::string bytes = data;
    CheckLength(bytes.size(), kMaxAreaLen, "data");
    unsigned int count = 0;
    Check(board.Call([&](cPelkLib& lib) {
        return lib.SetBoardData(id, static_cast<unsigned int>(bytes.size()), &bytes[0], &count);
    }));
    return count;
}

std::vector<std::pair<unsigned int, unsigned int>> Detect(Board& board, unsigned int maximum) {
    CheckLength(maximum, kMaxDetected, "maximum");
    std::vector<unsigned int> first(maximum), second(maximum);
    unsigned int count = 0;
    Check(board.Call([&](cPelkLib& lib) {
        return lib.DetectBoards(maximum, first.data(), second.data(), &count);
    }));
    std::vector<std::pair<unsigned int, unsigned int>> boards;
    for (unsigned int i = 0; i < count && i < maximum; ++i) {
        boards.emplace_back(first[i], second[i]);
    }
    return boards;
}

py::bytes Stats(Board& board, unsigned int selector1, unsigned int selector2) {
    PK_GET_DRVR_STATS stats = {};
    stats.selector1 = selector1;
    stats.selector2 = selector2;
    unsigned int count = 0;
    Check(board.Call([&](cPelkLib& lib) {
        return lib.GetDriverStats(selector1, selector2, sizeof stats, &stats, &count);
    }));
    return py::bytes(reinterpret_cast<const char*>(&stats), std::min<size_t>(count, sizeof stats));
}

}  // namespace

void DefineBoard(py::module_& module) {
    const auto dst = py::arg("dst") = std::pair<uint32_t, uint32_t>(0, 0);
    // The board of a board operation: this Board's own ID unless given.
    const auto board = py::arg("board") = py::none();
    py::class_<Board, std::unique_ptr<Board>>(
        module, "Board",
        "An opened connection to a board driver: \"zbhost\" (the board emulator) or \"zb5t\" "
        "(the kernel driver). Use it in a with statement, or call close(), to give its "
        "descriptors back. One Board serves one call at a time; give each thread its own "
        "Board to work in parallel.")
        .def(py::init(&Board::ByDriver), py::arg("driver") = "zbhost",
             py::arg("size") = PK_MAX_HEADER_LEN, py::arg("remote") = py::none(),
             "Opens a board of this driver; size is the largest header the object sends or "
             "receives (at least 56). With remote=\"unix:PATH\" or \"HOST:PORT\", a board of "
             "the host of that pelkd (TLS files from PELK_TLS_CA, PELK_TLS_CERT, PELK_TLS_KEY). "
             "Raises pelk.Error if it cannot be opened, its text saying why (pelk.NotOpen when "
             "the emulator or pelkd cannot be reached, an OSError such as FileNotFoundError for "
             "a missing /dev/zb5t).")
        .def_static("by_number", &Board::ByNumber, py::arg("number"),
                    py::arg("size") = PK_MAX_HEADER_LEN, py::arg("remote") = py::none(),
                    "Opens the board with this logical number in the board-identity table (with "
                    "remote, in the table of that pelkd's host). Raises pelk.NoSuchBoard when "
                    "the table has no such board.")
        .def_property_readonly("driver", &Board::driver, "\"zbhost\" or \"zb5t\".")
        .def_property_readonly("id", &Board::id,
                               "The board's ID within its driver: from the table for "
                               "by_number(), else 0. The board operations work on it unless "
                               "given another board.")
        .def_property_readonly("wait_handle", &Board::waitHandle,
                               "A descriptor that turns readable when a message arrives, for "
                               "select and selectors; -1 once closed.")
        .def("fileno", &Board::waitHandle, "The wait handle, so selectors take the Board.")
        .def_property_readonly(
            "closed", [](Board& b) { return b.waitHandle() < 0; }, "True once close() ran.")
        .def("__repr__",
             [](Board& b) {
                 return "<pelk.Board driver='" + b.driver() + "' id=" + std::to_string(b.id()) +
                        (b.waitHandle() < 0 ? " closed>" : " open>");
             })
        .def("close", &Board::Close,
             "Deletes the library object and closes its descriptors; later calls raise "
             "pelk.NotOpen. Closing twice does nothing.")
        .def(
            "__enter__", [](py::object self) { return self; }, "Returns the Board itself.")
        .def(
            "__exit__", [](Board& board, py::args) { board.Close(); },
            "Closes the Board, also when the block ends by an exception.")
        .def("send", &Board::Send, py::arg("header"), dst, py::arg("tag") = 0, py::arg("type") = 1,
             "send(header, *buffers, dst=(a1, a2), tag=0, type=1): sends a message. header is "
             "bytes (at most 56) or a PelkorHeader (its 56 bytes in host order); buffers are "
             "0 to 4 bytes-like data buffers. Bad arguments raise TypeError or ValueError "
             "before anything is sent.")
        .def("send_pelkor", &Board::SendPelkor, py::arg("header"), dst, py::arg("tag") = 0,
             "send_pelkor(header, *buffers, dst=(a1, a2), tag=0): sends a protocol message "
             "(type 1) with a PelkorHeader, its words in the protocol's byte order.")
        .def(
            "receive", [](Board& b, unsigned int timeout) { return b.Receive(timeout, false); },
            py::arg("timeout_ms"),
            "Waits up to timeout_ms for a message and returns it as a Message with its "
            "header as bytes and all its data buffers. Raises pelk.Timeout when none came.")
        .def(
            "receive_pelkor",
            [](Board& b, unsigned int timeout) { return b.Receive(timeout, true); },
            py::arg("timeout_ms"), "As receive(), with the header as a PelkorHeader.")
        .def("flush", &Board::Flush, "Drops the data buffers of the message being received.")
        .def(
            "read_eeprom",
            [](Board& board, unsigned int offset, unsigned int length) {
                return ReadEeprom(board, board.id(), offset, length);
            },
            py::arg("offset"), py::arg("length"),
            "read_eeprom(offset, length) or read_eeprom(board, offset, length): up to length "
            "bytes of the board's EEPROM from offset; the board is this Board's own (id) unless "
            "given.")
        .def("read_eeprom", &ReadEeprom, py::arg("board"), py::arg("offset"), py::arg("length"))
        .def(
            "driver_version",
            [](Board& board) {
                unsigned int first = 0, second = 0;
                Check(board.Call(
                    [&](cPelkLib& lib) { return lib.GetDriverVersion(&first, &second); }));
                return py::make_tuple(first, second);
            },
            "The driver's version as two numbers (first, second).")
        .def("board_mapping", &BoardMapping, board,
             "The board's mapping record as 6 numbers: its size (24), then word1 to word5.")
        .def("get_board_data", &GetBoardData, board, py::arg("size") = 4096,
             "Up to size bytes of the board data stored for the board.")
        .def(
            "set_board_data",
            [](Board& board, const py::bytes& data) {
                return SetBoardData(board, board.id(), data);
            },
            py::arg("data"),
            "set_board_data(data) or set_board_data(board, data): stores data as the board's "
            "board data; returns the count of bytes stored.")
        .def("set_board_data", &SetBoardData, py::arg("board"), py::arg("data"))
        .def(
            "reset",
            [](Board& board, BoardArgument given) {
                const unsigned int id = Chosen(board, given);
                Check(board.Call([&](cPelkLib& lib) { return lib.AssertBoardReset(id); }));
            },
            board, "Holds the board in reset.")
        .def(
            "release",
            [](Board& board, BoardArgument given, unsigned int timeout) {
                const unsigned int id = Chosen(board, given);
                Check(board.Call([&](cPelkLib& lib) { return lib.LiftBoardReset(id, timeout); }));
            },
            board, py::arg("timeout_ms") = 5000,
            "Releases the board from reset and waits up to timeout_ms until it is ready; "
            "raises pelk.Timeout when it is not.")
        .def("detect", &Detect, py::arg("maximum") = 64,
             "The boards the driver detects, up to maximum, as (first, second) pairs.")
        .def("stats", &Stats, py::arg("selector1") = 0, py::arg("selector2") = 0,
             "The driver's statistics record for the selectors, as the bytes the driver "
             "wrote (at most 256; the driver defines the content).")
        .def(
            "zero_stats",
            [](Board& board, unsigned int selector1, unsigned int selector2) {
                Check(board.Call(
                    [&](cPelkLib& lib) { return lib.ZeroDriverStats(selector1, selector2); }));
            },
            py::arg("selector1") = 0, py::arg("selector2") = 0,
            "Zeroes the driver's statistics for the selectors.");
}
