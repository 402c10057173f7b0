// The library's diagnostic texts in a tool: held until the tool prints its
// next line, so that a failure can take the text that explains it as its
// cause instead of the text appearing once raw and once in the message.
#ifndef PELK_TOOLS_LIBRARY_DIAGNOSTICS_H
#define PELK_TOOLS_LIBRARY_DIAGNOSTICS_H

#include <string>

// The callback to install with pelkSetLogCallback: holds each text.
extern "C" void HoldLibraryDiagnostic(const char* text, void* user);

// The last text held, without its line end, or "" when none is held; the
// texts held before it are written to standard error first.
std::string TakeLibraryDiagnostic();

// Writes every text held to standard error.
void FlushLibraryDiagnostics();

#endif
