// A simulated zb5t kernel driver, put in place of the backend's system calls
// for the lifetime of a SimDriver (one at a time). It queues incoming
// messages in the driver's byte stream and hands them out in pieces, reports
// POLLIN while a message waits and POLLOUT once a released board is ready,
// records every request, and fails or scripts requests on demand. Board
// requests succeed with nothing to tell unless scripted (an EEPROM read
// reports all bytes asked for).
#ifndef PELK_TESTS_SIM_DRIVER_H
#define PELK_TESTS_SIM_DRIVER_H

#include <poll.h>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <set>
#include <vector>

#include "tests/support/driver_stream.h"
#include "unix/system_calls.h"

class SimDriver {
public:
    struct Request {
        unsigned long code;
        const void* area;              // the argument the driver was handed
        std::vector<uint8_t> block;    // the send request, or the area's first word
        std::vector<uint8_t> payload;  // a send: the bytes behind the address
    };
    struct Reply {  // a lying driver: these bytes and this count
        int count;
        std::vector<uint8_t> bytes;
    };

    SimDriver();
    ~SimDriver();
    SimDriver(const SimDriver&) = delete;
    SimDriver& operator=(const SimDriver&) = delete;

    void Queue(std::vector<uint8_t> stream);  // one incoming message

    // Device node.
    int openError = 0;  // open fails with this errno
    int dupError = 0;   // F_DUPFD_CLOEXEC fails with this errno
    int openFlags = 0;
    int dupCommand = 0;
    std::set<int> openFds;

    // Requests and faults.
    bool record = true;
    std::vector<Request> requests;
    std::map<unsigned long, std::vector<int>> faults;  // the next requests fail: errno each
    std::map<unsigned long, Reply> replies;
    // A scripted driver: when set and returning true, its *result (reply
    // count, or -1 with errno set) answers the request in place of the
    // faults, replies and simulation. Called with the lock held.
    std::function<bool(unsigned long code, uint8_t* area, int* result)> answer;

    // Readiness.
    bool loopback = false;        // each sent message comes back as incoming
    short readyEvents = POLLOUT;  // reported to POLLOUT once a board is released
    int pollInterrupts = 0;       // polls that fail with EINTR first
    short extraEvents = 0;        // reported by every poll beside the readiness
    bool pollSleeps = false;      // nothing ready: sleep the time-out as poll does
    std::vector<int> pollTimeouts;
    bool boardReady = false;

private:
    static int Open(const char* path, int flags, ...);
    static int Fcntl(int fd, int cmd, ...);
    static int Close(int fd);
    static int Ioctl(int fd, unsigned long code, ...);
    static int Poll(struct pollfd* fds, nfds_t count, int timeoutMs);

    int Handle(unsigned long code, uint8_t* area);
    int Copy(uint8_t* area, const void* from, size_t length);
    int TakeSend(const PK_SEND_REQUEST& send);
    int NextFd(int from) const;

    // Incoming messages in a ring whose slots keep their capacity, so a
    // steady loopback allocates nothing.
    static constexpr size_t kRingSlots = 64;
    UnixSystemCalls m_saved;
    mutable std::mutex m_lock;
    std::vector<std::vector<uint8_t>> m_ring;
    size_t m_head = 0;
    size_t m_queued = 0;
    std::vector<uint8_t> m_current;  // message being taken in pieces
    size_t m_position = 0;
    std::vector<uint8_t> m_assembly;  // loopback: message being sent
    uint64_t m_assemblyMissing = 0;
};

#endif
