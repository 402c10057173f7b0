// Who may reach pelkd, and how: mutual TLS on TCP (a certificate of another
// CA and plain text refused), plain text only on loopback when asked for;
// the Unix socket's directory, mode, group and lock; the session limits;
// gRPC's health service and reflection for standard tools.
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>

#include <gmock/gmock.h>
#include <grpcpp/generic/generic_stub.h>
#include <grpcpp/grpcpp.h>
#include <gtest/gtest.h>

#include <pelklib.h>

#include "support/log_lines.h"
#include "support/remote_fixture.h"
#include "support/test_ca.h"

namespace {

using testing::HasSubstr;

class RemoteAccess : public RemoteTest {
protected:
    RemoteAccess() : RemoteTest(false) {}
    void TearDown() override {
        for (const char* name : {"PELK_TLS_CA", "PELK_TLS_CERT", "PELK_TLS_KEY"}) unsetenv(name);
        RemoteTest::TearDown();
    }
    static int OpenStatus(const std::string& target) {
        Lib lib(NewPelkLibRemote(target.c_str(), PELKLIB_DRIVER_ZBHOST, 0), deletePelkLib);
        return lib->Open(56, nullptr);
    }
    static void UseTls(const std::string& ca, const std::string& cert, const std::string& key) {
        setenv("PELK_TLS_CA", ca.c_str(), 1);
        setenv("PELK_TLS_CERT", cert.c_str(), 1);
        setenv("PELK_TLS_KEY", key.c_str(), 1);
    }
    // pelkd's exit status and what it said, for a start that must fail.
    static std::pair<int, std::string> Refused(std::vector<std::string> options,
                                               std::vector<std::string> environment = {}) {
        Pelkd pelkd(options, environment);
        EXPECT_TRUE(pelkd.Targets().empty());
        const int status = pelkd.Stop(SIGKILL);
        return {status, pelkd.Errors()};
    }
};

TEST_F(RemoteAccess, TcpNeedsMutualTlsOrALoopbackAskedForPlainText) {
    TestCa good(m_dir, "good"), other(m_dir, "other");
    ASSERT_TRUE(good.made && other.made);
    Pelkd pelkd({"--listen", "tcp:127.0.0.1:0", "--tls-cert", good.serverCert, "--tls-key",
                 good.serverKey, "--tls-client-ca", good.ca});
    ASSERT_EQ(pelkd.Targets().size(), 1u) << pelkd.Errors();
    const std::string target = pelkd.Target();
    LogLines log;
    UseTls(good.ca, good.clientCert, good.clientKey);
    EXPECT_EQ(OpenStatus(target), 0);
    EXPECT_EQ(OpenStatus("localhost:" + target.substr(target.rfind(':') + 1)), 0);
    UseTls(good.ca, other.clientCert, other.clientKey);  // a client of another CA
    EXPECT_EQ(OpenStatus(target), PKERR_NOT_OPEN);
    UseTls(other.ca, good.clientCert, good.clientKey);  // a server it does not trust
    EXPECT_EQ(OpenStatus(target), PKERR_NOT_OPEN);
    chmod(good.clientKey.c_str(), 0644);
    UseTls(good.ca, good.clientCert, good.clientKey);
    EXPECT_EQ(OpenStatus(target), PKERR_NOT_OPEN);
    EXPECT_THAT(log.Text(), HasSubstr("a private key that others may use (mode 0644): chmod o= "));
    for (const char* name : {"PELK_TLS_CA", "PELK_TLS_CERT", "PELK_TLS_KEY"}) unsetenv(name);
    EXPECT_EQ(OpenStatus(target), PKERR_NOT_OPEN);  // plain text
    EXPECT_THAT(log.Text(), HasSubstr("cannot be reached"));

    Pelkd plain({"--listen", "tcp:127.0.0.1:0", "--insecure-loopback"});
    ASSERT_EQ(plain.Targets().size(), 1u) << plain.Errors();
    EXPECT_EQ(OpenStatus(plain.Target()), 0);

    const struct {
        std::vector<std::string> options;
        const char* says;
    } refusals[] = {
        {{"--listen", "tcp:127.0.0.1:0"}, "needs mutual TLS"},
        {{"--listen", "tcp:0.0.0.0:0", "--insecure-loopback"}, "plain text only on a loopback"},
        {{"--listen", "tcp:127.0.0.1:0", "--tls-cert", good.serverCert}, "go together"},
        {{"--listen", "tcp:nowhere"}, "tcp: needs HOST:PORT"},
        {{"--listen", "unix:relative"}, "absolute path"},
    };
    for (const auto& refusal : refusals) {
        const auto [status, said] = Refused(refusal.options);
        EXPECT_NE(status, 0);
        EXPECT_THAT(said, HasSubstr(refusal.says));
    }
}

std::string ModeOf(const std::string& path, gid_t* group = nullptr) {
    struct stat status;
    if (lstat(path.c_str(), &status) != 0) return "missing";
    if (group != nullptr) *group = status.st_gid;
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(status.st_mode & 07777));
    return text;
}

