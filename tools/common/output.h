// What a tool's command reports: text for people on stdout (messages on
// stderr), or with --json one JSON object on stdout holding the same facts,
// in one schema for every tool: "command", "ok", the command's fields,
// "warnings" when there are any, and for a failure an "error" object: the status (a number, or null
// when no library status caused it), its name, a text for people, the library's diagnostic that
// explains it ("cause", when there is one) and the step the command was doing.
#ifndef PELK_TOOLS_OUTPUT_H
#define PELK_TOOLS_OUTPUT_H

#include <string>

#include <pelklib.h>

#include "tools/common/json.h"
#include "tools/common/options.h"
#include "tools/common/status.h"

enum ExitCode {
    kExitOk = 0,
    kExitFailed = 1,
    kExitUsage = kUsageExitStatus,
    kExitInterrupted = 130
};

class Output {
public:
    // tool "pelk", command "resolve": messages read "pelk resolve: ...".
    Output(const std::string& tool, const std::string& command, bool json)
        : m_tool(tool), m_command(command), m_json(json) {}
    bool Json() const { return m_json; }
    // The result's fields, written out by Finish with --json.
    JsonObject& Fields() { return m_fields; }
    // printf to stdout, in text mode only.
    void Text(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // Names what the command does now, for the error's "during".
    void Doing(const std::string& step) { m_doing = step; }
    // Adds the status under key; in text mode prints "label: <status line>".
    // A status other than 0 becomes the error's status, during label.
    void Status(const std::string& key, const std::string& label, int code, cPelkLib* lib);
    // Makes code the error's status without printing it. The library's last
    // diagnostic becomes the error's cause, in text mode printed as a
    // message.
    void Failure(int code, cPelkLib* lib);
    // True when the failure has the library's diagnostic as its cause.
    bool HasCause() const { return !m_cause.empty(); }
    // A message for the user: on stderr, or the error's text with --json.
    void Error(const std::string& message);
    // A warning: on stderr ("oamtab load: warning: ..."), or with --json in
    // the result's "warnings" list.
    void Warning(const std::string& message);
    // A wrong command line, in the tools' one form ("pelk: PROBLEM (see
    // pelk COMMAND --help)"); returns kExitUsage.
    int Usage(const std::string& problem);
    // The same before the command is known: help is the tool's own ("pelk:
    // unknown command frobnicate (see pelk --help)").
    int ToolUsage(const std::string& problem);
    // Writes the JSON object (with "command", "ok", the fields and, for a
    // failure, "error") and returns exitCode.
    int Finish(int exitCode);

private:
    // Keeps the failed status and takes the library's last diagnostic.
    void TakeFailure(const StatusInfo& status);
    void PrintCause();
    int UsageWithHelp(const std::string& problem, const std::string& helpCall);
    JsonObject ErrorJson(int exitCode) const;

    std::string m_tool;
    std::string m_command;
    bool m_json;
    JsonObject m_fields;
    std::string m_doing;
    std::string m_messages;
    JsonArray m_warnings;
    bool m_warned = false;
    std::string m_cause;
    bool m_hasStatus = false;
    StatusInfo m_status;
};

#endif
