// The capture reader on any bytes: it must stop with an error naming an
// offset inside the input, or accept the input with records whose parts
// agree with their descriptors.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "capture/capture_reader.h"
#include "fuzz/harness_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Capture capture;
    if (!ReadCapture(data, size, &capture)) {
        Require(capture.error.compare(0, 7, "offset ") == 0 &&
                std::strtoull(capture.error.c_str() + 7, nullptr, 10) <= size);
    }
    for (const CaptureRecord& record : capture.records) {
        Require(record.offset < size && record.interface < capture.interfaces.size() &&
                record.desc.numbufs <= 5 && record.args.size() <= 16 &&
                record.header.size() + record.reply.size() < size);
        Require(record.data.empty() || record.data.size() + 1 == record.desc.numbufs);
        for (size_t i = 0; i < record.data.size(); ++i) {
            Require(record.data[i].size() == record.desc.Buflen[i + 1]);
        }
    }
    return 0;
}
