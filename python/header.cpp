#include "python/header.h"

#include <cstring>
#include <string>
#include <vector>

#include <pybind11/stl.h>

namespace py = pybind11;

namespace {

constexpr size_t kMaxParams = sizeof(_PELKOR_MSG_HEADER::params) / sizeof(uint32_t);

std::vector<uint32_t> GetParams(const PelkorHeader& header) {
    const uint32_t count = header.record.paramCount < kMaxParams
                               ? header.record.paramCount
                               : static_cast<uint32_t>(kMaxParams);
    return std::vector<uint32_t>(header.record.params, header.record.params + count);
}

void SetParams(PelkorHeader& header, const std::vector<uint32_t>& params) {
    if (params.size() > kMaxParams) {
        throw py::value_error("a header holds at most 8 parameters, not " +
                              std::to_string(params.size()));
    }
    std::memset(header.record.params, 0, sizeof header.record.params);
    std::copy(params.begin(), params.end(), header.record.params);
    header.record.paramCount = static_cast<uint32_t>(params.size());
}

py::bytes GetOpaque(const PelkorHeader& header) {
    return py::bytes(reinterpret_cast<const char*>(header.record.opaque),
                     sizeof header.record.opaque);
}

void SetOpaque(PelkorHeader& header, const py::bytes& opaque) {
    const std::string bytes = opaque;
    if (bytes.size() != sizeof header.record.opaque) {
        throw py::value_error("opaque takes exactly 8 bytes");
    }
    std::memcpy(header.record.opaque, bytes.data(), bytes.size());
}

PelkorHeader FromBytes(const py::bytes& data) {
    const std::string bytes = data;
    if (bytes.size() != sizeof(_PELKOR_MSG_HEADER)) {
        throw py::value_error("a protocol header is 56 bytes, not " + std::to_string(bytes.size()));
    }
    PelkorHeader header;
    std::memcpy(&header.record, bytes.data(), bytes.size());
    return header;
}

std::string Repr(const PelkorHeader& header) {
    std::string params;
    for (uint32_t param : GetParams(header)) {
        params += (params.empty() ? "" : ", ") + std::to_string(param);
    }
    return "PelkorHeader(word0=" + std::to_string(header.record.word0) +
           ", word1=" + std::to_string(header.record.word1) +
           ", word4=" + std::to_string(header.record.word4) + ", params=[" + params + "])";
}

}  // namespace

void DefinePelkorHeader(py::module_& module) {
    py::class_<PelkorHeader>(module, "PelkorHeader",
                             "The 56-byte protocol message header: word0, word1, 8 opaque bytes, "
                             "word4, then up to 8 parameter words (their count is the length of "
                             "params).")
        .def(py::init([](uint32_t word0, uint32_t word1, uint32_t word4,
                         const std::vector<uint32_t>& params, const py::bytes& opaque) {
                 PelkorHeader header;
                 header.record.word0 = word0;
                 header.record.word1 = word1;
                 header.record.word4 = word4;
                 SetParams(header, params);
                 SetOpaque(header, opaque);
                 return header;
             }),
             py::arg("word0") = 0, py::arg("word1") = 0, py::arg("word4") = 0,
             py::arg("params") = std::vector<uint32_t>(),
             py::arg("opaque") = py::bytes(std::string(8, '\0')),
             "A header with these words; params holds up to 8 integers, opaque 8 bytes.")
        .def_property(
            "word0", [](const PelkorHeader& h) { return h.record.word0; },
            [](PelkorHeader& h, uint32_t value) { h.record.word0 = value; }, "First word.")
        .def_property(
            "word1", [](const PelkorHeader& h) { return h.record.word1; },
            [](PelkorHeader& h, uint32_t value) { h.record.word1 = value; }, "Second word.")
        .def_property(
            "word4", [](const PelkorHeader& h) { return h.record.word4; },
            [](PelkorHeader& h, uint32_t value) { h.record.word4 = value; },
            "The word after the opaque bytes.")
        .def_property("opaque", &GetOpaque, &SetOpaque,
                      "The 8 bytes between word1 and word4, carried unchanged.")
        .def_property("params", &GetParams, &SetParams,
                      "The parameters in use: a list of up to 8 integers. Setting it sets the "
                      "parameter count and zeroes the unused words.")
        .def(
            "to_bytes",
            [](const PelkorHeader& h) {
                return py::bytes(reinterpret_cast<const char*>(&h.record), sizeof h.record);
            },
            "The 56 bytes of the header in host byte order.")
        .def_static("from_bytes", &FromBytes, py::arg("data"),
                    "The header laid out in 56 bytes of host byte order.")
        .def(
            "__eq__",
            [](const PelkorHeader& a, const PelkorHeader& b) {
                return std::memcmp(&a.record, &b.record, sizeof a.record) == 0;
            },
            py::is_operator(), "Equal when all 56 bytes are equal.")
        .def("__repr__", &Repr);
}
