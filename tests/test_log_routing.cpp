// The library's diagnostic texts reach the place PELK_LOG names, or the
// callback the application installs, each text whole and unchanged.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <pelklib.h>

#include "support/child_process.h"

namespace {

// With a reply pipe but no request pipe (a runtime that died half-way),
// opening an emulated board logs the failed open, then what to do.
const char kNoRuntime[] =
    "DeterminePipe trying to open ManagerOut, open returned -1, errno 2: No such file or "
    "directory\n";
const char kAdvice[] =
    "Open: no runtime serves /dev (/dev/ZBHostManagerIn does not exist): start zbhost in /dev "
    "(PELK_EMULATOR_DIR=/dev zbhost), or set PELK_EMULATOR_DIR to the directory zbhost serves\n";

void OpenWithoutRuntime() {
    mkfifo("/dev/ZBHostManagerOut", 0666);
    cPelkLib* lib = NewPelkLibByType(PELKLIB_DRIVER_ZBHOST);
    EXPECT_NE(lib->Open(PK_MAX_HEADER_LEN, nullptr), 0);
    deletePelkLib(lib);
}

std::string Contents(const std::string& path) {
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
}

// PELK_LOG is read at the first text, so each setting runs in a child that
// has not logged yet. (This test comes first in the file for that reason.)
TEST(LogRouting, PelkLogChoosesWhereTextsGo) {
    const std::string out = "/dev/shm/log_stdout", err = "/dev/shm/log_stderr",
                      file = "/dev/shm/log_file",
                      twice = std::string(kNoRuntime) + kAdvice + kNoRuntime + kAdvice;
    const struct {
        const char* setting;  // null: unset
        std::string where;    // the one of out, err and file that gets the texts
    } cases[] = {
        {nullptr, out}, {"stdout", out}, {"stderr", err}, {"off", ""}, {file.c_str(), file}};
    for (const auto& expected : cases) {
        for (const std::string& path : {out, err, file}) std::remove(path.c_str());
        pid_t child = StartChild([&] {
            expected.setting ? setenv("PELK_LOG", expected.setting, 1) : unsetenv("PELK_LOG");
            dup2(open(out.c_str(), O_WRONLY | O_CREAT, 0600), STDOUT_FILENO);
            dup2(open(err.c_str(), O_WRONLY | O_CREAT, 0600), STDERR_FILENO);
            OpenWithoutRuntime();
            OpenWithoutRuntime();  // a file is appended to, not rewritten
            std::fflush(nullptr);
            return 0;
        });
        ASSERT_EQ(WaitChild(child), 0);
        for (const std::string& path : {out, err, file}) {
            const std::string text = Contents(path);  // the streams may say more after
            EXPECT_EQ(path == file ? text : text.substr(0, twice.size()),
                      path == expected.where ? twice : "")
                << path << " with " << (expected.setting ? expected.setting : "PELK_LOG unset");
        }
    }
}

TEST(LogRouting, CallbackReceivesEveryTextInstead) {
    std::vector<std::string> texts;
    pelkSetLogCallback(
        [](const char* text, void* user) {
            static_cast<std::vector<std::string>*>(user)->push_back(text);
        },
        &texts);
    OpenWithoutRuntime();
    pelkSetLogCallback(nullptr, nullptr);
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0], kNoRuntime);
    EXPECT_EQ(texts[1], kAdvice);
}

}  // namespace
