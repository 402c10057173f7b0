// A certificate authority made with openssl for one test: its certificate,
// a server certificate for 127.0.0.1 and localhost, and a client
// certificate, each key readable by its owner only.
#ifndef PELK_TESTS_TEST_CA_H
#define PELK_TESTS_TEST_CA_H

#include <cstdlib>
#include <string>

struct TestCa {
    std::string ca, serverCert, serverKey, clientCert, clientKey;
    bool made = false;

    // Makes the files in directory (which must exist), named after name.
    TestCa(const std::string& directory, const std::string& name) {
        const std::string at = directory + "/" + name;
        ca = at + "-ca.pem";
        serverCert = at + "-server.pem";
        serverKey = at + "-server.key";
        clientCert = at + "-client.pem";
        clientKey = at + "-client.key";
        const std::string key = "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
        const std::string sign = " -CA " + ca + " -CAkey " + at + "-ca.key -CAcreateserial -days 2";
        const std::string script =
            "set -e; umask 077; exec 2>/dev/null; cd " + directory + ";" + "openssl req -x509 " +
            key + " -keyout " + at + "-ca.key -out " + ca + " -days 2 -subj /CN=" + name + "-ca;" +
            "printf 'subjectAltName=IP:127.0.0.1,DNS:localhost\\n' >" + at + "-server.ext;" +
            "openssl req " + key + " -keyout " + serverKey + " -out " + at +
            "-server.csr -subj /CN=pelkd;" + "openssl x509 -req -in " + at + "-server.csr" + sign +
            " -extfile " + at + "-server.ext -out " + serverCert + ";" + "openssl req " + key +
            " -keyout " + clientKey + " -out " + at + "-client.csr -subj /CN=" + name + "-client;" +
            "openssl x509 -req -in " + at + "-client.csr" + sign + " -out " + clientCert + ";" +
            "chmod 644 " + ca + " " + serverCert + " " + clientCert;
        made = std::system(script.c_str()) == 0;
    }
};

#endif
