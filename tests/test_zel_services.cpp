#include <cerrno>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>

#include "services/ZelZfc.h"
#include "support/child_process.h"

namespace {

TEST(ZelStream, RefusesEveryTransferThatWouldCrossTheEnd) {
    unsigned char block[16];
    std::memset(block, 0xEE, sizeof block);
    CZelStream stream(block, 10);
    stream << 0x01020304 << true;
    EXPECT_EQ(stream.WriteBlock("abcdefgh", 8), 0u);
    EXPECT_EQ(stream.WriteBlock("a", 1), 0u);  // refused once failed
    EXPECT_TRUE(stream.Failed());
    EXPECT_EQ(std::vector<unsigned char>(block + 5, block + 16),
              std::vector<unsigned char>(11, 0xEE));

    stream.Rewind();
    int number = 0, next = 0, untouched = 77;
    bool flag = false;
    stream >> number >> flag >> next >> untouched;  // 4 + 4 bytes of the 5 left
    EXPECT_EQ(number, 0x01020304);
    EXPECT_TRUE(flag);
    EXPECT_EQ(untouched, 77);
    EXPECT_TRUE(stream.Failed());
}

TEST(ZelStreamSharedMemory, CreatorSizesWithZerosAndAttacherTakesTheSegmentSize) {
    CZelStreamSharedMemory creator("streamtest", 64);
    CZelStreamSharedMemory attacher("streamtest", 4096);
    ASSERT_EQ(creator.GetOpenError() | attacher.GetOpenError(), 0);
    EXPECT_EQ(creator.m_created, 1u);
    EXPECT_EQ(attacher.m_created, 0u);
    EXPECT_EQ(attacher.GetLength(), 64u);
    std::vector<unsigned char> bytes(64, 0xFF);
    ASSERT_EQ(attacher.ReadBlock(bytes.data(), 64), 64u);
    EXPECT_EQ(bytes, std::vector<unsigned char>(64, 0));

    creator.Flush();
    creator << 1234 << false;
    attacher.Flush();
    int number = 0;
    bool flag = true;
    attacher >> number >> flag;
    EXPECT_EQ(number, 1234);
    EXPECT_FALSE(flag);
    CZelStreamSharedMemory badName("no/slashes", 64);
    EXPECT_NE(badName.GetOpenError(), 0);
    EXPECT_EQ(badName.WriteBlock("x", 1), 0u);
}

TEST(ZelMutex, RecursiveHolderKeepsOthersOutUntilItsLastUnlock) {
    CZelMutex mutex(0, "held", 0);
    ASSERT_EQ(mutex.Lock(-1), 0);
    ASSERT_EQ(mutex.Lock(-1), 0);
    Signal go, result;
    pid_t child = StartChild([&] {
        CZelMutex other(0, "held", 0);
        for (int step = 0; step < 3; ++step) {
            go.Receive();
            result.Send(static_cast<char>(other.Lock(step < 2 ? 100 : -1)));
        }
        return other.Unlock();
    });
    for (int depth = 2; depth >= 0; --depth) {
        go.Send();
        EXPECT_EQ(result.Receive(), depth > 0 ? ETIMEDOUT : 0) << depth;
        if (depth > 0) {
            EXPECT_EQ(mutex.Unlock(), 0);
        }
    }
    EXPECT_EQ(WaitChild(child), 0);
    EXPECT_EQ(mutex.Unlock(), EPERM);  // no longer the holder
}

}  // namespace
