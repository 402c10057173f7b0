// pelk errtext: the name and meaning of a status code.
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>

#include "services/statuses.h"
#include "tools/pelk/command.h"
#include "tools/pelk/target.h"

namespace {

// A decimal code with optional sign, or a 32-bit hexadecimal one after 0x
// (0xfffffffe is -2).
bool ParseCode(const std::string& text, int* code) {
    char* end = nullptr;
    errno = 0;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        const unsigned long long parsed = std::strtoull(text.c_str() + 2, &end, 16);
        if (!std::isxdigit(static_cast<unsigned char>(text[2])) || errno != 0 || *end != '\0' ||
            parsed > UINT32_MAX) {
            return false;
        }
        *code = static_cast<int>(static_cast<uint32_t>(parsed));
        return true;
    }
    const long long parsed = std::strtoll(text.c_str(), &end, 10);
    if (text.empty() || errno != 0 || *end != '\0' || parsed < INT_MIN || parsed > INT_MAX) {
        return false;
    }
    *code = static_cast<int>(parsed);
    return true;
}

int RunErrtext(Invocation& invocation) {
    int code = 0;
    const std::string& word = invocation.args.Positional()[0];
    if (!ParseCode(word, &code) && !StatusByName(word, &code)) {
        return invocation.out.Usage("CODE takes a number such as -2, 2 or 0x40000004, or a "
                                    "status name such as PKERR_TIMEOUT or ENOENT, not \"" +
                                    word + "\"");
    }
    // An unopened kernel-driver object gives the library's own text.
    PelkHandle lib(NewPelkLibByType(PELKLIB_DRIVER_ZB5T));
    invocation.out.Status("status", "status", code, lib.get());
    return kExitOk;
}

}  // namespace

const Command kErrtextCommand = {
    "errtext",
    "CODE|NAME",
    "the name and meaning of a status code",
    {},
    false,
    1,
    1,
    RunErrtext,
    {"pelk errtext -16", "pelk errtext 0x40000004", "pelk errtext PKERR_TIMEOUT"}};
