#include "tools/pelkd/listen_address.h"

#include "wire/tcp_address.h"

std::string ListenAddress::Text() const {
    if (unixSocket) {
        return "unix:" + path;
    }
    const bool v6 = host.find(':') != std::string::npos;
    return "tcp:" + (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

std::string ParseListenAddress(const std::string& text, ListenAddress* address) {
    ListenAddress parsed;
    if (text.compare(0, 5, "unix:") == 0) {
        parsed.unixSocket = true;
        parsed.path = text.substr(5);
        const size_t slash = parsed.path.rfind('/');
        if (parsed.path.empty() || parsed.path[0] != '/' || slash + 1 == parsed.path.size()) {
            return "--listen " + text + ": unix: needs the absolute path of the socket";
        }
        if (parsed.path.size() - slash - 1 > 64) {
            return "--listen " + text +
                   ": the socket's name (after the last /) is longer than 64 bytes";
        }
    } else if (text.compare(0, 4, "tcp:") == 0) {
        if (!SplitHostPort(text.substr(4), &parsed.host, &parsed.port)) {
            return "--listen " + text + ": tcp: needs HOST:PORT ([ADDRESS]:PORT for IPv6)";
        }
        parsed.loopback = IsLoopbackHost(parsed.host);
    } else {
        return "--listen " + text + ": expected unix:PATH or tcp:HOST:PORT";
    }
    *address = parsed;
    return "";
}
