// zbhost's memory under clients that send and do not read: starts its own
// zbhost in a private emulator directory (PELK_EMULATOR_DIR, no root
// needed), lets CLIENTS clients (default 16) each send 1 MiB messages
// without reading answers until zbhost stops taking them, then closes them
// all, and prints zbhost's resident size before, at the peak and after.
//   build/default/bench/zbhost_memory [CLIENTS [MAX_QUEUED_BYTES]]
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "wire/emulator_frame.h"
#include "wire/emulator_paths.h"

namespace {

constexpr size_t kData = 1u << 20;

long Kib(pid_t pid, const char* field) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.compare(0, std::strlen(field), field) == 0) {
            return std::atol(line.c_str() + std::strlen(field) + 1);
        }
    }
    return -1;
}

// A client by hand: the handshake, then both ends of its pair.
struct Client {
    int toZbhost = -1;
    int fromZbhost = -1;
    bool Open() {
        int reply = open(EmulatorFile(ZBHOST_MANAGER_OUT_NAME).text, O_RDONLY);
        int request = open(EmulatorFile(ZBHOST_MANAGER_IN_NAME).text, O_WRONLY);
        uint32_t word = ZBHOST_MANAGER_REQUEST;
        int32_t number = -1;
        if (write(request, &word, 4) != 4 || read(reply, &number, 4) != 4) number = -1;
        close(request);
        close(reply);
        toZbhost = open(EmulatorPipe(ZBHOST_PIPE_IN_NAME, number).text, O_WRONLY | O_NONBLOCK);
        fromZbhost = open(EmulatorPipe(ZBHOST_PIPE_OUT_NAME, number).text, O_RDONLY);
        return number >= 0 && toZbhost != -1 && fromZbhost != -1;
    }
    // Sends until zbhost has taken nothing for a second; returns bytes sent.
    size_t Flood(const std::string& message) {
        size_t sent = 0;
        for (;;) {
            const size_t at = sent % message.size();
            ssize_t n = write(toZbhost, message.data() + at, message.size() - at);
            pollfd room = {toZbhost, POLLOUT, 0};
            if (n > 0) {
                sent += static_cast<size_t>(n);
            } else if (poll(&room, 1, 1000) == 0) {
                return sent;
            }
        }
    }
    ~Client() {
        close(toZbhost);
        close(fromZbhost);
    }
};

}  // namespace

int main(int argc, char** argv) {
    const int clients = argc > 1 ? std::atoi(argv[1]) : 16;
    char dir[] = "/tmp/zbhost-memory-XXXXXX";
    if (clients < 1 || mkdtemp(dir) == nullptr) return 2;
    setenv(kEmulatorDirVariable, dir, 1);
    const std::string maxQueued = argc > 2 ? std::string("--max-queued=") + argv[2] : "";
    pid_t zbhost = fork();
    if (zbhost == 0) {
        execl(ZBHOST_PATH, ZBHOST_PATH, maxQueued.empty() ? nullptr : maxQueued.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    for (int i = 0; i < 500 && access(EmulatorFile(ZBHOST_MANAGER_OUT_NAME).text, F_OK) != 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    const long before = Kib(zbhost, "VmRSS:");

    std::string message(ZBHOST_SEND_BLOCK_LEN + kData, 'm');
    PK_PIPE_FRAME frame = {};
    std::memcpy(frame.magic, ZBHOST_FRAME_MAGIC, 4);
    frame.desc.numbufs = 2;
    frame.desc.Buflen[1] = kData;
    std::memcpy(&message[0], &frame, sizeof frame);
    {
        std::vector<Client> pairs(static_cast<size_t>(clients));
        std::vector<std::thread> senders;
        std::vector<size_t> sent(pairs.size());
        for (size_t i = 0; i < pairs.size(); ++i) {
            if (!pairs[i].Open()) return 1;
            senders.emplace_back([&, i] { sent[i] = pairs[i].Flood(message); });
        }
        for (auto& sender : senders) sender.join();
        size_t total = 0;
        for (size_t bytes : sent) total += bytes;
        std::printf("%d clients sent %.1f MiB that zbhost took\n", clients, total / 1048576.0);
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));
    std::printf("zbhost resident: %ld KiB before, %ld KiB at the peak, %ld KiB after the "
                "clients left\n",
                before, Kib(zbhost, "VmHWM:"), Kib(zbhost, "VmRSS:"));
    kill(zbhost, SIGTERM);
    waitpid(zbhost, nullptr, 0);
    unlink((std::string(dir) + "/" + ZBHOST_SEMAPHORE_NAME).c_str());
    rmdir(dir);
    return 0;
}
