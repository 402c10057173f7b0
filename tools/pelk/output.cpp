#include "tools/pelk/output.h"

#include <cstdarg>
#include <cstdio>

#include "tools/pelk/status.h"

void Output::Text(const char* format, ...) {
    if (m_json) {
        return;
    }
    va_list arguments;
    va_start(arguments, format);
    std::vprintf(format, arguments);
    va_end(arguments);
}

void Output::Status(const std::string& key, const std::string& label, int code, cPelkLib* lib) {
    const StatusInfo status = DescribeStatus(code, lib);
    m_fields.Obj(key, StatusJson(status));
    Text("%s: %s\n", label.c_str(), StatusLine(status).c_str());
}

void Output::Error(const std::string& message) {
    if (m_json) {
        m_error += (m_error.empty() ? "" : "; ") + message;
    } else {
        std::fflush(stdout);  // keeps the message after the lines before it
        std::fprintf(stderr, "pelk %s: %s\n", m_command.c_str(), message.c_str());
    }
}

int Output::Finish(int exitCode) {
    if (m_json) {
        JsonObject result;
        result.Str("command", m_command).Bool("ok", exitCode == kExitOk);
        if (!m_error.empty()) {
            result.Str("error", m_error);
        }
        std::string json = result.Render();
        const std::string fields = m_fields.Render();
        if (fields.size() > 2) {
            json.insert(json.size() - 1, "," + fields.substr(1, fields.size() - 2));
        }
        std::printf("%s\n", json.c_str());
    }
    std::fflush(stdout);
    return exitCode;
}
