#include <cerrno>
#include <cstring>
#include <vector>

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>

#include "services/ZelZfc.h"
#include "services/pxi.h"
#include "support/child_process.h"

namespace {

TEST(ZelStream, RefusesEveryTransferThatWouldCrossTheEnd) {
    unsigned char block[16];
    std::memset(block, 0xEE, sizeof block);
    CZelStream stream(block, 10);
    stream << 0x01020304 << true;
    EXPECT_EQ(stream.GetPosition(), 5u);
    char payload[8] = {'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h'};
    EXPECT_EQ(stream.WriteBlock(payload, 8), 0u);
    EXPECT_TRUE(stream.Failed());
    // Once failed, even a transfer that would fit is refused.
    EXPECT_EQ(stream.WriteBlock(payload, 1), 0u);
    for (size_t i = 5; i < sizeof block; ++i) {
        EXPECT_EQ(block[i], 0xEE) << i;
    }

    stream.Rewind();
    int number = 0;
    bool flag = false;
    stream >> number >> flag;
    EXPECT_EQ(number, 0x01020304);
    EXPECT_TRUE(flag);
    int untouched = 77;
    stream >> number >> untouched;  // 4 + 4 bytes of the 5 left
    EXPECT_TRUE(stream.Failed());
    EXPECT_EQ(untouched, 77);
    EXPECT_EQ(stream.ReadBlock(payload, 0xFFFFFFFFu), 0u);
}

TEST(ZelStreamSharedMemory, CreatorSizesWithZerosAndAttacherTakesTheSegmentSize) {
    CZelStreamSharedMemory creator("streamtest", 64);
    ASSERT_EQ(creator.GetOpenError(), 0);
    EXPECT_EQ(creator.m_created, 1u);
    EXPECT_EQ(creator.GetLength(), 64u);
    std::vector<unsigned char> bytes(64, 0xFF);
    ASSERT_EQ(creator.ReadBlock(bytes.data(), 64), 64u);
    EXPECT_EQ(bytes, std::vector<unsigned char>(64, 0));

    CZelStreamSharedMemory attacher("streamtest", 4096);
    ASSERT_EQ(attacher.GetOpenError(), 0);
    EXPECT_EQ(attacher.m_created, 0u);
    EXPECT_EQ(attacher.GetLength(), 64u);

    creator.Flush();
    creator << 1234 << false << 5;
    attacher.Flush();
    int first = 0, second = 0;
    bool flag = true;
    attacher >> first >> flag >> second;
    EXPECT_EQ(first, 1234);
    EXPECT_FALSE(flag);
    EXPECT_EQ(second, 5);

    attacher.Close();
    EXPECT_EQ(attacher.GetLength(), 0u);
    EXPECT_EQ(attacher.WriteBlock("x", 1), 0u);

    CZelStreamSharedMemory badName("no/slashes", 64);
    EXPECT_NE(badName.GetOpenError(), 0);
    EXPECT_EQ(badName.WriteBlock("x", 1), 0u);
}

TEST(ZelMutex, RecursiveHolderKeepsOthersOutUntilItsLastUnlock) {
    CZelMutex mutex(0, "held", 0);
    ASSERT_EQ(mutex.GetOpenError(), 0);
    EXPECT_STREQ(mutex.GetName(), "held");
    ASSERT_EQ(mutex.Lock(-1), 0);
    ASSERT_EQ(mutex.Lock(-1), 0);
    Signal go, result;
    pid_t child = StartChild([&] {
        CZelMutex other(0, "held", 0);
        for (int step = 0; step < 3; ++step) {
            if (go.Receive() < 0) return 10;
            result.Send(static_cast<char>(other.Lock(step < 2 ? 100 : -1)));
        }
        return other.Unlock();
    });
    go.Send();
    EXPECT_EQ(result.Receive(), ETIMEDOUT);  // held at depth 2
    EXPECT_EQ(mutex.Unlock(), 0);
    go.Send();
    EXPECT_EQ(result.Receive(), ETIMEDOUT);  // still held at depth 1
    EXPECT_EQ(mutex.Unlock(), 0);
    go.Send();
    EXPECT_EQ(result.Receive(), 0);
    EXPECT_EQ(WaitChild(child), 0);
    EXPECT_EQ(mutex.Unlock(), EPERM);  // not the holder
}

TEST(ZelMutex, HolderKilledAtAnyDepthBlocksNobody) {
    for (int depth : {1, 3}) {
        CZelMutex mutex(0, "robust", 0);
        Signal holding;
        pid_t holder = StartChild([&] {
            for (int i = 0; i < depth; ++i) mutex.Lock(-1);
            holding.Send();
            pause();
            return 0;
        });
        ASSERT_EQ(holding.Receive(), 1);
        kill(holder, SIGKILL);
        EXPECT_EQ(WaitChild(holder), -1);

        ASSERT_EQ(mutex.Lock(2000), 0) << depth;
        EXPECT_EQ(mutex.Unlock(), 0);
        EXPECT_EQ(mutex.Unlock(), EPERM) << "the new holder gets it at depth 1";
        pid_t third = StartChild([] {
            CZelMutex mutex(0, "robust", 0);
            int locked = mutex.Lock(2000);
            return locked != 0 ? locked : mutex.Unlock();
        });
        EXPECT_EQ(WaitChild(third), 0) << depth;
    }
}

TEST(ZelMutex, ProcessesCreatingAtOnceShareOneMutex) {
    const int kProcesses = 6, kRounds = 300;
    auto* counter = static_cast<int*>(
        mmap(nullptr, sizeof(int), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(counter, MAP_FAILED);
    *counter = 0;
    Signal start;
    std::vector<pid_t> children;
    for (int i = 0; i < kProcesses; ++i) {
        children.push_back(StartChild([&] {
            start.Receive();
            CZelMutex mutex(0, "race", 0);
            for (int round = 0; round < kRounds; ++round) {
                if (mutex.Lock(-1) != 0) return 1;
                int seen = *counter;
                sched_yield();
                *counter = seen + 1;
                if (mutex.Unlock() != 0) return 2;
            }
            return 0;
        }));
    }
    for (int i = 0; i < kProcesses; ++i) start.Send();
    for (pid_t child : children) EXPECT_EQ(WaitChild(child), 0);
    EXPECT_EQ(*counter, kProcesses * kRounds);
    munmap(counter, sizeof(int));
}

TEST(Pxi, StricmpIgnoresCaseOnly) {
    EXPECT_EQ(pxiStricmp("Board7", "bOARD7"), 0);
    EXPECT_LT(pxiStricmp("alpha", "Beta"), 0);
    EXPECT_GT(pxiStricmp("beta", "ALPHA"), 0);
    EXPECT_LT(pxiStricmp("b", "b1"), 0);
    CZelString name("OAM");
    name += "Shadow";
    EXPECT_STREQ(name, "OAMShadow");
}

}  // namespace
