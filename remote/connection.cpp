#include "remote/connection.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <mutex>
#include <vector>

#include "protocol/pelk_protocol.h"
#include "services/settings.h"
#include "wire/pem_file.h"
#include "wire/tcp_address.h"

namespace {

constexpr size_t kMaxTargetLength = 4096;

// The files of a client's TLS; "" when all are set and read.
std::string ReadTlsFiles(grpc::SslCredentialsOptions* options) {
    const char* ca = SettingTlsCa();
    const char* cert = SettingTlsCert();
    const char* key = SettingTlsKey();
    std::string missing;
    for (const auto& [value, name] : {std::make_pair(ca, "PELK_TLS_CA (the CA that signed pelkd's "
                                                         "certificate)"),
                                      std::make_pair(cert, "PELK_TLS_CERT (this client's "
                                                           "certificate)"),
                                      std::make_pair(key, "PELK_TLS_KEY (its private key)")}) {
        if (value == nullptr) {
            missing += missing.empty() ? name : std::string(", ") + name;
        }
    }
    if (!missing.empty()) {
        return "pelkd is reached over TCP with TLS: set " + missing;
    }
    std::string problem = ReadPemFile(ca, PemKind::Certificate, &options->pem_root_certs);
    if (problem.empty()) {
        problem = ReadPemFile(cert, PemKind::Certificate, &options->pem_cert_chain);
    }
    if (problem.empty()) {
        problem = ReadPemFile(key, PemKind::PrivateKey, &options->pem_private_key);
    }
    return problem;
}

bool NoTlsFileNamed() {
    return SettingTlsCa() == nullptr && SettingTlsCert() == nullptr && SettingTlsKey() == nullptr;
}

// The credentials for target and the name gRPC is given; "" or the problem.
std::string Credentials(const std::string& target, std::string* grpcTarget,
                        std::shared_ptr<grpc::ChannelCredentials>* credentials) {
    if (target.compare(0, 5, "unix:") == 0) {
        if (target.size() == 5) {
            return "target " + target + " names no socket: unix:PATH";
        }
        *grpcTarget = target;
        *credentials = grpc::InsecureChannelCredentials();
        return "";
    }
    const std::string address = target.compare(0, 4, "tcp:") == 0 ? target.substr(4) : target;
    std::string host;
    unsigned int port;
    if (!SplitHostPort(address, &host, &port)) {
        return "target " + target + " is neither unix:PATH nor HOST:PORT";
    }
    *grpcTarget = address;
    if (IsLoopbackHost(host) && NoTlsFileNamed()) {
        *credentials = grpc::InsecureChannelCredentials();
        return "";
    }
    grpc::SslCredentialsOptions options;
    std::string problem = ReadTlsFiles(&options);
    if (problem.empty()) {
        *credentials = grpc::SslCredentials(options);
    }
    return problem;
}

grpc::ChannelArguments ChannelSettings() {
    grpc::ChannelArguments arguments;
    arguments.SetInt(GRPC_ARG_KEEPALIVE_TIME_MS, kKeepaliveIntervalMs);
    arguments.SetInt(GRPC_ARG_KEEPALIVE_TIMEOUT_MS, kKeepaliveTimeoutMs);
    arguments.SetInt(GRPC_ARG_KEEPALIVE_PERMIT_WITHOUT_CALLS, 1);
    arguments.SetInt(GRPC_ARG_HTTP2_MAX_PINGS_WITHOUT_DATA, 0);
    arguments.SetMaxReceiveMessageSize(kMaxGrpcMessage);
    arguments.SetMaxSendMessageSize(kMaxGrpcMessage);
    // A connection of the object's own: a connection another object lost
    // (and its reconnection back-off) never stands in the way.
    arguments.SetInt(GRPC_ARG_USE_LOCAL_SUBCHANNEL_POOL, 1);
    // A request is sent once: a retried send would reach the board twice.
    arguments.SetInt(GRPC_ARG_ENABLE_RETRIES, 0);
    return arguments;
}

std::mutex s_standardLock;
int s_standardHolders = 0;
std::vector<int> s_standardPlaceholders;

}  // namespace

