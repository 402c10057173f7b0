// cPelkLib_Emu: object lifetime and Open with the manager handshake (the
// byte-moving primitives on the pipe pair are in pipe_io.cpp).
#include "emu/pelklib_emu.h"

#include <fcntl.h>
#include <unistd.h>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "emu/dprint.h"
#include "emu/emulator_files.h"
#include "emu/runtime_wait.h"
#include "emu/sigpipe_guard.h"
#include "emu/system_calls.h"
#include "services/pxi.h"
#include "wire/emulator_frame.h"
#include "wire/emulator_paths.h"

namespace {

// Clears O_NONBLOCK; false with errno when fcntl fails.
bool MakeBlocking(int fd) {
    const int flags = g_emuSystemCalls.fcntl(fd, F_GETFL);
    return flags != -1 && g_emuSystemCalls.fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != -1;
}

}  // namespace

cPelkLib_Emu::cPelkLib_Emu()
    : InPipe(-1),
      OutPipe(-1),
      m_pipes_inuse(false),
      m_shm_handle(0),
      m_shm_addr(nullptr),
      m_shm_owner(false),
      m_pending_skip(0),
      m_pending_count(0),
      m_pending_len{0, 0, 0, 0},
      m_ahead_start(0),
      m_ahead_end(0) {}

cPelkLib_Emu::~cPelkLib_Emu() {
    if (m_pipes_inuse) {
        if (InPipe >= 0) {
            g_emuSystemCalls.close(InPipe);
        }
        if (OutPipe >= 0) {
            g_emuSystemCalls.close(OutPipe);
        }
    }
    if (m_shm_handle != 0) {
        if (m_shm_owner) {
            pxiDeallocShMem(&m_shm_handle, &m_shm_addr);
        } else {
            pxiDetachShMem(&m_shm_handle, &m_shm_addr);
        }
    }
}

// Every failure leaves an "Open: " text last that says why and what to do,
// where the step's own message does not.
int cPelkLib_Emu::Open(unsigned int /*size*/, int* waitHandle) {
    const int directory = CheckEmulatorDirectory();
    if (directory != 0) {
        return directory;
    }
    if (ProbeRuntime() == RuntimePresence::Gone) {
        dprint("Open: no runtime alive, nobody holds %s: %s\n", EmulatorFile(ZBHOST_LOCK_NAME).text,
               StartRuntimeAdvice().text);
        return PKERR_NOT_OPEN;
    }
    if (GetSemaphore() != 0) {
        return PKERR_UNKNOWN;
    }
    const int locked = LockSemaphore();
    if (locked != 0) {
        return locked == PKERR_NOT_OPEN ? PKERR_NOT_OPEN : PKERR_UNKNOWN;
    }
    int pipeNumber = -1;
    if (DeterminePipe(&pipeNumber) != 0) {
        UnlockSemaphore();
        ExplainMissingRuntime();
        return PKERR_NOT_OPEN;
    }
    if (AttachPipes(pipeNumber) != 0) {
        UnlockSemaphore();
        return PKERR_NOT_OPEN;
    }
    if (waitHandle != nullptr) {
        *waitHandle = InPipe;
    }
    UnlockSemaphore();
    return 0;
}

