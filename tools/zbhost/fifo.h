// Small helpers for the FIFOs zbhost makes in the emulator directory. Every
// FIFO is opened without following a symbolic link and checked on its
// descriptor (services/shared_access.h); its mode and group are set on that
// descriptor, never by name.
#ifndef ZBHOST_FIFO_H
#define ZBHOST_FIFO_H

#include <string>

// Creates the FIFO at path, shared as the access policy says whatever the
// umask. Whatever is left at that path (a FIFO of an earlier runtime, or
// anything else) is replaced, so that nobody still holding the old one
// shares the new one. False with errno set when it cannot be made.
bool MakeFifo(const std::string& path);

// Makes sure a FIFO of ours is at path without opening it: one already
// there that passes the check is kept (a client blocked opening it, left by
// a runtime that was killed, is served by this one), anything else is
// replaced. OpenSharedFifo shares it when it is opened. False with errno
// when it cannot be made.
bool KeepOrMakeFifo(const std::string& path);

// Opens the FIFO at path for reading and writing and shares it as the access
// policy says, through that descriptor; -1 with errno on failure.
int OpenSharedFifo(const std::string& path);

// Opens the FIFO at path without blocking or following a symbolic link,
// close-on-exec; -1 with errno on failure, EACCES when it is not a FIFO the
// access policy trusts.
int OpenFifo(const std::string& path, int access);

// Removes the pipe pairs ("ZBHostIn0007", "ZBHostOut0007", ...) a killed
// runtime left in the emulator directory; returns how many FIFOs went.
int RemoveLeftPairs();

#endif
