// pelk: command-line access to zb5t boards through pelklib's public API.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/pelk/command.h"
#include "tools/pelk/session.h"

namespace {

const Command* const kCommands[] = {&kPingCommand, &kEepromCommand, &kDataCommand};

void PrintHelp() {
    std::printf(
        "Usage: pelk [--driver zbhost|zb5t] [--board N] COMMAND [ARGUMENTS]\n"
        "\n"
        "Talks to a board through pelklib. --driver picks the backend (default\n"
        "zbhost, the board emulator; start zbhost first), --board the board number\n"
        "(default 0).\n"
        "\n"
        "Commands:\n");
    for (const Command* command : kCommands) {
        std::string call = std::string(command->name) + " " + command->usage;
        std::printf("  %-30s %s\n", call.c_str(), command->summary);
    }
}

bool ParseDriver(const std::string& name, PELKLIB_DRIVER_TYPE* driver) {
    for (PELKLIB_DRIVER_TYPE type : {PELKLIB_DRIVER_QM, PELKLIB_DRIVER_ZB5T, PELKLIB_DRIVER_ZBHOST}) {
        if (name == DriverName(type)) {
            *driver = type;
            return true;
        }
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    CommonOptions options;
    int next = 1;
    for (; next < argc && argv[next][0] == '-'; ++next) {
        const std::string option = argv[next];
        if (option == "--help" || option == "-h") {
            PrintHelp();
            return 0;
        }
        const bool hasValue = next + 1 < argc;
        if (option == "--driver" && hasValue && ParseDriver(argv[next + 1], &options.driver)) {
            ++next;
        } else if (option == "--board" && hasValue && ParseNumber(argv[next + 1], &options.board)) {
            ++next;
        } else {
            std::fprintf(stderr, "pelk: bad option %s (see pelk --help)\n", option.c_str());
            return 2;
        }
    }
    if (next == argc) {
        PrintHelp();
        return 2;
    }
    for (const Command* command : kCommands) {
        if (std::strcmp(argv[next], command->name) == 0) {
            std::vector<std::string> arguments(argv + next + 1, argv + argc);
            return command->run(options, arguments);
        }
    }
    std::fprintf(stderr, "pelk: unknown command %s (see pelk --help)\n", argv[next]);
    return 2;
}
