// Collects the library's diagnostic texts while it lives.
#ifndef PELK_TESTS_LOG_LINES_H
#define PELK_TESTS_LOG_LINES_H

#include <mutex>
#include <string>

#include <pelklib.h>

class LogLines {
public:
    LogLines() { pelkSetLogCallback(&Collect, this); }
    ~LogLines() { pelkSetLogCallback(nullptr, nullptr); }
    std::string Text() {
        std::lock_guard<std::mutex> hold(m_lock);
        return m_text;
    }

private:
    static void Collect(const char* text, void* user) {
        LogLines* self = static_cast<LogLines*>(user);
        std::lock_guard<std::mutex> hold(self->m_lock);
        self->m_text += text;
    }
    std::mutex m_lock;
    std::string m_text;
};

#endif
