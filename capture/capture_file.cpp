#include "capture/capture_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "capture/record_format.h"
#include "services/pelk_log.h"
#include "services/settings.h"
#include "services/shared_access.h"
#include "services/standard_descriptors.h"

namespace {

constexpr uint32_t kSectionHeaderBlock = 0x0A0D0D0A;
constexpr uint32_t kInterfaceBlock = 1;
constexpr uint32_t kEnhancedPacketBlock = 6;
constexpr uint32_t kByteOrderMagic = 0x1A2B3C4D;
constexpr uint16_t kOptionEnd = 0;
constexpr uint16_t kOptionIfName = 2;
constexpr uint16_t kOptionIfTsresol = 9;
constexpr uint16_t kOptionEpbFlags = 2;

void Append32(std::string& out, uint32_t value) {
    uint8_t bytes[4];
    StoreLittleEndian32(bytes, value);
    out.append(reinterpret_cast<const char*>(bytes), 4);
}

void Append16(std::string& out, uint16_t value) {
    out.push_back(static_cast<char>(value & 0xFF));
    out.push_back(static_cast<char>(value >> 8));
}

void AppendPadded(std::string& out, const char* data, size_t length) {
    out.append(data, length);
    out.append((4 - length % 4) % 4, '\0');
}

void AppendOption(std::string& out, uint16_t code, const char* data, size_t length) {
    Append16(out, code);
    Append16(out, static_cast<uint16_t>(length));
    AppendPadded(out, data, length);
}

// Type, total length, body, total length again.
std::string Block(uint32_t type, const std::string& body) {
    std::string block;
    const uint32_t total = static_cast<uint32_t>(body.size() + 12);
    block.reserve(total);
    Append32(block, type);
    Append32(block, total);
    block += body;
    Append32(block, total);
    return block;
}

std::string ExpandPath(const char* pattern) {
    std::string path;
    for (const char* at = pattern; *at != '\0'; ++at) {
        if (at[0] == '%' && at[1] == 'p') {
            char pid[16];
            std::snprintf(pid, sizeof pid, "%d", static_cast<int>(getpid()));
            path += pid;
            ++at;
        } else {
            path += *at;
        }
    }
    return path;
}

// Opens the capture file without blocking (a FIFO named there has no reader
// to wait for) and keeps it only when it is a regular file of this user's
// (or root's): writes to anything else could block, raise SIGPIPE or feed
// another user's file. The descriptor, or -1 with *why.
int OpenCaptureFile(const std::string& path, std::string* why) {
    int fd =
        open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0644);
    if (fd != -1) {
        fd = KeepOffStandardDescriptors(fd);
    }
    if (fd == -1) {
        *why = std::strerror(errno);
        return -1;
    }
    if (CheckOwnFile(fd, path.c_str(), why) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

std::mutex s_open_mutex;
bool s_open_tried = false;
CaptureFile* s_file = nullptr;

}  // namespace

uint64_t CaptureNow() {
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000000000u + static_cast<uint64_t>(now.tv_nsec);
}

CaptureFile* CaptureFile::FromEnvironment() {
    const char* pattern = SettingCapture();
    if (pattern == nullptr) {
        return nullptr;
    }
    {
        std::lock_guard<std::mutex> lock(s_open_mutex);
        if (s_open_tried) {
            return s_file;
        }
    }
    // Opened outside the mutex; only the first opening to finish is kept,
    // and only it empties the file.
    const std::string path = ExpandPath(pattern);
    std::string why;
    const int fd = OpenCaptureFile(path, &why);
    std::lock_guard<std::mutex> lock(s_open_mutex);
    if (s_open_tried) {
        if (fd != -1) {
            close(fd);
        }
        return s_file;
    }
    s_open_tried = true;
    if (fd == -1 || ftruncate(fd, 0) != 0) {
        PelkLog("pelklib: cannot open capture file %s: %s; running without capture\n", path.c_str(),
                fd == -1 ? why.c_str() : std::strerror(errno));
        if (fd != -1) {
            close(fd);
        }
        return nullptr;
    }
    // Section Header Block: little-endian, version 1.0, length unknown.
    std::string body;
    Append32(body, kByteOrderMagic);
    Append16(body, 1);
    Append16(body, 0);
    Append32(body, 0xFFFFFFFF);
    Append32(body, 0xFFFFFFFF);
    const char application[] = "pelklib";
    AppendOption(body, 4 /* shb_userappl */, application, sizeof application - 1);
    AppendOption(body, kOptionEnd, nullptr, 0);
    s_file = new CaptureFile(fd);
    s_file->WriteBlock(Block(kSectionHeaderBlock, body));
    return s_file;
}

uint32_t CaptureFile::AddInterface(const std::string& name) {
    std::string body;
    Append16(body, kCaptureLinkType);
    Append16(body, 0);
    Append32(body, 0);  // no snapshot limit
    AppendOption(body, kOptionIfName, name.data(), name.size());
    const char nanoseconds = 9;
    AppendOption(body, kOptionIfTsresol, &nanoseconds, 1);
    AppendOption(body, kOptionEnd, nullptr, 0);
    const std::string block = Block(kInterfaceBlock, body);
    std::lock_guard<std::mutex> lock(m_mutex);
    WriteBlock(block);
    return m_interfaces++;
}

void CaptureFile::WritePacket(uint32_t interface, uint64_t timestampNs, uint32_t flags,
                              std::string& block) {
    const uint32_t packet = static_cast<uint32_t>(block.size() - kPacketOffset);
    block.append((4 - packet % 4) % 4, '\0');
    Append16(block, kOptionEpbFlags);
    Append16(block, 4);
    Append32(block, flags);
    AppendOption(block, kOptionEnd, nullptr, 0);
    const uint32_t total = static_cast<uint32_t>(block.size() + 4);
    Append32(block, total);
    uint8_t* head = reinterpret_cast<uint8_t*>(&block[0]);
    const uint32_t words[7] = {kEnhancedPacketBlock,
                               total,
                               interface,
                               static_cast<uint32_t>(timestampNs >> 32),
                               static_cast<uint32_t>(timestampNs),
                               packet,
                               packet};
    for (size_t i = 0; i < 7; ++i) StoreLittleEndian32(head + 4 * i, words[i]);
    std::lock_guard<std::mutex> lock(m_mutex);
    WriteBlock(block);
}

void CaptureFile::WriteBlock(const std::string& block) {
    if (m_fd == -1) {
        return;
    }
    const ssize_t written = write(m_fd, block.data(), block.size());
    if (written != static_cast<ssize_t>(block.size())) {
        PelkLog("pelklib: capture stopped: %s\n",
                written < 0 ? std::strerror(errno) : "short write");
        close(m_fd);
        m_fd = -1;
    }
}
