#include "front/status_text.h"

#include <cerrno>
#include <cstdio>

namespace {

// Indexed by -code - 1; each name padded with blanks to 28 characters.
const char* const kNamedStatusTexts[12] = {
    "PKERR_UNKNOWN               ",
    "PKERR_TIMEOUT               ",
    "PKERR_NO_MESSAGE            ",
    "PKERR_BAD_MESSAGE           ",
    "PKERR_WRONG_BUFSIZE         ",
    "PKERR_BUFCOUNT              ",
    "PKERR_NO_MEMORY             ",
    "PKERR_SEQUENCE_ERROR        ",
    "PKERR_ABORTED               ",
    "PKERR_DATA_LOST             ",
    "PKERR_UNEXPECTED_COMPLETION ",
    "PKERR_NOT_OPEN              ",
};

}  // namespace

void PelkStatusText(int code, char* text, unsigned int size) {
    char kernelText[40];
    const char* chosen;
    if (code >= 0) {
        std::snprintf(kernelText, sizeof kernelText, "Kernel error of %d", errno);
        chosen = kernelText;
    } else if (code < -12) {
        chosen = "PKERR_unknown";
    } else {
        chosen = kNamedStatusTexts[-code - 1];
    }
    if (size == 0) {
        return;
    }
    unsigned int n = 0;
    while (chosen[n] != '\0' && n < size - 1) {
        text[n] = chosen[n];
        ++n;
    }
    text[n] = '\0';
}
