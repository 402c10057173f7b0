// pelk ping: message round trips with their latency.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

#include "tools/pelk/command.h"
#include "tools/pelk/session.h"

namespace {

struct PingOptions {
    unsigned int count = 3;
    unsigned int size = 1024;
};

bool ParsePingOptions(const std::vector<std::string>& arguments, PingOptions* options) {
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& option = arguments[i];
        unsigned int* target = option == "--count" ? &options->count
                               : option == "--size" ? &options->size
                                                    : nullptr;
        if (target == nullptr || i + 1 == arguments.size() ||
            !ParseNumber(arguments[i + 1], target)) {
            std::fprintf(stderr, "pelk ping: bad option %s\n", option.c_str());
            return false;
        }
        ++i;
    }
    return true;
}

// One round trip: send a protocol message with one data buffer, receive the
// answer and its buffer, check that they came back unchanged.
int RoundTrip(cPelkLib& lib, unsigned int tag, std::string& data, double* micros) {
    _PELKOR_MSG_HEADER header;
    std::memset(&header, 0, sizeof header);
    header.word0 = tag;
    header.paramCount = 1;
    header.params[0] = static_cast<uint32_t>(data.size());
    void* buffers[1] = {&data[0]};
    unsigned int lengths[1] = {static_cast<unsigned int>(data.size())};
    const unsigned int bufCount = data.empty() ? 0 : 1;

    const auto start = std::chrono::steady_clock::now();
    int status = lib.SendPelkorMessage(&header, 1, 0, tag, bufCount, buffers, lengths);
    if (status != 0) {
        return status;
    }
    PK_REC_INFO info;
    _PELKOR_MSG_HEADER answer;
    status = lib.ReceivePelkorMessage(&info, 5000, &answer);
    if (status != 0) {
        return status;
    }
    std::string received(info.bufLen[0], '\0');
    void* into[4] = {&received[0], nullptr, nullptr, nullptr};
    status = lib.ReceiveBuffers(info.bufLen, into);
    const auto end = std::chrono::steady_clock::now();
    *micros = std::chrono::duration<double, std::micro>(end - start).count();
    if (status != 0) {
        return status;
    }
    if (info.tag != tag || std::memcmp(&answer, &header, sizeof header) != 0 ||
        received != data) {
        std::fprintf(stderr, "pelk ping: answer %u differs from the message sent\n", tag);
        return PKERR_BAD_MESSAGE;
    }
    return 0;
}

int RunPing(const CommonOptions& common, const std::vector<std::string>& arguments) {
    PingOptions options;
    if (!ParsePingOptions(arguments, &options)) {
        return 2;
    }
    PelkHandle lib = OpenBoard(common.driver);
    if (!lib) {
        return 1;
    }
    std::string data(options.size, '\0');
    for (size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<char>('a' + i % 26);
    }
    double total = 0, fastest = 0, slowest = 0;
    for (unsigned int tag = 1; tag <= options.count; ++tag) {
        double micros = 0;
        int status = RoundTrip(*lib, tag, data, &micros);
        if (status != 0) {
            std::fprintf(stderr, "pelk ping: round trip %u failed: %s\n", tag,
                         StatusText(*lib, status).c_str());
            return 1;
        }
        std::printf("round trip %u: 56-byte header + %u data bytes, tag %u, %.1f us\n", tag,
                    options.size, tag, micros);
        total += micros;
        fastest = tag == 1 || micros < fastest ? micros : fastest;
        slowest = micros > slowest ? micros : slowest;
    }
    if (options.count > 0) {
        std::printf("%u round trips: min %.1f us, avg %.1f us, max %.1f us\n", options.count,
                    fastest, total / options.count, slowest);
    }
    return 0;
}

}  // namespace

const Command kPingCommand = {"ping", "[--count N] [--size BYTES]",
                              "send N messages (default 3) and time their round trips",
                              RunPing};
