// What a command reports: text for people on stdout (messages on stderr), or
// with --json one JSON object on stdout holding the same facts. A failed
// command's object has an "error" object: the status (a number, or null when
// no library status caused it), its name, a text for people and the step
// the command was doing.
#ifndef PELK_TOOL_OUTPUT_H
#define PELK_TOOL_OUTPUT_H

#include <string>

#include <pelklib.h>

#include "tools/common/json.h"
#include "tools/common/options.h"
#include "tools/pelk/status.h"

enum ExitCode {
    kExitOk = 0,
    kExitFailed = 1,
    kExitUsage = kUsageExitStatus,
    kExitInterrupted = 130
};

class Output {
public:
    Output(const std::string& command, bool json) : m_command(command), m_json(json) {}
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
    // Makes code the error's status without printing it.
    void Failure(int code, cPelkLib* lib);
    // A message for the user: on stderr, or the error's text with --json.
    void Error(const std::string& message);
    // A wrong command line, in the tools' one form ("pelk: PROBLEM (see
    // pelk COMMAND --help)"); returns kExitUsage.
    int Usage(const std::string& problem);
    // Writes the JSON object (with "command", "ok", the fields and, for a
    // failure, "error") and returns exitCode.
    int Finish(int exitCode);

private:
    JsonObject ErrorJson(int exitCode) const;

    std::string m_command;
    bool m_json;
    JsonObject m_fields;
    std::string m_doing;
    std::string m_messages;
    bool m_hasStatus = false;
    StatusInfo m_status;
};

#endif
