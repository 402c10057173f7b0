// The library's one path for diagnostic texts. Every text goes to the
// callback installed by pelkSetLogCallback; without one, to where PELK_LOG
// says: stdout (the default), stderr, off, or the path of a file to append
// to. PELK_LOG is read at the first text. Safe from any thread.
#ifndef PELK_SERVICES_PELK_LOG_H
#define PELK_SERVICES_PELK_LOG_H

#include <cstdarg>
#include <string>

extern "C" typedef void (*PelkLogSink)(const char* text, void* user);

// Installs the callback (null: back to PELK_LOG) with its user pointer.
void PelkLogSetCallback(PelkLogSink callback, void* user);

// Formats one text printf-style and hands it on, nothing added.
void PelkLogV(const char* format, va_list arguments) __attribute__((format(printf, 1, 0)));
void PelkLog(const char* format, ...) __attribute__((format(printf, 1, 2)));

// A text as one line, for showing it as the cause of a failure: its line
// breaks become blanks, and no blank or line break ends it.
std::string PelkLogLine(const std::string& text);

#endif
