// The protocol between pelkd and the library's remote backend: the code
// protoc generates from pelk/v1/pelk.proto, and what both ends must agree on
// beyond it.
#ifndef PELK_PROTOCOL_PELK_PROTOCOL_H
#define PELK_PROTOCOL_PELK_PROTOCOL_H

#include <cstdint>

#include <pelk/v1/pelk.grpc.pb.h>

// The protocol's number: the version in the package name, sent with every
// call in the metadata kProtocolKey and in the version exchange.
constexpr uint32_t kProtocolVersion = 1;
constexpr const char* kProtocolKey = "pelk-protocol";
constexpr const char* kProtocolValue = "1";

// A message carries at most 16 MiB of data, as through zbhost; a gRPC
// message may hold that, its header and the fields around them.
constexpr uint32_t kMaxMessageData = 16u << 20;
constexpr int kMaxGrpcMessage = static_cast<int>(kMaxMessageData + (64u << 10));

// The client pings an idle connection every kKeepaliveIntervalMs and drops it
// when a ping is not answered within kKeepaliveTimeoutMs: a dead pelkd or a
// cut network is found within their sum. pelkd lets pings come that often.
constexpr int kKeepaliveIntervalMs = 5000;
constexpr int kKeepaliveTimeoutMs = 5000;
constexpr int kKeepaliveMinIntervalMs = 1000;

// What a pushed message costs of the credit the client grants: its header
// and data bytes and a fixed share for the rest, so that empty messages
// count too.
inline uint64_t MessageCreditBytes(const pelk::v1::Message& message) {
    uint64_t bytes = 64 + message.header().size();
    for (const std::string& buffer : message.buffers()) {
        bytes += buffer.size();
    }
    return bytes;
}

#endif
