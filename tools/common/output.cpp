#include "tools/common/output.h"

#include <cstdarg>
#include <cstdio>

#include "tools/common/library_diagnostics.h"

void Output::Text(const char* format, ...) {
    if (m_json) {
        return;
    }
    FlushLibraryDiagnostics();
    va_list arguments;
    va_start(arguments, format);
    std::vprintf(format, arguments);
    va_end(arguments);
}

void Output::Status(const std::string& key, const std::string& label, int code, cPelkLib* lib) {
    const StatusInfo status = DescribeStatus(code, lib);
    m_fields.Obj(key, StatusJson(status));
    if (code != 0) {
        Doing(label);
        TakeFailure(status);
    }
    Text("%s: %s\n", label.c_str(), StatusLine(status).c_str());
    if (code != 0) {
        PrintCause();
    }
}

void Output::Failure(int code, cPelkLib* lib) {
    TakeFailure(DescribeStatus(code, lib));
    PrintCause();
}

void Output::TakeFailure(const StatusInfo& status) {
    m_status = status;
    m_hasStatus = true;
    m_cause = TakeLibraryDiagnostic();
}

void Output::PrintCause() {
    if (!m_json && !m_cause.empty()) {
        std::fflush(stdout);
        std::fprintf(stderr, "%s %s: %s\n", m_tool.c_str(), m_command.c_str(), m_cause.c_str());
    }
}

void Output::Error(const std::string& message) {
    if (m_json) {
        m_messages += (m_messages.empty() ? "" : "; ") + message;
    } else {
        FlushLibraryDiagnostics();
        std::fflush(stdout);  // keeps the message after the lines before it
        std::fprintf(stderr, "%s %s: %s\n", m_tool.c_str(), m_command.c_str(), message.c_str());
    }
}

void Output::Warning(const std::string& message) {
    m_warned = true;
    if (m_json) {
        m_warnings.Str(message);
    } else {
        Error("warning: " + message);
    }
}

int Output::Usage(const std::string& problem) {
    return UsageWithHelp(problem, m_tool + " " + m_command);
}

int Output::ToolUsage(const std::string& problem) {
    return UsageWithHelp(problem, m_tool);
}

int Output::UsageWithHelp(const std::string& problem, const std::string& helpCall) {
    if (m_json) {
        Error(UsageText(problem, helpCall));
    } else {
        ReportUsage(m_tool.c_str(), problem, helpCall);
    }
    return kExitUsage;
}

JsonObject Output::ErrorJson(int exitCode) const {
    // Exit status 2 after a step began (zbhost's unreadable capture) is no
    // wrong command line.
    const bool usage = exitCode == kExitUsage && m_doing.empty();
    JsonObject error;
    if (m_hasStatus) {
        error.Int("status", m_status.code).Str("name", m_status.name);
    } else {
        error.Null("status").Str("name", usage                          ? "usage"
                                         : exitCode == kExitInterrupted ? "interrupted"
                                                                        : "failed");
    }
    error.Str("text", !m_messages.empty() ? m_messages
                      : m_hasStatus       ? m_status.meaning
                                          : "the command failed");
    if (!m_cause.empty()) {
        error.Str("cause", m_cause);
    }
    error.Str("during", !m_doing.empty() ? m_doing
                        : usage          ? "reading the command line"
                                         : m_command);
    return error;
}

int Output::Finish(int exitCode) {
    FlushLibraryDiagnostics();
    if (m_json) {
        JsonObject result;
        result.Str("command", m_command).Bool("ok", exitCode == kExitOk);
        if (m_warned) {
            result.Arr("warnings", m_warnings);
        }
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
