// What a command reports: text for people on stdout (messages on stderr), or
// with --json one JSON object on stdout holding the same facts.
#ifndef PELK_TOOL_OUTPUT_H
#define PELK_TOOL_OUTPUT_H

#include <string>

#include <pelklib.h>

#include "tools/pelk/json.h"

enum ExitCode { kExitOk = 0, kExitFailed = 1, kExitUsage = 2 };

class Output {
public:
    Output(const std::string& command, bool json) : m_command(command), m_json(json) {}
    bool Json() const { return m_json; }
    // The result's fields, written out by Finish with --json.
    JsonObject& Fields() { return m_fields; }
    // printf to stdout, in text mode only.
    void Text(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // Adds the status under key; in text mode prints "label: <status line>".
    void Status(const std::string& key, const std::string& label, int code, cPelkLib* lib);
    // A message for the user: on stderr, or the "error" field with --json.
    void Error(const std::string& message);
    // Writes the JSON object (with "command", "ok" and the fields) and
    // returns exitCode.
    int Finish(int exitCode);

private:
    std::string m_command;
    bool m_json;
    JsonObject m_fields;
    std::string m_error;
};

#endif
