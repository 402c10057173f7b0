// Runs a shell command line and collects its standard output and exit code.
#ifndef PELK_TESTS_RUN_PROGRAM_H
#define PELK_TESTS_RUN_PROGRAM_H

#include <sys/wait.h>

#include <cstdio>
#include <string>

struct ProgramResult {
    int exitCode;
    std::string output;
    bool Says(const std::string& text) const { return output.find(text) != std::string::npos; }
};

inline ProgramResult RunProgram(const std::string& commandLine) {
    ProgramResult result{-1, ""};
    FILE* pipe = popen(commandLine.c_str(), "r");
    if (pipe == nullptr) return result;
    char buffer[4096];
    for (size_t got; (got = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        result.output.append(buffer, got);
    int status = pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

#endif
