#include "python/message.h"

#include <pybind11/eval.h>

namespace py = pybind11;

namespace {

// Made once at import and kept for the life of the process.
PyObject* g_message = nullptr;

const char* const kMessageClass = R"py(
class Message:
    """A received message.

    type: the message type; src: the sender's address words (a1, a2); tag:
    the tag the sender gave it; header: bytes from receive(), a PelkorHeader
    from receive_pelkor(); buffers: the data buffers, a list of 0 to 4 bytes.
    """

    __slots__ = ("type", "src", "tag", "header", "buffers")

    def __init__(self, type, src, tag, header, buffers):
        self.type = type
        self.src = src
        self.tag = tag
        self.header = header
        self.buffers = buffers

    def __repr__(self):
        return (f"Message(type={self.type}, src={self.src}, tag={self.tag}, "
                f"header={self.header!r}, buffers={self.buffers!r})")
)py";

}  // namespace

py::object MakeMessage(uint32_t type, uint32_t srcAddr1, uint32_t srcAddr2, uint32_t tag,
                       py::object header, py::list buffers) {
    return py::reinterpret_borrow<py::object>(g_message)(
        type, py::make_tuple(srcAddr1, srcAddr2), tag, std::move(header), std::move(buffers));
}

void DefineMessage(py::module_& module) {
    py::exec(kMessageClass, module.attr("__dict__"));
    g_message = py::object(module.attr("Message")).release().ptr();
}
