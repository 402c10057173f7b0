// Round trip of one message (56-byte protocol header and 1 KiB or 1 MiB of
// data) through pelkd, over its Unix socket and over loopback TCP with
// mutual TLS, each paired with the same round trip through a local
// emulator object on the same zbhost: alternating blocks (which goes first
// alternates too), the median of the per-pair ratios reported.
//
// Starts its own zbhost and pelkd (and makes a CA with openssl), so run it
// in the sandbox:
//   tests/support/sandbox.sh build/default/bench/bench_remote_roundtrip [RESULT.json]
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <pelklib.h>

#include "tests/support/pelkd_process.h"
#include "tests/support/test_ca.h"
#include "tests/support/zbhost_process.h"

namespace {

using Clock = std::chrono::steady_clock;
using Lib = std::unique_ptr<cPelkLib, void (*)(cPelkLib*)>;

constexpr int kPairs = 15;

// One object that sends a protocol message with one data buffer and takes
// the echo back.
class Pinger {
public:
    Pinger(cPelkLib* lib, size_t data)
        : m_lib(lib, deletePelkLib), m_data(data, 'b'), m_back(data, 0) {}
    bool Open() { return m_lib != nullptr && m_lib->Open(PK_MAX_HEADER_LEN, nullptr) == 0; }
    bool RoundTrip() {
        void* out[1] = {&m_data[0]};
        void* in[1] = {&m_back[0]};
        unsigned int lengths[1] = {static_cast<unsigned int>(m_data.size())};
        PK_REC_INFO info;
        _PELKOR_MSG_HEADER echoed;
        return m_lib->SendPelkorMessage(&m_header, 0, 0, 1, 1, out, lengths) == 0 &&
               m_lib->ReceivePelkorMessage(&info, 10000, &echoed) == 0 &&
               m_lib->ReceiveBuffers(info.bufLen, in) == 0;
    }
    // Seconds for count round trips; negative when one failed.
    double Block(int count) {
        const Clock::time_point start = Clock::now();
        for (int i = 0; i < count; ++i) {
            if (!RoundTrip()) return -1;
        }
        return std::chrono::duration<double>(Clock::now() - start).count();
    }

private:
    Lib m_lib;
    _PELKOR_MSG_HEADER m_header = {};
    std::string m_data, m_back;
};

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct Row {
    std::string path;
    double localUs, remoteUs, ratio;
};

bool Measure(const std::string& name, const std::string& target, size_t data, int block,
             std::vector<Row>* rows) {
    Pinger local(NewPelkLibByType(PELKLIB_DRIVER_ZBHOST), data);
    Pinger remote(NewPelkLibRemote(target.c_str(), PELKLIB_DRIVER_ZBHOST, 0), data);
    if (!local.Open() || !remote.Open() || local.Block(block) < 0 || remote.Block(block) < 0) {
        std::fprintf(stderr, "bench_remote_roundtrip: %s: open or warm-up failed\n", name.c_str());
        return false;
    }
    std::vector<double> localUs, remoteUs, ratios;
    for (int pair = 0; pair < kPairs; ++pair) {
        double times[2];
        for (int turn = 0; turn < 2; ++turn) {
            const bool remoteTurn = (pair + turn) % 2 == 1;
            times[remoteTurn] = (remoteTurn ? remote : local).Block(block);
        }
        if (times[0] < 0 || times[1] < 0) return false;
        localUs.push_back(times[0] * 1e6 / block);
        remoteUs.push_back(times[1] * 1e6 / block);
        ratios.push_back(times[1] / times[0]);
    }
    rows->push_back({name, Median(localUs), Median(remoteUs), Median(ratios)});
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Zbhost zbhost;
    char directory[] = "/tmp/pelk-bench-remote-XXXXXX";
    if (!zbhost.WaitReady() || mkdtemp(directory) == nullptr) {
        std::fprintf(stderr, "bench_remote_roundtrip: no zbhost (run it in the sandbox)\n");
        return 1;
    }
    TestCa ca(directory, "bench");
    setenv("PELK_TLS_CA", ca.ca.c_str(), 1);
    setenv("PELK_TLS_CERT", ca.clientCert.c_str(), 1);
    setenv("PELK_TLS_KEY", ca.clientKey.c_str(), 1);
    Pelkd pelkd({"--listen", std::string("unix:") + directory + "/pelkd.sock", "--listen",
                 "tcp:127.0.0.1:0", "--tls-cert", ca.serverCert, "--tls-key", ca.serverKey,
                 "--tls-client-ca", ca.ca});
    if (!ca.made || pelkd.Targets().size() != 2) {
        std::fprintf(stderr, "bench_remote_roundtrip: pelkd did not start: %s\n",
                     pelkd.Errors().c_str());
        return 1;
    }
    std::vector<Row> rows;
    bool ok = true;
    for (const auto& [transport, target] :
         {std::make_pair("Unix socket", pelkd.Targets()[0]),
          std::make_pair("loopback TCP, TLS", pelkd.Targets()[1])}) {
        ok = ok &&
             Measure(std::string("remote (") + transport + ") 56+1024 B", target, 1024, 200, &rows);
        ok = ok &&
             Measure(std::string("remote (") + transport + ") 56+1 MiB", target, 1 << 20, 4, &rows);
    }
    std::ofstream json(argc > 1 ? argv[1] : "/dev/stdout");
    json << "{\"rows\": [";
    for (size_t i = 0; i < rows.size(); ++i) {
        std::printf("%-40s local %9.1f us  remote %9.1f us  ratio %.2f\n", rows[i].path.c_str(),
                    rows[i].localUs, rows[i].remoteUs, rows[i].ratio);
        json << (i ? ", " : "") << "{\"path\": \"" << rows[i].path
             << "\", \"local_us\": " << rows[i].localUs << ", \"remote_us\": " << rows[i].remoteUs
             << ", \"ratio\": " << rows[i].ratio << "}";
    }
    json << "]}\n";
    std::system(("rm -rf " + std::string(directory)).c_str());
    return ok ? 0 : 1;
}
