#include "python/message.h"

#include <string>

namespace py = pybind11;

void DefineMessage(py::module_& module) {
    py::class_<Message>(module, "Message",
                        "A received message: type, src, tag, header and the data buffers.")
        .def_readonly("type", &Message::type, "The message type.")
        .def_property_readonly(
            "src", [](const Message& m) { return py::make_tuple(m.srcAddr1, m.srcAddr2); },
            "The sender's address words (a1, a2).")
        .def_readonly("tag", &Message::tag, "The tag the sender gave the message.")
        .def_readonly("header", &Message::header,
                      "The header: bytes from receive(), a PelkorHeader from receive_pelkor().")
        .def_readonly("buffers", &Message::buffers,
                      "The data buffers, a list of 0 to 4 bytes objects.")
        .def("__repr__", [](const Message& m) {
            return "Message(type=" + std::to_string(m.type) + ", src=(" +
                   std::to_string(m.srcAddr1) + ", " + std::to_string(m.srcAddr2) +
                   "), tag=" + std::to_string(m.tag) + ", header=" +
                   py::repr(m.header).cast<std::string>() + ", buffers=" +
                   py::repr(m.buffers).cast<std::string>() + ")";
        });
}