StandardDescriptorsTaken::StandardDescriptorsTaken() {
    std::lock_guard<std::mutex> hold(s_standardLock);
    if (s_standardHolders++ > 0) {
        return;
    }
    for (;;) {
        const int fd = open("/dev/null", O_RDWR | O_CLOEXEC);
        if (fd > 2) {
            close(fd);
        }
        if (fd < 0 || fd > 2) {
            break;
        }
        s_standardPlaceholders.push_back(fd);
    }
}

StandardDescriptorsTaken::~StandardDescriptorsTaken() {
    std::lock_guard<std::mutex> hold(s_standardLock);
    if (--s_standardHolders > 0) {
        return;
    }
    for (int fd : s_standardPlaceholders) {
        close(fd);
    }
    s_standardPlaceholders.clear();
}

void PrepareCall(grpc::ClientContext* context, long long deadlineMs) {
    context->AddMetadata(kProtocolKey, kProtocolValue);
    if (deadlineMs >= 0) {
        context->set_deadline(std::chrono::system_clock::now() +
                              std::chrono::milliseconds(deadlineMs));
    }
}

std::string DescribeFailure(const grpc::Status& status, const std::string& target) {
    const std::string at = "pelkd at " + target;
    const std::string said = status.error_message();
    switch (status.error_code()) {
        case grpc::StatusCode::UNAVAILABLE:
            return at + " cannot be reached (" + said +
                   "): is pelkd running and listening there, and do both sides' TLS settings "
                   "match?";
        case grpc::StatusCode::DEADLINE_EXCEEDED:
            return at + " did not answer in time (" + said +
                   "): is the host reachable and pelkd not stopped?";
        case grpc::StatusCode::UNIMPLEMENTED:
            return target + " does not serve pelk protocol " + kProtocolValue + " (" + said +
                   "): is it a pelkd of this library's version?";
        case grpc::StatusCode::CANCELLED: return at + ": the call was cancelled (" + said + ")";
        case grpc::StatusCode::FAILED_PRECONDITION:
        case grpc::StatusCode::RESOURCE_EXHAUSTED:
        case grpc::StatusCode::PERMISSION_DENIED:
        case grpc::StatusCode::INVALID_ARGUMENT: return at + " refused: " + said;
        default:
            return at + " failed (gRPC status " + std::to_string(status.error_code()) +
                   "): " + said;
    }
}

bool Connect(const char* target, Connection* connection, std::string* problem) {
    const std::string named(target, strnlen(target, kMaxTargetLength + 1));
    if (named.size() > kMaxTargetLength) {
        *problem = "target longer than 4096 bytes";
        return false;
    }
    // From here gRPC may start (its first credentials start it): what it
    // opens meanwhile must not take a closed 0, 1 or 2.
    StandardDescriptorsTaken standard;
    std::string grpcTarget;
    std::shared_ptr<grpc::ChannelCredentials> credentials;
    *problem = Credentials(named, &grpcTarget, &credentials);
    if (!problem->empty()) {
        return false;
    }
    auto channel = grpc::CreateCustomChannel(grpcTarget, credentials, ChannelSettings());
    pelk::v1::VersionRequest request;
    request.set_protocol(kProtocolVersion);
    request.set_library(PELK_VERSION_TEXT);
    pelk::v1::VersionReply reply;
    grpc::ClientContext context;
    PrepareCall(&context, kConnectMs);
    const grpc::Status status =
        pelk::v1::Version::NewStub(channel)->Exchange(&context, request, &reply);
    if (!status.ok()) {
        *problem = DescribeFailure(status, named);
        return false;
    }
    if (reply.protocol() != kProtocolVersion) {
        *problem = "pelkd at " + named + " (pelkd " + reply.pelkd() + ") speaks pelk protocol " +
                   std::to_string(reply.protocol()) + ", this library (" + PELK_VERSION_TEXT +
                   ") speaks protocol " + kProtocolValue +
                   ": use a library and a pelkd of the same protocol";
        return false;
    }
    connection->channel = channel;
    connection->target = named;
    return true;
}
