// Many remote objects at once through one pelkd, and one object used from
// two threads (one sending, one receiving, as the kernel driver allows).
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <pelklib.h>

#include "support/remote_fixture.h"

namespace {

using RemoteClients = RemoteTest;

// Sends a message whose data names the client and round, and checks that
// the answer is that message.
bool RoundTrip(cPelkLib& lib, int client, int round) {
    char data[256], back[256] = {};
    std::snprintf(data, sizeof data, "client %d round %d", client, round);
    _PELKOR_MSG_HEADER header = {};
    header.params[0] = static_cast<uint32_t>(client);
    void* areas[1] = {data};
    unsigned int lengths[1] = {sizeof data};
    PK_REC_INFO info;
    _PELKOR_MSG_HEADER answer;
    void* into[1] = {back};
    return lib.SendPelkorMessage(&header, 1, 2, static_cast<unsigned int>(round), 1, areas,
                                 lengths) == 0 &&
           lib.ReceivePelkorMessage(&info, 10000, &answer) == 0 &&
           lib.ReceiveBuffers(info.bufLen, into) == 0 &&
           info.tag == static_cast<unsigned int>(round) &&
           answer.params[0] == static_cast<uint32_t>(client) &&
           std::memcmp(back, data, sizeof data) == 0;
}

TEST_F(RemoteClients, ThirtyTwoClientsAtOnce) {
    constexpr int kClients = 32;
    std::atomic<int> good{0};
    std::vector<std::thread> clients;
    for (int client = 0; client < kClients; ++client) {
        clients.emplace_back([&, client] {
            Lib lib = Make();
            bool ok = lib->Open(56, nullptr) == 0;
            for (int round = 0; ok && round < 50; ++round) ok = RoundTrip(*lib, client, round);
            unsigned int first = 1, second = 1;
            ok = ok && lib->GetDriverVersion(&first, &second) == 0 && first == 0;
            if (ok) ++good;
        });
    }
    for (std::thread& client : clients) client.join();
    EXPECT_EQ(good.load(), kClients);
}

TEST_F(RemoteClients, OneObjectSendsOnOneThreadAndReceivesOnAnother) {
    Lib lib = Make();
    ASSERT_EQ(lib->Open(56, nullptr), 0);
    constexpr unsigned int kMessages = 500;
    std::thread sender([&lib] {
        for (unsigned int i = 0; i < kMessages; ++i) {
            _PELKOR_MSG_HEADER header = {};
            header.word0 = i;
            ASSERT_EQ(lib->SendPelkorMessage(&header, 1, 2, i, 0, nullptr, nullptr), 0);
        }
    });
    unsigned int next = 0;
    for (; next < kMessages; ++next) {
        PK_REC_INFO info;
        _PELKOR_MSG_HEADER answer;
        if (lib->ReceivePelkorMessage(&info, 10000, &answer) != 0 || answer.word0 != next) break;
    }
    sender.join();
    EXPECT_EQ(next, kMessages);
}

}  // namespace
