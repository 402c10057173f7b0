// Test helpers for the emulator backend: capture of standard output, the
// runtime's side of the manager handshake and of one pipe pair, played with
// exact bytes, and running a check in a child process.
#ifndef PELK_TESTS_EMU_RUNTIME_SIDE_H
#define PELK_TESTS_EMU_RUNTIME_SIDE_H

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <thread>

#include "emu/emulator_paths.h"
#include "emu/pipe_frame.h"

// Everything written to standard output between construction and Take().
class StdoutCapture {
public:
    StdoutCapture() {
        std::fflush(stdout);
        m_file = memfd_create("stdout", 0);
        m_saved = dup(1);
        dup2(m_file, 1);
    }
    ~StdoutCapture() { Take(); }
    std::string Take() {
        if (m_saved == -1) {
            return m_text;
        }
        std::fflush(stdout);
        dup2(m_saved, 1);
        close(m_saved);
        m_saved = -1;
        char chunk[4096];
        ssize_t n;
        lseek(m_file, 0, SEEK_SET);
        while ((n = read(m_file, chunk, sizeof chunk)) > 0) {
            m_text.append(chunk, static_cast<size_t>(n));
        }
        close(m_file);
        return m_text;
    }

private:
    int m_file = -1;
    int m_saved = -1;
    std::string m_text;
};

inline std::string PipePath(const char* name, int number) {
    return EmulatorPipe(name, number).text;
}

inline std::string EmuPath(const char* name) {
    return EmulatorFile(name).text;
}

// The runtime's side: creates the manager FIFOs and, for each Serve(), the
// pair of the number it answers with; then holds the pair's other ends.
class RuntimeSide {
public:
    RuntimeSide() {
        mkfifo(EmuPath(ZBHOST_MANAGER_IN_NAME).c_str(), 0666);
        mkfifo(EmuPath(ZBHOST_MANAGER_OUT_NAME).c_str(), 0666);
    }
    ~RuntimeSide() {
        Join();
        CloseEnds();
        unlink(EmuPath(ZBHOST_MANAGER_IN_NAME).c_str());
        unlink(EmuPath(ZBHOST_MANAGER_OUT_NAME).c_str());
    }
    // Answers the next handshake with number on a thread; Join() after Open.
    void Serve(int32_t number) {
        CloseEnds();
        m_thread = std::thread([this, number] {
            mkfifo(PipePath(ZBHOST_PIPE_IN_NAME, number).c_str(), 0666);
            mkfifo(PipePath(ZBHOST_PIPE_OUT_NAME, number).c_str(), 0666);
            int reply = open(EmuPath(ZBHOST_MANAGER_OUT_NAME).c_str(), O_WRONLY);
            int request = open(EmuPath(ZBHOST_MANAGER_IN_NAME).c_str(), O_RDONLY);
            m_request_bytes = static_cast<int>(read(request, &m_request, sizeof m_request));
            if (write(reply, &number, sizeof number) != sizeof number) {
                m_request_bytes = -1;
            }
            close(request);
            close(reply);
            fromLibrary = open(PipePath(ZBHOST_PIPE_IN_NAME, number).c_str(), O_RDONLY);
            toLibrary = open(PipePath(ZBHOST_PIPE_OUT_NAME, number).c_str(), O_WRONLY);
        });
    }
    void Join() {
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }
    void CloseEnds() {
        if (fromLibrary >= 0) close(fromLibrary);
        if (toLibrary >= 0) close(toLibrary);
        fromLibrary = toLibrary = -1;
    }
    void Send(const void* bytes, size_t length) const {
        if (write(toLibrary, bytes, length) != static_cast<ssize_t>(length)) {
            std::perror("RuntimeSide::Send");
        }
    }
    // Bytes the library has written and not yet been read here.
    int Waiting(int fd) const {
        int count = -1;
        ioctl(fd, FIONREAD, &count);
        return count;
    }
    std::string Receive(size_t length) const {
        std::string bytes(length, '\0');
        size_t got = 0;
        while (got < length) {
            ssize_t n = read(fromLibrary, &bytes[got], length - got);
            if (n <= 0) break;
            got += static_cast<size_t>(n);
        }
        bytes.resize(got);
        return bytes;
    }

    uint32_t m_request = 0;
    int m_request_bytes = 0;
    int fromLibrary = -1;
    int toLibrary = -1;

private:
    std::thread m_thread;
};

// A frame as the runtime sends it.
inline PK_PIPE_FRAME RuntimeFrame(uint32_t numbufs, uint32_t headerLen,
                                  std::initializer_list<uint32_t> dataLens = {}) {
    PK_PIPE_FRAME frame = {};
    std::memcpy(frame.magic, ZBHOST_FRAME_MAGIC, sizeof frame.magic);
    frame.desc.type = 9;
    frame.desc.srcAddr1 = 0x11;
    frame.desc.srcAddr2 = 0x22;
    frame.desc.tag = 0x7A6;
    frame.desc.numbufs = numbufs;
    frame.desc.Buflen[0] = headerLen;
    unsigned int i = 1;
    for (uint32_t length : dataLens) frame.desc.Buflen[i++] = length;
    return frame;
}

// Runs check in a child process of its own (fresh process-wide state) and
// returns what it reported.
inline std::string InChild(const std::function<std::string()>& check) {
    int channel[2];
    if (pipe(channel) != 0) return "pipe failed";
    std::fflush(stdout);
    pid_t child = fork();
    if (child == 0) {
        close(channel[0]);
        std::string report = check();
        ssize_t written = write(channel[1], report.data(), report.size());
        _exit(written == static_cast<ssize_t>(report.size()) ? 0 : 1);
    }
    close(channel[1]);
    std::string report;
    char chunk[1024];
    ssize_t n;
    while ((n = read(channel[0], chunk, sizeof chunk)) > 0) report.append(chunk, n);
    close(channel[0]);
    int status = 0;
    waitpid(child, &status, 0);
    return report;
}

#endif
