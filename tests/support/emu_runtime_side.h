// Test helpers for the emulator backend: capture of standard output, the
// runtime's side of the manager handshake and of one pipe pair, played with
// exact bytes, and running a check in a child process.
#ifndef PELK_TESTS_EMU_RUNTIME_SIDE_H
#define PELK_TESTS_EMU_RUNTIME_SIDE_H

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/sem.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdio>
#include <functional>
#include <thread>

#include "pipe_frames.h"
#include "wire/emulator_paths.h"

// Reads fd from its start to its end.
inline std::string ReadAll(int fd) {
    std::string text;
    char chunk[4096];
    ssize_t n;
    while ((n = read(fd, chunk, sizeof chunk)) > 0) text.append(chunk, static_cast<size_t>(n));
    return text;
}

// Everything written to standard output between construction and Take().
class StdoutCapture {
public:
    StdoutCapture() : m_file(memfd_create("stdout", 0)), m_saved(dup(1)) {
        std::fflush(stdout);
        dup2(m_file, 1);
    }
    ~StdoutCapture() { Take(); }
    std::string Take() {
        if (m_saved != -1) {
            std::fflush(stdout);
            dup2(m_saved, 1);
            close(m_saved);
            m_saved = -1;
            lseek(m_file, 0, SEEK_SET);
            m_text = ReadAll(m_file);
            close(m_file);
        }
        return m_text;
    }

private:
    int m_file, m_saved;
    std::string m_text;
};

inline std::string PipePath(const char* name, int number) {
    return EmulatorPipe(name, number).text;
}

inline std::string EmuPath(const char* name) {
    return EmulatorFile(name).text;
}

// The handshake's semaphore set; -1 when there is none.
inline int SemaphoreSet() {
    return semget(ftok(EmuPath(ZBHOST_SEMAPHORE_NAME).c_str(), 0), 1, 0);
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
            char word[8];
            const ssize_t got = read(request, word, sizeof word);
            this->request.assign(word, got > 0 ? static_cast<size_t>(got) : 0);
            WriteAll(reply, &number, sizeof number);
            close(request);
            close(reply);
            fromLibrary = open(PipePath(ZBHOST_PIPE_IN_NAME, number).c_str(), O_RDONLY);
            toLibrary = open(PipePath(ZBHOST_PIPE_OUT_NAME, number).c_str(), O_WRONLY);
        });
    }
    void Join() {
        if (m_thread.joinable()) m_thread.join();
    }
    void CloseEnds() {
        if (fromLibrary >= 0) close(fromLibrary);
        if (toLibrary >= 0) close(toLibrary);
        fromLibrary = toLibrary = -1;
    }
    bool Send(const std::string& bytes) const { return WriteAll(toLibrary, bytes); }
    std::string Receive(size_t length) const {
        std::string bytes(length, '\0');
        size_t got = 0;
        for (ssize_t n = 1; got < length && n > 0; got += n > 0 ? static_cast<size_t>(n) : 0) {
            n = read(fromLibrary, &bytes[got], length - got);
        }
        bytes.resize(got);
        return bytes;
    }

    std::string request;  // the bytes of the last handshake's request
    int fromLibrary = -1;
    int toLibrary = -1;

private:
    std::thread m_thread;
};

// Runs check in a child process of its own (fresh process-wide state) and
// returns what it reported.
inline std::string InChild(const std::function<std::string()>& check) {
    int channel[2];
    if (pipe(channel) != 0) return "pipe failed";
    std::fflush(stdout);
    pid_t child = fork();
    if (child == 0) {
        close(channel[0]);
        const std::string report = check();
        _exit(WriteAll(channel[1], report) ? 0 : 1);
    }
    close(channel[1]);
    const std::string report = ReadAll(channel[0]);
    close(channel[0]);
    waitpid(child, nullptr, 0);
    return report;
}

#endif
