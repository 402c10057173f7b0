#include "wire/tcp_address.h"

#include <arpa/inet.h>

#include <cstring>

bool SplitHostPort(const std::string& text, std::string* host, unsigned int* port) {
    const size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0) {
        return false;
    }
    std::string name = text.substr(0, colon);
    const std::string digits = text.substr(colon + 1);
    if (name.size() >= 2 && name.front() == '[' && name.back() == ']') {
        name = name.substr(1, name.size() - 2);
    } else if (name.find(':') != std::string::npos) {
        return false;  // an IPv6 address needs its brackets
    }
    if (name.empty() || digits.empty() || digits.size() > 5 ||
        digits.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    unsigned int value = 0;
    for (char digit : digits) {
        value = value * 10 + static_cast<unsigned int>(digit - '0');
    }
    if (value > 65535) {
        return false;
    }
    *host = name;
    *port = value;
    return true;
}

bool IsLoopbackHost(const std::string& host) {
    if (host == "localhost") {
        return true;
    }
    unsigned char address[16];
    if (inet_pton(AF_INET, host.c_str(), address) == 1) {
        return address[0] == 127;
    }
    if (inet_pton(AF_INET6, host.c_str(), address) == 1) {
        static const unsigned char kLoopback[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
        return std::memcmp(address, kLoopback, sizeof address) == 0;
    }
    return false;
}
