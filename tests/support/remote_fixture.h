// The fixture of the remote tests: a real zbhost, a directory of the
// test's own (removed afterwards) and, unless a test starts its own, a real
// pelkd on the socket "pelkd.sock" in it.
#ifndef PELK_TESTS_REMOTE_FIXTURE_H
#define PELK_TESTS_REMOTE_FIXTURE_H

#include <stdlib.h>

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <pelklib.h>

#include "tests/support/pelkd_process.h"
#include "tests/support/run_program.h"
#include "tests/support/zbhost_process.h"

using Lib = std::unique_ptr<cPelkLib, void (*)(cPelkLib*)>;

class RemoteTest : public testing::Test {
protected:
    // withPelkd: start the pelkd on the test's socket.
    explicit RemoteTest(bool withPelkd = true) : m_with_pelkd(withPelkd) {}
    void SetUp() override {
        ASSERT_TRUE(m_zbhost.WaitReady());
        char directory[] = "/tmp/pelkd-test-XXXXXX";
        ASSERT_NE(mkdtemp(directory), nullptr);
        m_dir = directory;
        m_socket = m_dir + "/pelkd.sock";
        if (m_with_pelkd) {
            StartPelkd();
        }
    }
    void TearDown() override {
        m_pelkd.reset();
        RunProgram("rm -rf " + m_dir);
    }
    void StartPelkd() {
        m_pelkd = std::make_unique<Pelkd>(std::vector<std::string>{"--listen", "unix:" + m_socket});
        ASSERT_EQ(m_pelkd->Targets().size(), 1u) << m_pelkd->Errors();
    }
    // An unopened object of the test's pelkd (or a local one).
    Lib Make(bool remote = true) {
        return Lib(remote ? NewPelkLibRemote(("unix:" + m_socket).c_str(), PELKLIB_DRIVER_ZBHOST, 0)
                          : NewPelkLibByType(PELKLIB_DRIVER_ZBHOST),
                   deletePelkLib);
    }

    const bool m_with_pelkd;
    Zbhost m_zbhost;
    std::string m_dir, m_socket;
    std::unique_ptr<Pelkd> m_pelkd;
};

#endif
