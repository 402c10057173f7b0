// The frame stream on an emulator pipe pair as the runtime writes and reads
// it, shared by the emulator tests and the emulator fuzz harness.
#ifndef PELK_TESTS_PIPE_FRAMES_H
#define PELK_TESTS_PIPE_FRAMES_H

#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <string>

#include "wire/emulator_frame.h"

// A frame as the runtime sends it: fixed type, addresses and tag.
inline PK_PIPE_FRAME RuntimeFrame(uint32_t numbufs, uint32_t headerLen,
                                  std::initializer_list<uint32_t> dataLens = {}) {
    PK_PIPE_FRAME frame = {{'Z', 'B', 'P', 'C'},
                           {9, 0x22, 0, 0x11, 0, 0x7A6, numbufs, {headerLen}}};
    unsigned int i = 1;
    for (uint32_t length : dataLens) frame.desc.Buflen[i++] = length;
    return frame;
}

// The frame's bytes followed by rest.
inline std::string FrameBytes(const PK_PIPE_FRAME& frame, const std::string& rest = "") {
    return std::string(reinterpret_cast<const char*>(&frame), sizeof frame) + rest;
}

// Writes all length bytes to fd; false when a write fails.
inline bool WriteAll(int fd, const void* bytes, size_t length) {
    for (size_t done = 0; done < length;) {
        const ssize_t n = write(fd, static_cast<const char*>(bytes) + done, length - done);
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

inline bool WriteAll(int fd, const std::string& bytes) {
    return WriteAll(fd, bytes.data(), bytes.size());
}

#endif