TEST_F(RemoteAccess, TheUnixSocketFollowsTheAccessRules) {
    const std::string runtime = m_dir + "/run";
    {
        Pelkd pelkd({}, {"PELK_RUNTIME_DIR=" + runtime});
        ASSERT_EQ(pelkd.Target(), "unix:" + runtime + "/pelkd.sock") << pelkd.Errors();
        EXPECT_EQ(ModeOf(runtime), "0755");
        EXPECT_EQ(ModeOf(runtime + "/pelkd.sock"), "0666");
        EXPECT_EQ(OpenStatus(pelkd.Target()), 0);
        const auto [second, said] = Refused({}, {"PELK_RUNTIME_DIR=" + runtime});
        EXPECT_EQ(second, 1);
        EXPECT_THAT(said, HasSubstr("another pelkd serves " + runtime + "/pelkd.sock"));
        EXPECT_EQ(pelkd.Stop(), 0);
    }
    EXPECT_EQ(ModeOf(runtime + "/pelkd.sock"), "missing");

    // Under the group policy: the directory set-group-ID for the group, the
    // socket 0660 of it.
    const struct group* daemon = getgrnam("daemon");
    ASSERT_NE(daemon, nullptr);
    {
        Pelkd grouped({}, {"PELK_RUNTIME_DIR=" + runtime, "PELK_GROUP=daemon"});
        ASSERT_EQ(grouped.Targets().size(), 1u) << grouped.Errors();
        gid_t directoryGroup = 0, socketGroup = 0;
        EXPECT_EQ(ModeOf(runtime, &directoryGroup), "2750");
        EXPECT_EQ(ModeOf(runtime + "/pelkd.sock", &socketGroup), "0660");
        EXPECT_EQ(directoryGroup, daemon->gr_gid);
        EXPECT_EQ(socketGroup, daemon->gr_gid);
    }

    // Directories and names it does not take.
    const std::string loose = m_dir + "/loose", link = m_dir + "/link", squat = m_dir + "/squat";
    ASSERT_EQ(mkdir(loose.c_str(), 0777), 0);
    ASSERT_EQ(chmod(loose.c_str(), 0777), 0);
    ASSERT_EQ(symlink(runtime.c_str(), link.c_str()), 0);
    ASSERT_EQ(mkdir(squat.c_str(), 0755), 0);
    ASSERT_EQ(RunProgram("touch " + squat + "/pelkd.sock").exitCode, 0);
    const struct {
        std::vector<std::string> options, environment;
        const char* says;
    } refusals[] = {
        {{"--listen", "unix:" + loose + "/pelkd.sock"},
         {},
         "may be written by every user (mode 0777)"},
        {{}, {"PELK_RUNTIME_DIR=" + link}, "a symbolic link is not followed"},
        {{"--listen", "unix:" + squat + "/pelkd.sock"},
         {},
         "exists and is not a socket pelkd left"},
    };
    for (const auto& refusal : refusals) {
        const auto [status, said] = Refused(refusal.options, refusal.environment);
        EXPECT_EQ(status, 1);
        EXPECT_THAT(said, HasSubstr(refusal.says));
    }

    // Started with its standard descriptors closed, it keeps none of its
    // own there.
    const ProgramResult started =
        RunProgram("(exec 0<&- 1>&- 2>&- " + std::string(PELKD_PATH) + " --listen unix:" + m_dir +
                   "/bare.sock) & sleep 1; "
                   "readlink /proc/$!/fd/0 /proc/$!/fd/1 /proc/$!/fd/2; kill $!");
    EXPECT_EQ(started.output, "/dev/null\n/dev/null\n/dev/null\n");
}

