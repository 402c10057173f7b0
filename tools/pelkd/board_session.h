// One session of pelkd's Board service: the board object of this host that
// one remote object stands for, and the stream it is reached through.
//
// The first request opens the object; the stream's thread then runs each
// request on it in order and writes its reply. A thread of the session's own
// waits for messages on the object's wait handle and pushes each, whole, as
// far as the client has granted credit: a client that does not receive holds
// the messages back in the board's own queue, as a local caller would. The
// two threads use the object as the kernel driver allows: one sends and
// runs board operations while the other receives.
#ifndef PELK_TOOLS_PELKD_BOARD_SESSION_H
#define PELK_TOOLS_PELKD_BOARD_SESSION_H

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include <pelklib.h>

#include "protocol/pelk_protocol.h"

using SessionStreamIO = grpc::ServerReaderWriterInterface<grpc::ByteBuffer, grpc::ByteBuffer>;

class BoardSession {
public:
    // client names the client in pelkd's log ("uid 1000").
    BoardSession(SessionStreamIO* stream, std::string client, bool verbose);
    ~BoardSession();
    BoardSession(const BoardSession&) = delete;
    BoardSession& operator=(const BoardSession&) = delete;

    // Serves the stream until the client ends it; an error status for a
    // request that breaks the protocol.
    grpc::Status Run();

private:
    // The next request: true with *request; false at the stream's end, or
    // with *refusal for bytes that are no request.
    bool Read(pelk::v1::SessionRequest* request, grpc::Status* refusal);
    grpc::Status OpenObject(const pelk::v1::SessionRequest& request);
    // Runs one request after the first: its reply, or an error status.
    grpc::Status Serve(const pelk::v1::SessionRequest& request);
    void Answer(uint64_t id, int status, pelk::v1::Reply* reply);
    bool Write(const pelk::v1::SessionEvent& event);
    // The thread that pushes messages, and one receive into *message.
    void PushMessages();
    void ReceiveOne(pelk::v1::Message* message);
    void StopPushing();

    SessionStreamIO* m_stream;
    const std::string m_client;
    const bool m_verbose;
    std::unique_ptr<cPelkLib, void (*)(cPelkLib*)> m_object;
    unsigned int m_header_room = PK_MAX_HEADER_LEN;  // the largest header the object takes
    uint64_t m_requests = 0;                         // read so far
    std::mutex m_write_lock;                         // one write to the stream at a time
    std::thread m_pusher;
    int m_stop_fd = -1;  // readable once the pusher is to stop

    std::mutex m_credit_lock;
    std::condition_variable m_credit_changed;
    int64_t m_credit = 0;  // bytes the client will take
    bool m_stopping = false;
};

#endif
