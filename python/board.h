// pelk.Board: one opened library object, its operations as methods.
#ifndef PELK_PYTHON_BOARD_H
#define PELK_PYTHON_BOARD_H

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include <pybind11/pybind11.h>

#include <pelklib.h>

#include "python/diagnostics.h"
#include "python/header.h"

// The most bytes a caller's area (header size, EEPROM length, board data)
// may take.
constexpr unsigned int kMaxAreaLen = 16u << 20;

struct LibDeleter {
    void operator()(cPelkLib* lib) const { deletePelkLib(lib); }
};
using LibHandle = std::unique_ptr<cPelkLib, LibDeleter>;

class Board {
public:
    // Opens lib with buffers for headers of size bytes; raises on failure
    // (lib is deleted then).
    Board(LibHandle lib, std::string driver, unsigned int id, unsigned int size);

    // A board of this host, or, with remote ("unix:PATH" or "HOST:PORT"),
    // one of the host of that pelkd.
    static std::unique_ptr<Board> ByDriver(const std::string& driver, unsigned int size,
                                           const std::optional<std::string>& remote);
    static std::unique_ptr<Board> ByNumber(unsigned int number, unsigned int size,
                                           const std::optional<std::string>& remote);

    const std::string& driver() const { return m_driver; }
    unsigned int id() const { return m_id; }
    int waitHandle() const { return m_waitHandle; }

    void Close();
    void Send(const pybind11::object& header, const pybind11::args& buffers,
              std::pair<uint32_t, uint32_t> dst, uint32_t tag, uint32_t type);
    void SendPelkor(const PelkorHeader& header, const pybind11::args& buffers,
                    std::pair<uint32_t, uint32_t> dst, uint32_t tag);
    pybind11::object Receive(unsigned int timeoutMs, bool pelkor);
    void Flush();

    // One library call with the GIL released and the object locked, so
    // other Python threads run and nobody closes the object meanwhile.
    template <typename Operation>
    int Call(Operation operation) {
        pybind11::gil_scoped_release released;
        std::lock_guard<std::mutex> lock(m_mutex);
        ForgetDiagnostic();
        return m_lib ? operation(*m_lib) : PKERR_NOT_OPEN;
    }

private:
    int TakeMessage(const PK_REC_INFO& info, unsigned int headerLen, pybind11::object& header,
                    pybind11::list& buffers);

    std::mutex m_mutex;
    LibHandle m_lib;
    std::string m_driver;
    unsigned int m_id;
    std::vector<char> m_header;  // a received header, while the object is locked
    int m_waitHandle = -1;
};

void DefineBoard(pybind11::module_& module);

#endif
