// --version of the command-line tools: the tool's version and, for a tool
// that uses libpelk, the version of the library it runs with.
#ifndef PELK_TOOLS_TOOL_VERSION_H
#define PELK_TOOLS_TOOL_VERSION_H

#include <cstdio>

inline void PrintToolVersion(const char* tool, const char* libraryVersion) {
    std::printf("%s %s\n", tool, PELK_VERSION_TEXT);
    if (libraryVersion != nullptr) {
        std::printf("libpelk %s\n", libraryVersion);
    }
}

#endif
