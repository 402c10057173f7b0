#include "tools/common/library_diagnostics.h"

#include <cstdio>
#include <deque>
#include <mutex>

#include "services/pelk_log.h"

namespace {

// More texts than this between two lines of the tool are written out early.
constexpr size_t kMaxHeld = 64;

std::mutex s_lock;
std::deque<std::string> s_held;

void WriteOut(const std::string& text) {
    std::fputs(text.c_str(), stderr);
}

}  // namespace

extern "C" void HoldLibraryDiagnostic(const char* text, void*) {
    std::lock_guard<std::mutex> hold(s_lock);
    if (s_held.size() == kMaxHeld) {
        WriteOut(s_held.front());
        s_held.pop_front();
    }
    s_held.emplace_back(text);
}

std::string TakeLibraryDiagnostic() {
    std::lock_guard<std::mutex> hold(s_lock);
    if (s_held.empty()) {
        return "";
    }
    std::string last = s_held.back();
    s_held.pop_back();
    for (const std::string& text : s_held) {
        WriteOut(text);
    }
    s_held.clear();
    return PelkLogLine(last);
}

void FlushLibraryDiagnostics() {
    std::lock_guard<std::mutex> hold(s_lock);
    for (const std::string& text : s_held) {
        WriteOut(text);
    }
    s_held.clear();
}
