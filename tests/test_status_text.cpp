#include <cerrno>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "front/status_text.h"

namespace {

std::string TextOf(int code, unsigned int size = 64) {
    char text[64];
    std::memset(text, 'x', sizeof text);
    PelkStatusText(code, text, size);
    return text;
}

TEST(StatusText, NamedCodesArePaddedToTwentyEightCharacters) {
    EXPECT_EQ(TextOf(-2), "PKERR_TIMEOUT" + std::string(15, ' '));
    EXPECT_EQ(TextOf(-1), "PKERR_UNKNOWN" + std::string(15, ' '));
    EXPECT_EQ(TextOf(-11), "PKERR_UNEXPECTED_COMPLETION ");
    EXPECT_EQ(TextOf(-12), "PKERR_NOT_OPEN" + std::string(14, ' '));
    for (int code = -12; code <= -1; ++code) {
        EXPECT_EQ(TextOf(code).size(), 28u) << code;
    }
}

TEST(StatusText, CodesWithoutNameAndKernelErrors) {
    EXPECT_EQ(TextOf(-13), "PKERR_unknown");
    EXPECT_EQ(TextOf(-50), "PKERR_unknown");
    // Codes of 0 and above format the thread's errno, not the code.
    errno = 2;
    EXPECT_EQ(TextOf(0), "Kernel error of 2");
    errno = 2;
    EXPECT_EQ(TextOf(5), "Kernel error of 2");
}

TEST(StatusText, TruncatesToTheGivenSize) {
    EXPECT_EQ(TextOf(-2, 6), "PKERR");
    char text[4] = {'a', 'b', 'c', 'd'};
    PelkStatusText(-2, text, 1);
    EXPECT_EQ(text[0], '\0');
    EXPECT_EQ(text[1], 'b');
    PelkStatusText(-2, text, 0);
    EXPECT_EQ(text[0], '\0');
    EXPECT_EQ(text[1], 'b');
}

}  // namespace
