#include "python/board.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include <pybind11/stl.h>

#include "python/errors.h"
#include "python/header.h"
#include "python/message.h"
#include "python/table.h"

namespace py = pybind11;

namespace {

// The most data bytes one received message may bring.
constexpr uint64_t kMaxDataLen = 64u << 20;

void CheckAreaLen(uint64_t length, const char* what) {
    if (length > kMaxAreaLen) {
        throw py::value_error(std::string(what) + " takes at most 16777216 bytes, not " +
                              std::to_string(length));
    }
}

// Views of the header and data buffers of one send, held until it is done,
// so the bytes stay put while the GIL is released.
class HeldBuffers {
public:
    HeldBuffers() = default;
    HeldBuffers(const HeldBuffers&) = delete;
    HeldBuffers& operator=(const HeldBuffers&) = delete;
    ~HeldBuffers() {
        for (unsigned int i = 0; i < m_count; ++i) {
            PyBuffer_Release(&m_views[i]);
        }
    }

    // The bytes of a bytes-like object; TypeError for anything else.
    const Py_buffer& Hold(const py::handle& object, const std::string& what) {
        if (PyObject_GetBuffer(object.ptr(), &m_views[m_count], PyBUF_SIMPLE) != 0) {
            PyErr_Clear();
            throw py::type_error(what + " must be a bytes-like object, not " +
                                 std::string(Py_TYPE(object.ptr())->tp_name));
        }
        return m_views[m_count++];
    }

private:
    std::array<Py_buffer, 1 + PK_MAX_DATA_BUFFERS> m_views;
    unsigned int m_count = 0;
};

struct DataBuffers {
    unsigned int count = 0;
    void* pointers[PK_MAX_DATA_BUFFERS] = {};
    unsigned int lengths[PK_MAX_DATA_BUFFERS] = {};
};

DataBuffers HoldData(HeldBuffers& held, const py::args& buffers) {
    if (buffers.size() > PK_MAX_DATA_BUFFERS) {
        throw py::value_error("a message carries at most 4 data buffers, not " +
                              std::to_string(buffers.size()));
    }
    DataBuffers data;
    for (const py::handle& buffer : buffers) {
        const Py_buffer& view = held.Hold(buffer, "data buffer " + std::to_string(data.count + 1));
        if (static_cast<uint64_t>(view.len) > UINT32_MAX) {
            throw py::value_error("a data buffer holds less than 4 GiB");
        }
        data.pointers[data.count] = view.buf;
        data.lengths[data.count++] = static_cast<unsigned int>(view.len);
    }
    return data;
}

}  // namespace

Board::Board(LibHandle lib, std::string driver, unsigned int id, unsigned int size)
    : m_lib(std::move(lib)),
      m_driver(std::move(driver)),
      m_id(id),
      m_header(std::max<unsigned int>(std::min(size, kMaxAreaLen), PK_MAX_HEADER_LEN)) {
    if (!m_lib) {
        RaiseStatus(PKERR_NO_MEMORY);
    }
    CheckAreaLen(size, "size");
    int status;
    {
        py::gil_scoped_release released;
        ForgetDiagnostic();
        status = m_lib->Open(size, &m_waitHandle);
    }
    Check(status);
}

namespace {

cPelkLib* NewLib(PELKLIB_DRIVER_TYPE type, unsigned int id,
                 const std::optional<std::string>& remote) {
    return remote ? NewPelkLibRemote(remote->c_str(), type, id) : NewPelkLibByType(type);
}

}  // namespace

std::unique_ptr<Board> Board::ByDriver(const std::string& driver, unsigned int size,
                                       const std::optional<std::string>& remote) {
    PELKLIB_DRIVER_TYPE type;
    if (driver == "zbhost") {
        type = PELKLIB_DRIVER_ZBHOST;
    } else if (driver == "zb5t") {
        type = PELKLIB_DRIVER_ZB5T;
    } else {
        throw py::value_error("driver must be \"zbhost\" or \"zb5t\", not \"" + driver + "\"");
    }
    return std::make_unique<Board>(LibHandle(NewLib(type, 0, remote)), driver, 0, size);
}

std::unique_ptr<Board> Board::ByNumber(unsigned int number, unsigned int size,
                                       const std::optional<std::string>& remote) {
    const Resolution resolution = ResolveBoard(number, remote);
    LibHandle lib(NewLib(resolution.type, resolution.id, remote));
    if (!lib) {
        RaiseStatus(PKSTATUS_UNKNOWN_DRIVER, "board " + std::to_string(number) +
                                                 " is served by driver " + resolution.driver +
                                                 ", which this library cannot reach");
    }
    return std::make_unique<Board>(std::move(lib), resolution.driver, resolution.id, size);
}

void Board::Close() {
    LibHandle closing;
    {
        py::gil_scoped_release released;
        std::lock_guard<std::mutex> lock(m_mutex);
        closing = std::move(m_lib);
        m_waitHandle = -1;
    }
}

