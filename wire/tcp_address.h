// TCP addresses of pelkd as both ends name them: "HOST:PORT", "[V6]:PORT",
// and whether a host is a loopback address, where plain text is allowed.
#ifndef PELK_WIRE_TCP_ADDRESS_H
#define PELK_WIRE_TCP_ADDRESS_H

#include <string>

// Splits "HOST:PORT" or "[V6HOST]:PORT" (brackets dropped from host); false
// when text has no host, or no port of 1 to 5 digits (0 to 65535).
bool SplitHostPort(const std::string& text, std::string* host, unsigned int* port);

// Whether host is a loopback address: 127.0.0.0/8, ::1, or "localhost".
bool IsLoopbackHost(const std::string& host);

#endif
