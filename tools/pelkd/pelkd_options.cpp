#include "tools/pelkd/pelkd_options.h"

#include <string>
#include <vector>

#include <pelklib.h>

#include "services/settings.h"
#include "tools/common/help.h"
#include "tools/common/options.h"

namespace {

const std::vector<OptionDef> kOptions = {
    {"--listen", 'l', "ADDRESS",
     "unix:PATH or tcp:HOST:PORT (port 0: any free port, named on standard output); may be "
     "given more than once (default: unix: with pelkd.sock in PELK_RUNTIME_DIR, else "
     "/run/pelk)"},
    {"--tls-cert", 0, "FILE", "pelkd's certificate (PEM), for TCP"},
    {"--tls-key", 0, "FILE", "its private key (PEM; others may not read it)"},
    {"--tls-client-ca", 0, "FILE", "the CA (PEM) whose certificates clients must show"},
    {"--insecure-loopback", 0, nullptr, "allow TCP without TLS on a loopback address"},
    {"--client-sessions", 0, "N", "sessions one client may have open (1 to 65536, default 64)"},
    {"--sessions", 0, "N", "sessions open in all (1 to 65536, default 1024)"},
    {"--verbose", 'v', nullptr, "log every session opened and closed on standard error"},
    kHelpOption,
    kVersionOption,
};

const char kDescription[] =
    "Serves the boards of this host (zb5t and zbhost) and its board-identity table to the "
    "library's remote objects over gRPC (pelk.v1), with gRPC's health service and server "
    "reflection. Runs in the foreground until SIGINT, SIGTERM, SIGHUP or SIGQUIT, then ends "
    "every session and removes its sockets.\n"
    "\n"
    "A Unix socket is mode 0660 and of the group pelk when that group exists (PELK_GROUP names "
    "another), else 0666. TCP needs mutual TLS: clients show a certificate signed by "
    "--tls-client-ca. A message, and any area of a board operation, carries at most 16 MiB. A "
    "wrong command line exits with status 2, a socket or port that cannot be used with status "
    "1.";

const HelpPage kHelp = {
    {"pelkd [-l ADDRESS]... [--tls-cert FILE --tls-key FILE --tls-client-ca FILE]",
     "      [--insecure-loopback] [--client-sessions N] [--sessions N] [-v]", "pelkd -h | -V"},
    kDescription,
    {},
    kOptions,
    {"pelkd", "pelkd --listen unix:/tmp/pelk/pelkd.sock --verbose",
     "pelkd --listen tcp:0.0.0.0:7001 --tls-cert pelkd.pem --tls-key pelkd.key "
     "--tls-client-ca clients-ca.pem",
     "pelkd --listen tcp:127.0.0.1:7001 --insecure-loopback"}};

// Takes the values of args into *settings; returns a problem or "".
std::string TakeValues(const Arguments& args, PelkdSettings* settings) {
    if (!args.Positional().empty()) {
        return "unexpected argument \"" + args.Positional()[0] + "\"";
    }
    for (const std::string& text : args.Values("--listen")) {
        ListenAddress address;
        const std::string wrong = ParseListenAddress(text, &address);
        if (!wrong.empty()) {
            return wrong;
        }
        settings->listen.push_back(address);
    }
    settings->tlsCert = args.Value("--tls-cert");
    settings->tlsKey = args.Value("--tls-key");
    settings->tlsClientCa = args.Value("--tls-client-ca");
    const int tlsFiles =
        !settings->tlsCert.empty() + !settings->tlsKey.empty() + !settings->tlsClientCa.empty();
    if (tlsFiles != 0 && tlsFiles != 3) {
        return "--tls-cert, --tls-key and --tls-client-ca go together";
    }
    settings->insecureLoopback = args.Has("--insecure-loopback");
    settings->verbose = args.Has("--verbose");
    std::string wrong = args.Number("--client-sessions", settings->clientSessions, 1u, 65536u, "",
                                    &settings->clientSessions);
    if (wrong.empty()) {
        wrong = args.Number("--sessions", settings->sessions, 1u, 65536u, "", &settings->sessions);
    }
    if (wrong.empty() && settings->listen.empty()) {
        ListenAddress address;
        address.unixSocket = true;
        address.path = std::string(SettingRuntimeDir()) + "/pelkd.sock";
        settings->listen.push_back(address);
        settings->runtimeSocket = true;
    }
    return wrong;
}

}  // namespace

bool ReadPelkdOptions(int argc, char** argv, PelkdSettings* settings, int* exitStatus) {
    return ReadProgramOptions(
        "pelkd", pelklibVersion(), kHelp, argc, argv,
        [settings](const Arguments& args) { return TakeValues(args, settings); }, exitStatus);
}
