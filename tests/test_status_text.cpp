#include <cerrno>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "services/statuses.h"

namespace {

TEST(StatusText, NamesPadsFormatsErrnoAndTruncates) {
    // Named codes are padded to 28 characters; codes of 0 and above format
    // the thread's errno (2 here), not the code.
    const struct {
        int code;
        unsigned int size;
        std::string text;
    } cases[] = {{-2, 64, "PKERR_TIMEOUT" + std::string(15, ' ')},
                 {-11, 64, "PKERR_UNEXPECTED_COMPLETION "},
                 {-12, 64, "PKERR_NOT_OPEN" + std::string(14, ' ')},
                 {-13, 64, "PKERR_unknown"},
                 {0, 64, "Kernel error of 2"},
                 {-2, 6, "PKERR"},
                 {-2, 1, ""}};
    for (const auto& c : cases) {
        char text[64];
        std::memset(text, 'x', sizeof text);
        errno = 2;
        PelkStatusText(c.code, text, c.size);
        EXPECT_EQ(text, c.text) << c.code << " in " << c.size;
        EXPECT_EQ(text[c.text.size() + 1], 'x') << c.code << " in " << c.size;
    }
    char text[1] = {'a'};
    PelkStatusText(-2, text, 0);
    EXPECT_EQ(text[0], 'a');
}

}  // namespace
