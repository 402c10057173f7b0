// Waiting on the emulator runtime during the handshake in Open. Every wait
// is bounded, and ends early once the runtime's lock shows it has gone:
// the handshake runs under the host-wide semaphore, so a wait without limit
// there would stop every Open on the host.
#ifndef PELK_EMU_RUNTIME_WAIT_H
#define PELK_EMU_RUNTIME_WAIT_H

#include <string>

// How long one step of the handshake waits for a runtime that is alive.
constexpr int ZBHOST_HANDSHAKE_STEP_LIMIT_MS = 5000;

enum class RuntimePresence {
    Alive,    // someone holds the runtime's lock (ZBHOST_LOCK_NAME)
    Gone,     // the lock file exists and nobody holds its lock
    Unknown,  // no lock file (a runtime of another kind may serve)
};

RuntimePresence ProbeRuntime();

// Opens the FIFO at path for writing without blocking, as
// OpenEmulatorObject does (emu/emulator_files.h); while it has no reader
// yet, tries again until the step limit. The descriptor, or -1 with errno:
// ETIMEDOUT past the limit, ESRCH when the runtime has gone, or that of
// OpenEmulatorObject with its refusal.
int OpenFifoWhenRead(const char* path, std::string* refusal);

// Waits until fd has bytes to read or its writers have gone: 0, or -1 with
// errno ETIMEDOUT past the step limit, ESRCH when the runtime has gone.
int WaitReadable(int fd);

#endif
