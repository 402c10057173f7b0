// The stream of one open remote object, one Board.Session call to pelkd.
// Requests go out in order, each with an ID; a reply is handed to the caller
// that waits for that ID, and a reply whose caller has given up is dropped,
// never taken for a later request. The messages pelkd pushes wait in a queue
// until the object's caller receives them; as they are taken, the stream
// grants pelkd credit for more, so the queue stays bounded.
//
// The stream's reactions (a read, a write or the call done) run on gRPC's
// own threads; callers wait on a condition variable. Nothing is released in
// a reaction: the stream, and its channel with it, goes on its owner's
// thread once the call is done (a channel let go on one of gRPC's threads
// would stop gRPC's callback threads from one of them).
#ifndef PELK_REMOTE_SESSION_STREAM_H
#define PELK_REMOTE_SESSION_STREAM_H

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "protocol/pelk_protocol.h"
#include "remote/connection.h"

class SessionStream final
    : public grpc::ClientBidiReactor<pelk::v1::SessionRequest, pelk::v1::SessionEvent> {
public:
    // Bytes of messages pelkd may push before the client takes any.
    static constexpr uint64_t kCreditWindow = 8u << 20;

    // Starts the call on connection. wakeFd (an eventfd) is made readable
    // while a message waits or once the stream has ended, and read empty
    // otherwise.
    static std::unique_ptr<SessionStream> Start(const Connection& connection, int wakeFd);
    ~SessionStream() override = default;

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
    // Cancels the call, lets go of wakeFd and waits until the call is done;
    // the stream may then be deleted.
    void Close();

    void OnReadDone(bool ok) override;
    void OnWriteDone(bool ok) override;
    void OnDone(const grpc::Status& status) override;

private:
    SessionStream(const Connection& connection, int wakeFd);
    // Queues a request to write (under m_lock); starts it when none is
    // being written.
    void QueueWrite(std::unique_ptr<pelk::v1::SessionRequest> request);
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
    pelk::v1::SessionEvent m_event;  // the read in progress

    std::mutex m_lock;
    std::condition_variable m_changed;
    std::deque<std::unique_ptr<pelk::v1::SessionRequest>> m_writes;  // the first is being written
    std::map<uint64_t, Waiting> m_waiting;
    std::deque<std::unique_ptr<pelk::v1::Message>> m_messages;
    uint64_t m_next_id = 1;
    uint64_t m_consumed = 0;  // bytes taken since the last credit granted
    bool m_reading = true;    // a read is outstanding: writes may start
    bool m_done = false;      // OnDone has run
    std::string m_end_reason;
    int m_wake_fd;
    bool m_wake_signalled = false;
};

#endif
