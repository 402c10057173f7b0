// The PEM files both ends of a TLS connection to pelkd read: certificates,
// a certificate authority's certificates, and a private key.
#ifndef PELK_WIRE_PEM_FILE_H
#define PELK_WIRE_PEM_FILE_H

#include <string>

enum class PemKind { Certificate, PrivateKey };

// Reads the whole file at path into *pem: a regular file of at most 1 MiB;
// a private key must give others no access. Returns "" on success, else
// what is wrong and what to do ("KEY gives others access (mode 0644): chmod
// o= KEY"); *pem is then left as it was.
std::string ReadPemFile(const char* path, PemKind kind, std::string* pem);

#endif
