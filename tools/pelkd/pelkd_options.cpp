#include "tools/pelkd/pelkd_options.h"

#include <algorithm>
#include <vector>

#include "services/settings.h"

namespace {

constexpr unsigned int kMostSessions = 65536;

struct Option {
    const char* name;
    const char* value;  // null for a flag
    const char* help;
};

const std::vector<Option>& Options() {
    static const std::vector<Option> options = {
        {"--listen", "ADDRESS",
         "unix:PATH or tcp:HOST:PORT (port 0: any free one); may be given more than "
         "once (default: unix: with pelkd.sock in PELK_RUNTIME_DIR, else /run/pelk)"},
        {"--tls-cert", "FILE", "pelkd's certificate (PEM) for TCP"},
        {"--tls-key", "FILE", "its private key (PEM; others may not read it)"},
        {"--tls-client-ca", "FILE", "the CA (PEM) whose certificates clients must show"},
        {"--insecure-loopback", nullptr, "allow TCP without TLS on a loopback address"},
        {"--client-sessions", "N", "sessions one client may have open (1 to 65536, default 64)"},
        {"--sessions", "N", "sessions open in all (1 to 65536, default 1024)"},
        {"--verbose", nullptr, "log every session opened and closed on standard error"},
        {"--help", nullptr, "show this text"},
        {"--version", nullptr, "show pelkd's version"},
    };
    return options;
}

bool ParseCount(const std::string& text, unsigned int* value) {
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    const unsigned long number = std::stoul(text);
    if (number < 1 || number > kMostSessions) {
        return false;
    }
    *value = static_cast<unsigned int>(number);
    return true;
}

// Applies one option with its value: "" or the problem.
std::string Apply(const std::string& name, const std::string& value, PelkdSettings* settings) {
    if (name == "--listen") {
        ListenAddress address;
        const std::string problem = ParseListenAddress(value, &address);
        if (problem.empty()) {
            settings->listen.push_back(address);
        }
        return problem;
    }
    if (name == "--tls-cert") settings->tlsCert = value;
    if (name == "--tls-key") settings->tlsKey = value;
    if (name == "--tls-client-ca") settings->tlsClientCa = value;
    if (name == "--insecure-loopback") settings->insecureLoopback = true;
    if (name == "--verbose") settings->verbose = true;
    if (name == "--client-sessions" && !ParseCount(value, &settings->clientSessions)) {
        return "--client-sessions takes a number from 1 to 65536, not \"" + value + "\"";
    }
    if (name == "--sessions" && !ParseCount(value, &settings->sessions)) {
        return "--sessions takes a number from 1 to 65536, not \"" + value + "\"";
    }
    return "";
}

std::string CheckTls(const PelkdSettings& settings) {
    const int given = !settings.tlsCert.empty() + !settings.tlsKey.empty() +
                      !settings.tlsClientCa.empty();
    if (given != 0 && given != 3) {
        return "--tls-cert, --tls-key and --tls-client-ca go together";
    }
    return "";
}

}  // namespace

PelkdCommand ParsePelkdOptions(int argc, char** argv, PelkdSettings* settings,
                               std::string* problem) {
    for (int i = 1; i < argc; ++i) {
        std::string word = argv[i];
        std::string value;
        const size_t equals = word.find('=');
        const bool inlineValue = word.compare(0, 2, "--") == 0 && equals != std::string::npos;
        if (inlineValue) {
            value = word.substr(equals + 1);
            word.resize(equals);
        }
        const Option* option = nullptr;
        for (const Option& known : Options()) {
            if (word == known.name) option = &known;
        }
        if (option == nullptr) {
            *problem = "unknown option " + word;
            return PelkdCommand::Usage;
        }
        if (option->value == nullptr && inlineValue) {
            *problem = word + " takes no value";
            return PelkdCommand::Usage;
        }
        if (option->value != nullptr && !inlineValue) {
            if (i + 1 == argc) {
                *problem = word + " needs a value " + option->value;
                return PelkdCommand::Usage;
            }
            value = argv[++i];
        }
        if (word == "--help") return PelkdCommand::Help;
        if (word == "--version") return PelkdCommand::Version;
        *problem = Apply(word, value, settings);
        if (!problem->empty()) {
            return PelkdCommand::Usage;
        }
    }
    *problem = CheckTls(*settings);
    if (!problem->empty()) {
        return PelkdCommand::Usage;
    }
    if (settings->listen.empty()) {
        ListenAddress address;
        address.unixSocket = true;
        address.path = std::string(SettingRuntimeDir()) + "/pelkd.sock";
        settings->listen.push_back(address);
        settings->runtimeSocket = true;
    }
    return PelkdCommand::Serve;
}

std::string PelkdHelp() {
    std::string text =
        "Usage: pelkd [--listen ADDRESS]... [--tls-cert FILE --tls-key FILE --tls-client-ca FILE]\n"
        "             [--insecure-loopback] [--client-sessions N] [--sessions N] [--verbose]\n"
        "\n"
        "Serves the boards of this host (zb5t and zbhost) and its board-identity table\n"
        "to the library's remote objects over gRPC (pelk.v1), with gRPC's health\n"
        "service and server reflection. Runs in the foreground until SIGINT, SIGTERM,\n"
        "SIGHUP or SIGQUIT, then ends every session and removes its sockets.\n"
        "\n"
        "A Unix socket is mode 0660 and of the group pelk when that group exists\n"
        "(PELK_GROUP names another), else 0666. TCP needs mutual TLS: clients show a\n"
        "certificate signed by --tls-client-ca. A message, and any area of a board\n"
        "operation, carries at most 16 MiB.\n"
        "\n"
        "Examples:\n"
        "  pelkd\n"
        "  pelkd --listen tcp:0.0.0.0:7001 --tls-cert pelkd.pem --tls-key pelkd.key \\\n"
        "        --tls-client-ca clients-ca.pem\n"
        "  pelkd --listen unix:/tmp/pelk/pelkd.sock --listen tcp:127.0.0.1:7001 --insecure-loopback\n"
        "\n"
        "Options:\n";
    for (const Option& option : Options()) {
        std::string left = std::string("  ") + option.name;
        if (option.value != nullptr) {
            left += std::string(" ") + option.value;
        }
        left.resize(std::max<size_t>(left.size() + 1, 26), ' ');
        text += left + option.help + "\n";
    }
    return text;
}
