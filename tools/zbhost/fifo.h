// Small helpers for the FIFOs zbhost makes in the emulator directory.
#ifndef ZBHOST_FIFO_H
#define ZBHOST_FIFO_H

#include <string>

// Creates the FIFO at path, read/write for everybody whatever the umask. A
// FIFO left at that path by an earlier runtime is replaced, so that nobody
// still holding the old one shares the new one. False with errno set when it
// cannot be made.
bool MakeFifo(const std::string& path);

// Like MakeFifo, but a FIFO already at path is kept: a client blocked opening
// it (left by a runtime that was killed) is served by this one.
bool KeepOrMakeFifo(const std::string& path);

// Opens path without blocking, close-on-exec; -1 with errno on failure.
int OpenFifo(const std::string& path, int access);

// Removes the pipe pairs ("ZBHostIn0007", "ZBHostOut0007", ...) a killed
// runtime left in the emulator directory; returns how many FIFOs went.
int RemoveLeftPairs();

#endif
