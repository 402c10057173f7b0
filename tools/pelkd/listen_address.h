// Where pelkd listens: "unix:PATH" (an absolute path) or "tcp:HOST:PORT".
#ifndef PELK_TOOLS_PELKD_LISTEN_ADDRESS_H
#define PELK_TOOLS_PELKD_LISTEN_ADDRESS_H

#include <string>

struct ListenAddress {
    bool unixSocket = false;
    std::string path;  // unix: the socket
    std::string host;  // tcp: host (without brackets) and port, 0 for any free one
    unsigned int port = 0;
    bool loopback = false;  // tcp: the host is a loopback address

    // "unix:/run/pelk/pelkd.sock", "tcp:127.0.0.1:7001".
    std::string Text() const;
};

// Reads text into *address: "" on success, else what is wrong with it.
std::string ParseListenAddress(const std::string& text, ListenAddress* address);

#endif