void Board::Send(const py::object& header, const py::args& buffers,
                 std::pair<uint32_t, uint32_t> dst, uint32_t tag, uint32_t type) {
    HeldBuffers held;
    const void* headerBytes;
    size_t headerLen;
    if (py::isinstance<PelkorHeader>(header)) {
        const PelkorHeader& pelkor = header.cast<const PelkorHeader&>();
        headerBytes = &pelkor.record;
        headerLen = sizeof pelkor.record;
    } else {
        const Py_buffer& view = held.Hold(header, "header (bytes or a PelkorHeader)");
        headerBytes = view.buf;
        headerLen = static_cast<size_t>(view.len);
    }
    if (headerLen > PK_MAX_HEADER_LEN) {
        throw py::value_error("a header holds at most 56 bytes, not " + std::to_string(headerLen));
    }
    DataBuffers data = HoldData(held, buffers);
    const PK_SEND_INFO info = {type, 0, 0, dst.first, dst.second, tag};
    Check(Call([&](cPelkLib& lib) {
        return lib.SendMessage(&info, headerBytes, static_cast<unsigned int>(headerLen), data.count,
                               data.pointers, data.lengths);
    }));
}

void Board::SendPelkor(const PelkorHeader& header, const py::args& buffers,
                       std::pair<uint32_t, uint32_t> dst, uint32_t tag) {
    HeldBuffers held;
    DataBuffers data = HoldData(held, buffers);
    Check(Call([&](cPelkLib& lib) {
        return lib.SendPelkorMessage(&header.record, dst.first, dst.second, tag, data.count,
                                     data.pointers, data.lengths);
    }));
}

// With the object locked, after a message's start was received: makes the
// header's bytes object (unless it is a PelkorHeader, headerLen 0) and one
// per announced data buffer, taking the GIL for that, then reads the
// buffers into them. Nothing of the message is left pending, whatever the
// outcome.
int Board::TakeMessage(const PK_REC_INFO& info, unsigned int headerLen, py::object& header,
                       py::list& buffers) {
    unsigned int count = 0;
    uint64_t total = 0;
    for (unsigned int i = 0; i < PK_MAX_DATA_BUFFERS; ++i) {
        total += info.bufLen[i];
        count = info.bufLen[i] != 0 ? i + 1 : count;
    }
    if (total > kMaxDataLen) {
        m_lib->FlushMessageBuffers();
        return PKERR_WRONG_BUFSIZE;
    }
    unsigned int lengths[PK_MAX_DATA_BUFFERS] = {};
    void* pointers[PK_MAX_DATA_BUFFERS] = {};
    bool made = true;
    {
        py::gil_scoped_acquire acquired;
        if (headerLen > 0) {
            header = py::bytes(m_header.data(), std::min<size_t>(headerLen, m_header.size()));
        }
        for (unsigned int i = 0; made && i < count; ++i) {
            PyObject* bytes = PyBytes_FromStringAndSize(nullptr, info.bufLen[i]);
            made = bytes != nullptr;
            if (made) {
                // A backend may stop at an empty buffer; the bytes after it
                // then read as zeros, not as old heap contents.
                std::memset(PyBytes_AS_STRING(bytes), 0, info.bufLen[i]);
                buffers.append(py::reinterpret_steal<py::object>(bytes));
                pointers[i] = PyBytes_AS_STRING(bytes);
                lengths[i] = info.bufLen[i];
            }
        }
        PyErr_Clear();
    }
    if (!made) {
        m_lib->FlushMessageBuffers();
        return PKERR_NO_MEMORY;
    }
    return m_lib->ReceiveBuffers(lengths, pointers);
}

py::object Board::Receive(unsigned int timeoutMs, bool pelkor) {
    PK_REC_INFO info = {};
    PelkorHeader pelkorHeader;
    py::object header = py::bytes();
    py::list buffers;
    int status;
    {
        py::gil_scoped_release released;
        std::lock_guard<std::mutex> lock(m_mutex);
        unsigned int headerLen = 0;
        ForgetDiagnostic();
        if (!m_lib) {
            status = PKERR_NOT_OPEN;
        } else if (pelkor) {
            status = m_lib->ReceivePelkorMessage(&info, timeoutMs, &pelkorHeader.record);
        } else {
            status =
                m_lib->ReceiveMessage(&info, timeoutMs, static_cast<unsigned int>(m_header.size()),
                                      m_header.data(), &headerLen);
        }
        if (status == PKERR_BAD_MESSAGE || status == PKERR_DATA_LOST) {
            m_lib->FlushMessageBuffers();
        } else if (status == 0) {
            status = TakeMessage(info, headerLen, header, buffers);
        }
    }
    Check(status);
    return MakeMessage(info.type, info.srcAddr1, info.srcAddr2, info.tag,
                       pelkor ? py::cast(pelkorHeader) : std::move(header), std::move(buffers));
}

void Board::Flush() {
    Check(Call([](cPelkLib& lib) { return lib.FlushMessageBuffers(); }));
}
