// Writes the Wireshark dissector: copies the template (first argument) to
// the output (second argument) with the line "@PELK_STATUS_NAMES@" replaced
// by one Lua table entry a status, named as pelk trace names it: every
// status of the library and every operating-system error number that has a
// name.
#include <cstdio>
#include <fstream>
#include <string>

#include "services/statuses.h"

namespace {

// Operating-system error numbers are small positive numbers.
constexpr int kLargestErrno = 4095;

void WriteEntry(std::ofstream& out, int code) {
    out << "    [" << code << "] = \"" << StatusName(code) << "\",\n";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: lua_status_names TEMPLATE OUTPUT\n");
        return 2;
    }
    std::ifstream in(argv[1]);
    std::ofstream out(argv[2]);
    bool filled = false;
    for (std::string line; std::getline(in, line);) {
        if (line != "@PELK_STATUS_NAMES@") {
            out << line << '\n';
            continue;
        }
        for (size_t i = 0; i < kNamedStatusCount; ++i) {
            WriteEntry(out, kNamedStatuses[i].code);
        }
        for (int code = 1; code <= kLargestErrno; ++code) {
            if (FindNamedStatus(code) == nullptr &&
                StatusName(code) != "errno " + std::to_string(code)) {
                WriteEntry(out, code);
            }
        }
        filled = true;
    }
    if (!in.eof() || !filled || !out.flush()) {
        std::fprintf(stderr, "lua_status_names: cannot make %s from %s\n", argv[2], argv[1]);
        return 1;
    }
    return 0;
}
