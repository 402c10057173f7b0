// The host manager: answers each 4-byte request on ZBHostManagerIn with a
// pipe number on ZBHostManagerOut, both in the emulator directory.
//
// Both manager FIFOs are held open read/write, so a library's blocking
// opens return at once and no client's leaving ends the service. Clients
// take turns in the handshake, so a reply still unread when the next request
// arrives belongs to a client that died in it; it is read back so that the
// next client does not receive it, and its pair is given up. The replies
// written are remembered in order, so the bytes left in the reply pipe tell
// which ones clients have taken.
#ifndef ZBHOST_MANAGER_H
#define ZBHOST_MANAGER_H

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

class Manager {
public:
    // Creates and opens both manager FIFOs; false with a reason on failure.
    bool Create(std::string* reason);
    // Closes and removes both FIFOs.
    void Remove();

    int RequestFd() const { return m_requests; }

    // Reads requests; returns how many complete 0xBEEF requests arrived.
    // Bytes in front of a request that belong to none are added to `dropped`.
    int TakeRequests(size_t* dropped);
    // Writes one reply. False when the reply pipe cannot take it.
    bool Reply(int32_t number);
    // Returns the pipe numbers whose replies clients have read since the
    // last call (a reply read in part counts as taken).
    std::vector<int32_t> TakenReplies();
    // Reads back the replies nobody took and returns their pipe numbers.
    // Call only when a new request arrived.
    std::vector<int32_t> ReclaimUntakenReplies();

private:
    int m_requests = -1;
    int m_replies = -1;
    std::vector<char> m_partial;
    std::deque<int32_t> m_unread;  // replies written and not known taken, oldest first
};

#endif