TEST_F(RemoteAccess, SessionsPerClientAreLimited) {
    Pelkd pelkd({"--listen", "unix:" + m_dir + "/pelkd.sock", "--client-sessions", "2"});
    ASSERT_EQ(pelkd.Targets().size(), 1u) << pelkd.Errors();
    LogLines log;
    Lib first(NewPelkLibRemote(pelkd.Target().c_str(), PELKLIB_DRIVER_ZBHOST, 0), deletePelkLib);
    Lib second(NewPelkLibRemote(pelkd.Target().c_str(), PELKLIB_DRIVER_ZBHOST, 0), deletePelkLib);
    ASSERT_EQ(first->Open(56, nullptr), 0);
    ASSERT_EQ(second->Open(56, nullptr), 0);
    EXPECT_EQ(OpenStatus(pelkd.Target()), PKERR_NOT_OPEN);
    EXPECT_THAT(log.Text(),
                HasSubstr("uid 0 has 2 sessions open, the most pelkd allows one client"));
    first.reset();
    EXPECT_EQ(OpenStatus(pelkd.Target()), 0);
}

// One unary call by hand: the reply's bytes, or the status's message.
std::string RawCall(const std::string& target, const std::string& method,
                    const std::string& request) {
    grpc::GenericStub stub(grpc::CreateChannel(target, grpc::InsecureChannelCredentials()));
    grpc::ClientContext context;
    grpc::CompletionQueue queue;
    grpc::Slice slice(request);
    grpc::ByteBuffer sent(&slice, 1), reply;
    auto call = stub.PrepareCall(&context, method, &queue);
    void* tag;
    bool ok;
    call->StartCall(reinterpret_cast<void*>(1));
    queue.Next(&tag, &ok);
    call->WriteLast(sent, grpc::WriteOptions(), reinterpret_cast<void*>(2));
    queue.Next(&tag, &ok);
    call->Read(&reply, reinterpret_cast<void*>(3));
    queue.Next(&tag, &ok);
    grpc::Status status;
    call->Finish(&status, reinterpret_cast<void*>(4));
    queue.Next(&tag, &ok);
    std::vector<grpc::Slice> slices;
    if (!status.ok() || !reply.Dump(&slices).ok()) return status.error_message();
    std::string bytes;
    for (const grpc::Slice& part : slices)
        bytes.append(reinterpret_cast<const char*>(part.begin()), part.size());
    return bytes;
}

TEST_F(RemoteAccess, HealthAndReflectionAnswerStandardTools) {
    Pelkd pelkd({"--listen", "unix:" + m_dir + "/pelkd.sock"});
    ASSERT_EQ(pelkd.Targets().size(), 1u) << pelkd.Errors();
    // HealthCheckResponse{status: SERVING}.
    EXPECT_EQ(RawCall(pelkd.Target(), "/grpc.health.v1.Health/Check", ""),
              std::string("\x08\x01", 2));
    // ServerReflectionRequest{list_services: ""}.
    const std::string services =
        RawCall(pelkd.Target(), "/grpc.reflection.v1alpha.ServerReflection/ServerReflectionInfo",
                std::string("\x3a\x00", 2));
    for (const char* service :
         {"pelk.v1.Version", "pelk.v1.Table", "pelk.v1.Board", "grpc.health.v1.Health"}) {
        EXPECT_THAT(services, HasSubstr(service));
    }
}

}  // namespace
