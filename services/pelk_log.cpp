#include "services/pelk_log.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include <fcntl.h>
#include <unistd.h>

#include "services/settings.h"
#include "services/standard_descriptors.h"

namespace {

struct LogRoute {
    std::mutex lock;
    PelkLogSink callback = nullptr;
    void* user = nullptr;
    bool configured = false;  // PELK_LOG has been read
    FILE* stream = nullptr;   // without a callback; null: off
};

LogRoute& Route() {
    static LogRoute route;
    return route;
}

// Where texts go without a callback. A file that cannot be opened gets one
// line on standard error, and texts go nowhere.
FILE* StreamFromEnvironment() {
    const char* setting = SettingLog();
    if (std::strcmp(setting, "stdout") == 0) {
        return stdout;
    }
    if (std::strcmp(setting, "stderr") == 0) {
        return stderr;
    }
    if (std::strcmp(setting, "off") == 0) {
        return nullptr;
    }
    // Off descriptors 0 to 2, like every descriptor the library keeps.
    const int fd =
        KeepOffStandardDescriptors(open(setting, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666));
    FILE* file = fd == -1 ? nullptr : fdopen(fd, "a");
    if (file == nullptr) {
        if (fd != -1) {
            close(fd);
        }
        std::fprintf(stderr, "pelklib: PELK_LOG file %s: %s; diagnostics are off\n", setting,
                     std::strerror(errno));
    }
    return file;
}

}  // namespace

void PelkLogSetCallback(PelkLogSink callback, void* user) {
    LogRoute& route = Route();
    std::lock_guard<std::mutex> guard(route.lock);
    route.callback = callback;
    route.user = user;
}

void PelkLogV(const char* format, va_list arguments) {
    va_list measuring;
    va_copy(measuring, arguments);
    const int length = std::vsnprintf(nullptr, 0, format, measuring);
    va_end(measuring);
    if (length < 0) {
        return;
    }
    std::string text(static_cast<size_t>(length) + 1, '\0');
    std::vsnprintf(&text[0], text.size(), format, arguments);
    text.pop_back();

    LogRoute& route = Route();
    PelkLogSink callback;
    void* user;
    FILE* stream;
    {
        std::lock_guard<std::mutex> guard(route.lock);
        if (!route.configured) {
            route.stream = StreamFromEnvironment();
            route.configured = true;
        }
        callback = route.callback;
        user = route.user;
        stream = route.stream;
    }
    // The callback runs unlocked, so it may itself install another one.
    if (callback != nullptr) {
        callback(text.c_str(), user);
    } else if (stream != nullptr) {
        std::fputs(text.c_str(), stream);
        if (stream != stdout) {
            std::fflush(stream);
        }
    }
}

void PelkLog(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    PelkLogV(format, arguments);
    va_end(arguments);
}

std::string PelkLogLine(const std::string& text) {
    std::string line;
    for (char c : text) {
        if (c != '\n') {
            line += c;
        } else if (!line.empty() && line.back() != ' ') {
            line += ' ';
        }
    }
    while (!line.empty() && line.back() == ' ') {
        line.pop_back();
    }
    return line;
}
