#include "tools/pelk/output.h"

#include <cstdarg>
#include <cstdio>

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
    if (code != 0) {
        Doing(label);
        Failure(code, lib);
    }
}

void Output::Failure(int code, cPelkLib* lib) {
    m_status = DescribeStatus(code, lib);
    m_hasStatus = true;
}

void Output::Error(const std::string& message) {
    if (m_json) {
        m_messages += (m_messages.empty() ? "" : "; ") + message;
    } else {
        std::fflush(stdout);  // keeps the message after the lines before it
        std::fprintf(stderr, "pelk %s: %s\n", m_command.c_str(), message.c_str());
    }
}

int Output::Usage(const std::string& problem) {
    const std::string helpCall = "pelk " + m_command;
    if (m_json) {
        Error(UsageText(problem, helpCall));
    } else {
        ReportUsage("pelk", problem, helpCall);
    }
    return kExitUsage;
}

JsonObject Output::ErrorJson(int exitCode) const {
    JsonObject error;
    if (m_hasStatus) {
        error.Int("status", m_status.code).Str("name", m_status.name);
    } else {
        error.Null("status").Str("name", exitCode == kExitUsage         ? "usage"
                                         : exitCode == kExitInterrupted ? "interrupted"
                                                                        : "failed");
    }
    error.Str("text", !m_messages.empty() ? m_messages
                      : m_hasStatus       ? m_status.meaning
                                          : "the command failed");
    error.Str("during", !m_doing.empty()         ? m_doing
                        : exitCode == kExitUsage ? "reading the command line"
                                                 : m_command);
    return error;
}

int Output::Finish(int exitCode) {
    if (m_json) {
        JsonObject result;
        result.Str("command", m_command).Bool("ok", exitCode == kExitOk);
        if (exitCode != kExitOk) {
            result.Obj("error", ErrorJson(exitCode));
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