int cPelkLib_Emu::DeterminePipe(int* pipeNumber) {
    if (m_pipes_inuse) {
        dprint("DeterminePipe: error, invoked with m_pipes_inuse = true\n");
        return PKERR_UNKNOWN;
    }
    // Neither open blocks: the reply pipe is opened without waiting for a
    // writer, the request pipe once the runtime reads it.
    const EmulatorPath replyPath = EmulatorFile(ZBHOST_MANAGER_OUT_NAME);
    std::string refusal;
    int managerReply =
        OpenEmulatorObject(replyPath.text, O_RDONLY | O_NONBLOCK, SharedKind::Fifo, &refusal);
    if (managerReply == -1) {
        int error = errno;
        if (error != ENOENT) {
            dprint("DeterminePipe trying to open ManagerIn, open returned %d, errno %d: %s\n"
                   " Runtime not ready?\n",
                   managerReply, error, strerror(error));
            ExplainOpenFailure(replyPath.text, error, refusal);
        }
        return PKERR_UNKNOWN;
    }
    const EmulatorPath requestPath = EmulatorFile(ZBHOST_MANAGER_IN_NAME);
    int managerRequest = OpenFifoWhenRead(requestPath.text, &refusal);
    if (managerRequest == -1) {
        int error = errno;
        dprint("DeterminePipe trying to open ManagerOut, open returned %d, errno %d: %s\n",
               managerRequest, error, strerror(error));
        ExplainOpenFailure(requestPath.text, error, refusal);
        g_emuSystemCalls.close(managerReply);
        return PKERR_UNKNOWN;
    }

    uint32_t word = ZBHOST_MANAGER_REQUEST;
    ssize_t written;
    int error;
    {
        SigpipeGuard guard;
        written = g_emuSystemCalls.write(managerRequest, &word, sizeof word);
        error = errno;
        if (written <= 0) {
            guard.WriteFailed(error);
        }
    }
    if (written <= 0) {
        dprint("DeterminePipe, write to manager returned %d, errno %d: %s\n",
               static_cast<int>(written), error, strerror(error));
        g_emuSystemCalls.close(managerReply);
        g_emuSystemCalls.close(managerRequest);
        return PKERR_UNKNOWN;
    }

    // The reply is one 4-byte word; a part of it is no pipe number, so read
    // until all four bytes are in, the manager closes or the wait ends.
    char* reply = reinterpret_cast<char*>(&word);
    size_t received = 0;
    while (received < sizeof word) {
        errno = 0;
        ssize_t got = WaitReadable(managerReply);
        if (got == 0) {
            got = g_emuSystemCalls.read(managerReply, reply + received, sizeof word - received);
            if (got < 0 && (errno == EAGAIN || errno == EINTR)) {
                continue;
            }
        }
        if (got <= 0) {
            int error = errno;
            dprint("DeterminePipe, read from manager returned %d, errno %d: %s\n",
                   static_cast<int>(got), error, strerror(error));
            g_emuSystemCalls.close(managerReply);
            g_emuSystemCalls.close(managerRequest);
            return PKERR_UNKNOWN;
        }
        received += static_cast<size_t>(got);
    }
    g_emuSystemCalls.close(managerReply);
    g_emuSystemCalls.close(managerRequest);
    int32_t number;
    std::memcpy(&number, &word, sizeof number);
    *pipeNumber = number;
    return 0;
}

int cPelkLib_Emu::AttachPipes(int pipeNumber) {
    if (m_pipes_inuse) {
        dprint("AttachPipes: error, invoked with m_pipes_inuse = true\n");
        return PKERR_UNKNOWN;
    }
    // Opened without blocking, so a runtime that died after its reply is
    // noticed; then the descriptors block again like any pipe. A runtime
    // that holds the lock has opened its ends before replying: no reader
    // means the runtime that replied has gone. Other runtimes may open
    // theirs after replying and are waited for.
    const EmulatorPath name = EmulatorPipe(ZBHOST_PIPE_IN_NAME, pipeNumber);
    std::string refusal;
    int out =
        ProbeRuntime() == RuntimePresence::Unknown
            ? OpenFifoWhenRead(name.text, &refusal)
            : OpenEmulatorObject(name.text, O_WRONLY | O_NONBLOCK, SharedKind::Fifo, &refusal);
    if (out == -1) {
        int error = errno;
        dprint("AttachPipes trying to open Out pipe %d, open returned %d, errno %d: %s\n",
               pipeNumber, out, error, strerror(error));
        ExplainOpenFailure(name.text, error, refusal);
        return PKERR_UNKNOWN;
    }
    const EmulatorPath inName = EmulatorPipe(ZBHOST_PIPE_OUT_NAME, pipeNumber);
    int in = OpenEmulatorObject(inName.text, O_RDONLY | O_NONBLOCK, SharedKind::Fifo, &refusal);
    if (in == -1) {
        int error = errno;
        dprint("AttachPipes trying to open In pipe %d, open returned %d, errno %d: %s\n",
               pipeNumber, in, error, strerror(error));
        ExplainOpenFailure(inName.text, error, refusal);
        g_emuSystemCalls.close(out);
        return PKERR_UNKNOWN;
    }
    if (!MakeBlocking(in) || !MakeBlocking(out)) {
        int error = errno;
        dprint("AttachPipes making pipe %d blocking, fcntl failed, errno %d: %s\n", pipeNumber,
               error, strerror(error));
        g_emuSystemCalls.close(in);
        g_emuSystemCalls.close(out);
        return PKERR_UNKNOWN;
    }
    InPipe = in;
    OutPipe = out;
    m_pipes_inuse = true;
    return 0;
}
