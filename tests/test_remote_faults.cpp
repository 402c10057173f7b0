// What a remote object does when pelkd, the network or the other side
// fails: statuses within stated bounds, never a hang; no late answer taken
// for a later request; versions that differ named; malformed and oversized
// requests refused while pelkd serves the others; no SIGPIPE; standard
// descriptors and fork left alone.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <future>
#include <memory>
#include <thread>

#include <gmock/gmock.h>
#include <grpcpp/generic/generic_stub.h>
#include <grpcpp/grpcpp.h>
#include <gtest/gtest.h>

#include <pelklib.h>

#include "protocol/pelk_protocol.h"
#include "support/child_process.h"
#include "support/log_lines.h"
#include "support/remote_fixture.h"

namespace {

using testing::HasSubstr;
using Clock = std::chrono::steady_clock;

// The keepalive finds a dead peer within 10 s; a slow machine gets 4 more.
constexpr auto kDeadPeerBound = std::chrono::seconds(14);

class RemoteFaults : public RemoteTest {
protected:
    Lib Open() {
        Lib lib = Make();
        EXPECT_EQ(lib->Open(56, nullptr), 0);
        return lib;
    }
    static int Ping(cPelkLib& lib, size_t bytes = 16) {
        std::string data(bytes, 'p');
        _PELKOR_MSG_HEADER header = {};
        void* areas[1] = {&data[0]};
        unsigned int lengths[1] = {static_cast<unsigned int>(bytes)};
        int status = lib.SendPelkorMessage(&header, 1, 2, 3, 1, areas, lengths);
        PK_REC_INFO info;
        if (status == 0) status = lib.ReceivePelkorMessage(&info, 5000, &header);
        if (status == 0) status = lib.ReceiveBuffers(info.bufLen, areas);
        return status;
    }
    // Receives without limit on another thread while fault() runs; the
    // receive's status and how long after the fault it came.
    static std::pair<int, Clock::duration> ReceiveThrough(cPelkLib& lib,
                                                          const std::function<void()>& fault) {
        auto receive = std::async(std::launch::async, [&lib] {
            PK_REC_INFO info;
            _PELKOR_MSG_HEADER header;
            return lib.ReceivePelkorMessage(&info, 0xFFFFFFFF, &header);
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        const Clock::time_point start = Clock::now();
        fault();
        const int status = receive.get();
        return {status, Clock::now() - start};
    }
};

TEST_F(RemoteFaults, AKilledPelkdEndsAReceiveAndARestartedOneIsReachedByOpen) {
    LogLines log;
    Lib lib = Open();
    ASSERT_EQ(Ping(*lib), 0);
    const auto [status, after] = ReceiveThrough(*lib, [this] { m_pelkd->Stop(SIGKILL); });
    EXPECT_EQ(status, PKERR_NOT_OPEN);
    EXPECT_LT(after, std::chrono::seconds(2));
    EXPECT_THAT(log.Text(), HasSubstr("ReceiveMessage: "));
    EXPECT_THAT(log.Text(), HasSubstr("Open the object again"));
    EXPECT_EQ(Ping(*lib), PKERR_NOT_OPEN);
    EXPECT_EQ(lib->Open(56, nullptr), PKERR_NOT_OPEN);
    EXPECT_THAT(log.Text(), HasSubstr("pelkd at unix:" + m_socket + " cannot be reached"));

    StartPelkd();  // on the socket the killed one left
    ASSERT_EQ(lib->Open(56, nullptr), 0);
    EXPECT_EQ(Ping(*lib), 0);
}

TEST_F(RemoteFaults, AStoppedPelkdIsFoundDeadWithinTheKeepaliveBound) {
    Lib lib = Open();
    auto [status, after] = ReceiveThrough(*lib, [this] { m_pelkd->Signal(SIGSTOP); });
    EXPECT_EQ(status, PKERR_NOT_OPEN);
    EXPECT_LT(after, kDeadPeerBound);
    // A request in flight when it stops ends alike; its late answer never
    // reaches the next session.
    m_pelkd->Signal(SIGCONT);
    ASSERT_EQ(lib->Open(56, nullptr), 0);
    auto version = std::async(std::launch::async, [&lib] {
        unsigned int first = 7, second = 7;
        lib->GetBoardData(0, 0, nullptr, &first);
        _PELKOR_MSG_HEADER header = {};
        const int sent = lib->SendPelkorMessage(&header, 1, 2, 3, 0, nullptr, nullptr);
        return std::make_pair(sent, first + second);
    });
    m_pelkd->Signal(SIGSTOP);
    const Clock::time_point start = Clock::now();
    const int sent = version.get().first;
    EXPECT_LT(Clock::now() - start, kDeadPeerBound);
    m_pelkd->Signal(SIGCONT);
    if (sent == PKERR_NOT_OPEN) {
        ASSERT_EQ(lib->Open(56, nullptr), 0);
        PK_REC_INFO info;
        char header[56];
        unsigned int length;
        EXPECT_EQ(lib->ReceiveMessage(&info, 300, sizeof header, header, &length), PKERR_TIMEOUT);
        EXPECT_EQ(Ping(*lib), 0);
    }
}

double CpuSeconds(pid_t pid) {
    const ProgramResult stat =
        RunProgram("cut -d' ' -f14,15 /proc/" + std::to_string(pid) + "/stat");
    long user = 0, system = 0;
    std::sscanf(stat.output.c_str(), "%ld %ld", &user, &system);
    return static_cast<double>(user + system) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// zbhost gone under an object: every receive gives what it gives locally,
// and pelkd does not go on receiving from the dead pipes.
TEST_F(RemoteFaults, ARuntimeThatDiesGivesTheStatusItGivesLocally) {
    Lib remote = Open();
    Lib local(NewPelkLibByType(PELKLIB_DRIVER_ZBHOST), deletePelkLib);
    ASSERT_EQ(local->Open(56, nullptr), 0);
    m_zbhost.Stop(SIGKILL);
    const double before = CpuSeconds(m_pelkd->Pid());
    for (int round = 0; round < 2; ++round) {
        PK_REC_INFO info;
        _PELKOR_MSG_HEADER header;
        const int locally = local->ReceivePelkorMessage(&info, 1000, &header);
        EXPECT_NE(locally, PKERR_TIMEOUT);
        EXPECT_EQ(remote->ReceivePelkorMessage(&info, 1000, &header), locally);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_LT(CpuSeconds(m_pelkd->Pid()) - before, 0.2);
}

TEST_F(RemoteFaults, UnreachableTargetsFailInBoundedTime) {
    LogLines log;
    for (const std::string& target : {"unix:" + m_dir + "/none.sock", std::string("127.0.0.1:1"),
                                      std::string("unix:"), std::string("no-port")}) {
        const Clock::time_point start = Clock::now();
        Lib lib(NewPelkLibRemote(target.c_str(), PELKLIB_DRIVER_ZBHOST, 0), deletePelkLib);
        EXPECT_EQ(lib->Open(56, nullptr), PKERR_NOT_OPEN) << target;
        OAMSHADOW_BOARD boards[1];
        int count = 0;
        EXPECT_EQ(PelklibRemoteCopyTable(target.c_str(), boards, 1, &count, nullptr),
                  OAMSHADOW_ERR_UNAVAILABLE);
        EXPECT_EQ(NewPelkLibRemoteByBoardNumber(target.c_str(), 1), nullptr);
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(3)) << target;
    }
    EXPECT_THAT(log.Text(), HasSubstr("cannot be reached"));
    EXPECT_THAT(log.Text(), HasSubstr("is neither unix:PATH nor HOST:PORT"));
    // Another host is reached over TLS only, never in plain text.
    const Clock::time_point start = Clock::now();
    Lib far(NewPelkLibRemote("192.0.2.1:7001", PELKLIB_DRIVER_ZBHOST, 0), deletePelkLib);
    EXPECT_EQ(far->Open(56, nullptr), PKERR_NOT_OPEN);
    setenv("PELK_TLS_CA", "/nonexistent", 1);
    EXPECT_EQ(far->Open(56, nullptr), PKERR_NOT_OPEN);
    unsetenv("PELK_TLS_CA");
    EXPECT_THAT(log.Text(),
                HasSubstr("reached over TCP with TLS: set PELK_TLS_CA (the CA that signed"));
    EXPECT_THAT(log.Text(), HasSubstr("set PELK_TLS_CERT"));
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));
}

// A server of another protocol, as a newer pelkd would answer.
class NewerVersion final : public pelk::v1::Version::Service {
    grpc::Status Exchange(grpc::ServerContext*, const pelk::v1::VersionRequest*,
                          pelk::v1::VersionReply* reply) override {
        reply->set_protocol(2);
        reply->set_pelkd("2.0.0");
        return grpc::Status::OK;
    }
};

TEST_F(RemoteFaults, VersionsThatDifferAreNamedOnBothSides) {
    LogLines log;
    NewerVersion newer;
    grpc::ServerBuilder builder;
    builder.AddListeningPort("unix:" + m_dir + "/newer.sock", grpc::InsecureServerCredentials());
    builder.RegisterService(&newer);
    std::unique_ptr<grpc::Server> server = builder.BuildAndStart();
    ASSERT_NE(server, nullptr);
    Lib lib(NewPelkLibRemote(("unix:" + m_dir + "/newer.sock").c_str(), PELKLIB_DRIVER_ZBHOST, 0),
            deletePelkLib);
    EXPECT_EQ(lib->Open(56, nullptr), PKERR_NOT_OPEN);
    EXPECT_THAT(log.Text(), HasSubstr("(pelkd 2.0.0) speaks pelk protocol 2, this library (1.0.0) "
                                      "speaks protocol 1"));
    server->Shutdown();

    // An older client, as pelkd sees it: by the exchange and by metadata.
    auto channel = grpc::CreateChannel("unix:" + m_socket, grpc::InsecureChannelCredentials());
    pelk::v1::VersionRequest request;
    request.set_protocol(0);
    request.set_library("0.9.0");
    pelk::v1::VersionReply reply;
    grpc::ClientContext exchange;
    grpc::Status status = pelk::v1::Version::NewStub(channel)->Exchange(&exchange, request, &reply);
    EXPECT_EQ(status.error_code(), grpc::StatusCode::FAILED_PRECONDITION);
    EXPECT_THAT(status.error_message(),
                HasSubstr("the client speaks pelk protocol 0 (library 0.9.0), "
                          "pelkd 1.0.0 speaks protocol 1"));
    grpc::ClientContext resolve;
    resolve.AddMetadata("pelk-protocol", "0");
    pelk::v1::ResolveReply resolved;
    status =
        pelk::v1::Table::NewStub(channel)->Resolve(&resolve, pelk::v1::ResolveRequest(), &resolved);
    EXPECT_EQ(status.error_code(), grpc::StatusCode::FAILED_PRECONDITION);
    EXPECT_THAT(status.error_message(), HasSubstr("protocol 0, pelkd 1.0.0 speaks protocol 1"));
}

// A session stream written by hand: its requests as given, its end status.
grpc::Status RawSession(const std::string& target, const std::vector<grpc::ByteBuffer>& requests) {
    auto channel = grpc::CreateChannel(target, grpc::InsecureChannelCredentials());
    grpc::GenericStub stub(channel);
    grpc::ClientContext context;
    grpc::CompletionQueue queue;
    auto call = stub.PrepareCall(&context, "/pelk.v1.Board/Session", &queue);
    void* tag;
    bool ok;
    call->StartCall(reinterpret_cast<void*>(1));
    queue.Next(&tag, &ok);
    for (const grpc::ByteBuffer& request : requests) {
        call->Write(request, reinterpret_cast<void*>(2));
        queue.Next(&tag, &ok);
    }
    call->WritesDone(reinterpret_cast<void*>(3));
    queue.Next(&tag, &ok);
    grpc::ByteBuffer reply;
    for (ok = true; ok;) {  // read until the stream ends
        call->Read(&reply, reinterpret_cast<void*>(4));
        queue.Next(&tag, &ok);
    }
    grpc::Status status;
    call->Finish(&status, reinterpret_cast<void*>(5));
    queue.Next(&tag, &ok);
    return status;
}

grpc::ByteBuffer Bytes(const std::string& bytes) {
    grpc::Slice slice(bytes);
    return grpc::ByteBuffer(&slice, 1);
}

grpc::ByteBuffer Request(const pelk::v1::SessionRequest& request) {
    return Bytes(request.SerializeAsString());
}

TEST_F(RemoteFaults, MalformedAndOversizedRequestsAreRefusedWhileOthersAreServed) {
    Lib other = Open();
    const std::string target = "unix:" + m_socket;
    pelk::v1::SessionRequest open;
    open.set_id(1);
    open.mutable_open()->set_driver_type(PELKLIB_DRIVER_ZBHOST);
    open.mutable_open()->set_size(56);
    pelk::v1::SessionRequest none;
    none.set_id(2);
    pelk::v1::SessionRequest send;
    send.set_id(3);
    send.mutable_send()->add_buffers(std::string((16u << 20) + (64u << 10), 'x'));
    pelk::v1::SessionRequest qm = open;
    qm.mutable_open()->set_driver_type(PELKLIB_DRIVER_QM);
    const struct {
        std::vector<grpc::ByteBuffer> requests;
        grpc::StatusCode code;
        const char* says;
    } cases[] = {
        {{Bytes("\xff\xff\xff garbage")},
         grpc::StatusCode::INVALID_ARGUMENT,
         "no pelk.v1.SessionRequest"},
        {{Request(none)}, grpc::StatusCode::INVALID_ARGUMENT, "opens its board"},
        {{Request(qm)}, grpc::StatusCode::INVALID_ARGUMENT, "has no backend"},
        {{Request(open), Request(none)}, grpc::StatusCode::INVALID_ARGUMENT, "names no operation"},
        {{Request(open), Request(open)},
         grpc::StatusCode::INVALID_ARGUMENT,
         "opens its board once"},
        {{Request(open), Request(send)}, grpc::StatusCode::RESOURCE_EXHAUSTED, ""},
    };
    for (const auto& refused : cases) {
        const grpc::Status status = RawSession(target, refused.requests);
        EXPECT_EQ(status.error_code(), refused.code) << status.error_message();
        EXPECT_THAT(status.error_message(), HasSubstr(refused.says));
        EXPECT_EQ(Ping(*other), 0);
    }
    // The library refuses such a message before sending it.
    std::string large((16u << 20) + 1, 'l');
    void* areas[1] = {&large[0]};
    unsigned int lengths[1] = {static_cast<unsigned int>(large.size())};
    _PELKOR_MSG_HEADER header = {};
    EXPECT_EQ(other->SendPelkorMessage(&header, 1, 2, 3, 1, areas, lengths), PKERR_WRONG_BUFSIZE);
    EXPECT_EQ(Ping(*other), 0);
}

TEST_F(RemoteFaults, NoSigpipeNoStandardDescriptorNoForkedCopyDisturbsTheCaller) {
    // pelkd killed under a client sending 4 MiB messages, SIGPIPE at its
    // default action.
    const int sending = WaitChild(StartChild([this] {
        signal(SIGPIPE, SIG_DFL);
        Lib lib = Open();
        const pid_t pelkd = m_pelkd->Pid();
        std::thread killer([pelkd] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            kill(pelkd, SIGKILL);
        });
        int status = 0;
        for (int i = 0; i < 1000 && status == 0; ++i) status = Ping(*lib, 4u << 20);
        killer.join();
        return status == PKERR_NOT_OPEN ? 0 : 1;
    }));
    EXPECT_EQ(sending, 0);
    m_pelkd->Stop(SIGKILL);
    StartPelkd();

    // Standard descriptors closed: none of the remote object's lands there.
    const int closed = WaitChild(StartChild([this] {
        close(0), close(1), close(2);
        Lib lib = Open();
        const bool works = Ping(*lib) == 0 && lib->GetWaitHandle() >= 3;
        const bool stillClosed =
            fcntl(0, F_GETFD) == -1 && fcntl(1, F_GETFD) == -1 && fcntl(2, F_GETFD) == -1;
        return works && stillClosed ? 0 : 1;
    }));
    EXPECT_EQ(closed, 0);

    // A child's copy deleted leaves the parent's connection as it was.
    Lib lib = Open();
    ASSERT_EQ(Ping(*lib), 0);
    cPelkLib* shared = lib.get();
    EXPECT_EQ(WaitChild(StartChild([shared] {
                  deletePelkLib(shared);
                  return 0;
              })),
              0);
    EXPECT_EQ(Ping(*lib), 0);
}

}  // namespace
