#include "tools/zbhost/zbhost_options.h"

#include <algorithm>
#include <string>
#include <vector>

#include "tools/common/help.h"
#include "tools/common/options.h"

namespace {

const std::vector<OptionDef> kOptions = {
    {"--verbose", 'v', nullptr, "log every pair opened and closed on standard error"},
    {"--max-queued", 0, "BYTES",
     "bound on answer bytes queued for all pairs (2^20 to 2^40, default 268435456: 256 MiB)"},
    {"--open-timeout", 0, "SECONDS", "time a client has to open its pair (1 to 3600, default 10)"},
    {"--replay", 0, "FILE",
     "serve one client session from a capture file instead of echoing: compare each message "
     "the client sends with the next one the recorded application sent (differences on "
     "standard error, field by field), answer with what it received; serve until the client "
     "closes its pipes; exit 0 only if the client sent every recorded message, each matched, "
     "and no message more"},
    {"--ignore", 0, "FIELD,...",
     "with --replay: fields left out of the comparison: type, dst1, dst2, tag, numbufs, "
     "header_len, word0, word1, opaque, word4, param_count, param0 to param7, header, buflen, "
     "data"},
    {"--timing", 0, nullptr, "with --replay: keep the recorded delays of the answers"},
    {"--json", 'j', nullptr,
     "with --replay: print the summary as one JSON object on stdout (the differences in it, "
     "not on standard error)"},
    kHelpOption,
    kVersionOption,
};

const char kDescription[] =
    "Board emulator runtime for pelklib's emulator backend (driver type zbhost).\n"
    "\n"
    "Works in the directory named by the environment variable PELK_EMULATOR_DIR\n"
    "(/dev when unset; the library reads the same variable). Creates the manager\n"
    "pipes ZBHostManagerIn and ZBHostManagerOut there and answers each 4-byte\n"
    "request (0xBEEF) with a free pipe number, after creating that pipe pair,\n"
    "ZBHostIn%04d (library writes) and ZBHostOut%04d (library reads). Each pair is\n"
    "served by an emulated board that sends every message back: same type, tag,\n"
    "header and data buffers, with the source and destination address words\n"
    "swapped. Many pairs are served at once, none waiting on another. When the\n"
    "library closes its ends the pair is removed and its number used again. A\n"
    "malformed frame from the library closes that pair, with a line on standard\n"
    "error. A request for which no pair can be made is answered with -1, a number\n"
    "that names no pair. A reply still untaken when the next request arrives (its\n"
    "client died in the handshake) is taken back and its pair removed, as is a\n"
    "pair its client has not opened within --open-timeout seconds of taking its\n"
    "number.\n"
    "\n"
    "A pair whose unsent answers reach 64 or 32 MiB is not read until the library\n"
    "takes them; when all pairs together queue --max-queued bytes of answers or\n"
    "more, only pairs that queue less than an equal share of that are read.\n"
    "\n"
    "SIGINT, SIGTERM, SIGHUP or SIGQUIT removes every pipe zbhost made and exits\n"
    "with status 0. Manager pipes left by a zbhost that was killed are taken\n"
    "over, so clients waiting on them are served; its pipe pairs are removed.\n"
    "Only one zbhost serves a directory: a second one exits with status 1, as\n"
    "does one that cannot create its pipes (is the directory writable?). A wrong\n"
    "command line exits with status 2.";

const HelpPage kHelp = {
    {"zbhost [-v] [--max-queued BYTES] [--open-timeout SECONDS]",
     "zbhost --replay FILE [--ignore FIELD,...] [--timing] [--json] [-v]", "zbhost -h | -V"},
    kDescription,
    {},
    kOptions,
    {"zbhost &", "zbhost --verbose --open-timeout 30",
     "PELK_EMULATOR_DIR=$HOME/.cache/pelk zbhost &",
     "zbhost --replay golden.pcapng --ignore param0,tag --timing",
     "zbhost --replay golden.pcapng --json > replay.json"}};

// Takes the values of args into *options; returns a problem or "".
std::string TakeValues(const Arguments& args, ZbhostOptions* options) {
    if (!args.Positional().empty()) {
        return "unexpected argument \"" + args.Positional()[0] + "\"";
    }
    options->verbose = args.Has("--verbose");
    std::string wrong = args.Number("--max-queued", options->maxQueued, 1ull << 20, 1ull << 40,
                                    "bytes", &options->maxQueued);
    if (wrong.empty()) {
        wrong = args.Number("--open-timeout", options->openTimeout, 1ull, 3600ull, "seconds",
                            &options->openTimeout);
    }
    if (!wrong.empty()) {
        return wrong;
    }
    ReplayOptions& replay = options->replay;
    replay.file = args.Value("--replay");
    replay.timing = args.Has("--timing");
    replay.json = args.Has("--json");
    const std::string& ignore = args.Value("--ignore");
    for (size_t at = 0; args.Has("--ignore") && at <= ignore.size();) {
        const size_t comma = std::min(ignore.find(',', at), ignore.size());
        replay.ignored.insert(ignore.substr(at, comma - at));
        at = comma + 1;
    }
    std::string unknown;
    if (!ValidReplayFields(replay.ignored, &unknown)) {
        return "--ignore takes " + std::string(ReplayFieldNames()) + ", not \"" + unknown + "\"";
    }
    if (replay.file.empty() && (replay.timing || replay.json || !replay.ignored.empty())) {
        return "--ignore, --timing and --json need --replay FILE";
    }
    return "";
}

}  // namespace

bool ReadZbhostOptions(int argc, char** argv, ZbhostOptions* options, int* exitStatus) {
    return ReadProgramOptions(
        "zbhost", nullptr, kHelp, argc, argv,
        [options](const Arguments& args) { return TakeValues(args, options); }, exitStatus);
}
