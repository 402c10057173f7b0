#include "tools/pelkd/pelkd_server.h"

#include <chrono>

#include <grpcpp/ext/proto_server_reflection_plugin.h>
#include <grpcpp/health_check_service_interface.h>

#include "wire/pem_file.h"

namespace {

// pelkd pings a client whose connection is idle every 10 s and drops it
// when the ping is not answered within 5 s, ending its sessions.
constexpr int kClientKeepaliveMs = 10000;
constexpr int kClientKeepaliveTimeoutMs = 5000;
constexpr auto kStopGrace = std::chrono::seconds(2);

std::string GrpcAddress(const ListenAddress& address) {
    const bool v6 = address.host.find(':') != std::string::npos;
    return (v6 ? "[" + address.host + "]" : address.host) + ":" + std::to_string(address.port);
}

}  // namespace

PelkdServer::PelkdServer(const PelkdSettings& settings)
    : m_settings(settings),
      m_limits(settings.clientSessions, settings.sessions),
      m_board(m_users, m_limits, settings.verbose) {}

PelkdServer::~PelkdServer() {
    Stop();
}

std::string PelkdServer::AddTcp(grpc::ServerBuilder& builder, const ListenAddress& address,
                                int* chosenPort) {
    const std::string named = "--listen " + address.Text();
    std::shared_ptr<grpc::ServerCredentials> credentials;
    if (!m_settings.tlsCert.empty()) {
        grpc::SslServerCredentialsOptions options(
            GRPC_SSL_REQUEST_AND_REQUIRE_CLIENT_CERTIFICATE_AND_VERIFY);
        grpc::SslServerCredentialsOptions::PemKeyCertPair pair;
        std::string problem =
            ReadPemFile(m_settings.tlsCert.c_str(), PemKind::Certificate, &pair.cert_chain);
        if (problem.empty()) {
            problem =
                ReadPemFile(m_settings.tlsKey.c_str(), PemKind::PrivateKey, &pair.private_key);
        }
        if (problem.empty()) {
            problem = ReadPemFile(m_settings.tlsClientCa.c_str(), PemKind::Certificate,
                                  &options.pem_root_certs);
        }
        if (!problem.empty()) {
            return problem;
        }
        options.pem_key_cert_pairs.push_back(pair);
        credentials = grpc::SslServerCredentials(options);
        m_listening.push_back(address.Text() + " (TLS, clients of " + m_settings.tlsClientCa + ")");
    } else if (m_settings.insecureLoopback && address.loopback) {
        credentials = grpc::InsecureServerCredentials();
        m_listening.push_back(address.Text() + " (plain text, loopback)");
    } else if (m_settings.insecureLoopback) {
        return named + ": --insecure-loopback allows plain text only on a loopback address "
                       "(127.0.0.1, [::1], localhost)";
    } else {
        return named + " needs mutual TLS: --tls-cert, --tls-key and --tls-client-ca (plain "
                       "text only on a loopback address with --insecure-loopback)";
    }
    builder.AddListeningPort(GrpcAddress(address), credentials, chosenPort);
    return "";
}

std::string PelkdServer::Start() {
    // The sockets first, before gRPC starts threads: a bind may take
    // another effective group for an instant.
    for (size_t i = 0; i < m_settings.listen.size(); ++i) {
        const ListenAddress& address = m_settings.listen[i];
        if (!address.unixSocket) {
            continue;
        }
        m_unix.push_back(std::make_unique<UnixListener>(m_users));
        const std::string problem =
            m_unix.back()->Bind(address.path, m_settings.runtimeSocket && i == 0);
        if (!problem.empty()) {
            return problem;
        }
        m_listening.push_back(address.Text());
    }

    grpc::EnableDefaultHealthCheckService(true);
    grpc::reflection::InitProtoReflectionServerBuilderPlugin();
    grpc::ServerBuilder builder;
    builder.SetMaxReceiveMessageSize(kMaxGrpcMessage);
    builder.SetMaxSendMessageSize(kMaxGrpcMessage);
    builder.AddChannelArgument(GRPC_ARG_KEEPALIVE_TIME_MS, kClientKeepaliveMs);
    builder.AddChannelArgument(GRPC_ARG_KEEPALIVE_TIMEOUT_MS, kClientKeepaliveTimeoutMs);
    builder.AddChannelArgument(GRPC_ARG_KEEPALIVE_PERMIT_WITHOUT_CALLS, 1);
    builder.AddChannelArgument(GRPC_ARG_HTTP2_MIN_RECV_PING_INTERVAL_WITHOUT_DATA_MS,
                               kKeepaliveMinIntervalMs);
    builder.AddChannelArgument(GRPC_ARG_HTTP2_MAX_PING_STRIKES, 0);
    builder.AddChannelArgument(GRPC_ARG_HTTP2_MAX_PINGS_WITHOUT_DATA, 0);
    // A session holds a thread of the server's; table and version calls
    // need a few more.
    grpc::ResourceQuota quota("pelkd");
    quota.SetMaxThreads(static_cast<int>(m_settings.sessions) + 32);
    builder.SetResourceQuota(quota);

    std::vector<int> ports(m_settings.listen.size(), 0);
    for (size_t i = 0; i < m_settings.listen.size(); ++i) {
        if (!m_settings.listen[i].unixSocket) {
            const std::string problem = AddTcp(builder, m_settings.listen[i], &ports[i]);
            if (!problem.empty()) {
                return problem;
            }
        }
    }
    builder.RegisterService(&m_version);
    builder.RegisterService(&m_table);
    builder.RegisterService(&m_board);
    m_server = builder.BuildAndStart();
    if (m_server == nullptr) {
        return "cannot start the server: is a TCP port of --listen in use?";
    }
    // The TCP lines of m_listening, with the ports chosen.
    size_t line = m_unix.size();
    for (size_t i = 0; i < m_settings.listen.size(); ++i) {
        if (m_settings.listen[i].unixSocket) {
            continue;
        }
        if (ports[i] <= 0) {
            return "cannot listen on " + m_settings.listen[i].Text() + ": is the port in use?";
        }
        ListenAddress chosen = m_settings.listen[i];
        chosen.port = static_cast<unsigned int>(ports[i]);
        const std::string& said = m_listening[line];
        m_listening[line++] = chosen.Text() + said.substr(said.find(" ("));
    }
    for (const auto& listener : m_unix) {
        listener->Serve(m_server.get());
    }
    m_server->GetHealthCheckService()->SetServingStatus(true);
    return "";
}

void PelkdServer::Stop() {
    for (const auto& listener : m_unix) {
        listener->Stop();
    }
    if (m_server != nullptr) {
        m_server->GetHealthCheckService()->SetServingStatus(false);
        m_server->Shutdown(std::chrono::system_clock::now() + kStopGrace);
        m_server->Wait();
        m_server.reset();
    }
}
