// The process-wide capture file named by PELK_CAPTURE: a pcapng file with one
// Interface Description Block per captured object and one Enhanced Packet
// Block per record. Every block goes out in a single write(2) on a descriptor
// opened with O_APPEND, under one mutex, so records of many objects and
// threads never interleave and a process killed at any moment leaves a file
// that ends with a whole block.
#ifndef PELK_CAPTURE_CAPTURE_FILE_H
#define PELK_CAPTURE_CAPTURE_FILE_H

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

class CaptureFile {
public:
    // The file named by PELK_CAPTURE ("%p" replaced by the process ID), opened
    // on first use, without blocking and outside any lock. Null when the
    // variable is unset or empty, or when the file cannot be opened or is
    // not a regular file of this user's or root's (reported once in the
    // library's log).
    static CaptureFile* FromEnvironment();

    // Writes an Interface Description Block named name; returns its number.
    uint32_t AddInterface(const std::string& name);
    // Bytes a packet block holds in front of the packet data.
    static constexpr size_t kPacketOffset = 28;
    // Completes block, kPacketOffset reserved bytes followed by the packet
    // data, into an Enhanced Packet Block for interface with the timestamp in
    // nanoseconds since the epoch and the direction flags, and writes it.
    // Building the record in place spares a copy of its data.
    void WritePacket(uint32_t interface, uint64_t timestampNs, uint32_t flags, std::string& block);

private:
    explicit CaptureFile(int fd) : m_fd(fd) {}
    // One whole block in one write; a short or failed write ends the capture.
    void WriteBlock(const std::string& block);

    std::mutex m_mutex;
    int m_fd;
    uint32_t m_interfaces = 0;
};

// Nanoseconds since the epoch, the timestamp of every record.
uint64_t CaptureNow();

#endif
