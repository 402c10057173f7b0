// The stream of one open remote object, one Board.Session call to pelkd.
// Requests go out in order, each with an ID; a reply is handed to the caller
// that waits for that ID, and a reply whose caller has given up is dropped,
// never taken for a later request. The messages pelkd pushes wait in a queue
// until the object's caller receives them; as they are taken, the stream
// grants pelkd credit for more, so the queue stays bounded.
//
// A thread of the stream's own runs its completion queue: it reads the
// stream all the time, so that the wait handle tells when a message waits
// while the caller is elsewhere and pelkd's answers never wait for the
// caller, and it starts each queued write when the one before is done.
// Callers start writes themselves and wait on a condition variable.
#ifndef PELK_REMOTE_SESSION_STREAM_H
#define PELK_REMOTE_SESSION_STREAM_H

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "protocol/pelk_protocol.h"
#include "remote/connection.h"

class SessionStream {
public:
    // Bytes of messages pelkd may push before the client takes any.
    static constexpr uint64_t kCreditWindow = 8u << 20;

    // Starts the call on connection. wakeFd (an eventfd) is made readable
    // while a message waits or once the stream has ended, and read empty
    // otherwise.
    static std::unique_ptr<SessionStream> Start(const Connection& connection, int wakeFd);
    // Close()s it.
    ~SessionStream();
    SessionStream(const SessionStream&) = delete;
    SessionStream& operator=(const SessionStream&) = delete;

    // Sends request with the next ID and waits up to deadlineMs (negative:
    // without limit) for its reply. False, with *problem, when the stream has
    // ended or the reply did not come in time (the stream is then ended).
    bool Call(pelk::v1::SessionRequest request, long long deadlineMs, pelk::v1::Reply* reply,
              std::string* problem);

    enum class Wait { Message, TimedOut, Ended };
    // Waits up to timeoutMs (negative: without limit) for a message.
    Wait WaitForMessage(long long timeoutMs);
    // The oldest message waiting, or null; grants pelkd credit for it.
    std::unique_ptr<pelk::v1::Message> TakeMessage();
    // Why the stream ended ("" while it runs).
    std::string EndReason();
    // Cancels the call, lets go of wakeFd and waits until the call is done.
    void Close();

private:
    enum Tag : intptr_t { kStarted = 1, kRead, kWritten, kFinished };

    SessionStream(const Connection& connection, int wakeFd);
    // The stream's thread: runs the completion queue until the call is done.
    void Run();
    // One completion of the queue (under m_lock).
    void Completed(Tag tag, bool ok);
    void Received();
    // Queues a request to write (under m_lock); starts it when none is
    // being written.
    void QueueWrite(std::unique_ptr<pelk::v1::SessionRequest> request);
    void StartWrite();
    // Makes wakeFd readable exactly while a message waits or the stream has
    // ended (under m_lock).
    void UpdateWake();

    struct Waiting {
        bool arrived = false;
        pelk::v1::Reply reply;
    };

    Connection m_connection;
    std::unique_ptr<pelk::v1::Board::Stub> m_stub;
    grpc::ClientContext m_context;
    grpc::CompletionQueue m_queue;
    std::unique_ptr<grpc::ClientAsyncReaderWriter<pelk::v1::SessionRequest, pelk::v1::SessionEvent>>
        m_call;
    pelk::v1::SessionEvent m_event;  // the read in progress
    grpc::Status m_status;           // the call's, once finished
    std::thread m_thread;

    std::mutex m_lock;
    std::condition_variable m_changed;
    std::deque<std::unique_ptr<pelk::v1::SessionRequest>> m_writes;  // the first is being written
    bool m_started = false;  // the call has started: writes may go out
    bool m_writing = false;  // a write is outstanding
    std::map<uint64_t, Waiting> m_waiting;
    std::deque<std::unique_ptr<pelk::v1::Message>> m_messages;
    uint64_t m_next_id = 1;
    uint64_t m_consumed = 0;  // bytes taken since the last credit granted
    bool m_reading = true;    // the stream has not ended: writes may be queued
    bool m_done = false;      // the call has finished
    std::string m_end_reason;
    int m_wake_fd;
    bool m_wake_signalled = false;
};

#endif
