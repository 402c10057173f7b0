// How the remote backend reaches pelkd: the channel to a target, the version
// exchange, each call's deadline and protocol metadata, and what a failed
// call tells the user.
#ifndef PELK_REMOTE_CONNECTION_H
#define PELK_REMOTE_CONNECTION_H

#include <memory>
#include <string>

#include <grpcpp/grpcpp.h>

// Reaching pelkd and exchanging versions takes at most kConnectMs; every call
// after that at most kCallMs beyond the operation's own time-out.
constexpr int kConnectMs = 5000;
constexpr int kCallMs = 30000;

struct Connection {
    std::shared_ptr<grpc::Channel> channel;
    std::string target;  // as the caller named it
};

// Opens a channel of its own to target ("unix:PATH", or "HOST:PORT" over TLS
// with the files of PELK_TLS_CA, PELK_TLS_CERT and PELK_TLS_KEY; plain text to
// a loopback address when none of them is set) and exchanges versions with
// pelkd. False with *problem saying what failed and what to do.
bool Connect(const char* target, Connection* connection, std::string* problem);

// Readies a call: the protocol metadata and a deadline deadlineMs from now
// (none when deadlineMs is negative).
void PrepareCall(grpc::ClientContext* context, long long deadlineMs);

// What a failed call means: "pelkd at unix:/run/pelk/pelkd.sock cannot be
// reached (...): is pelkd running and listening there?".
std::string DescribeFailure(const grpc::Status& status, const std::string& target);

// While one lives, descriptors 0, 1 and 2 of the process are taken (opened
// on /dev/null) when the process has them closed, so the descriptors gRPC
// opens meanwhile (sockets, its polling and wake-up descriptors) never become
// standard ones that the application's output would go into. They are
// closed again when the last guard ends.
class StandardDescriptorsTaken {
public:
    StandardDescriptorsTaken();
    ~StandardDescriptorsTaken();
    StandardDescriptorsTaken(const StandardDescriptorsTaken&) = delete;
    StandardDescriptorsTaken& operator=(const StandardDescriptorsTaken&) = delete;
};

#endif
