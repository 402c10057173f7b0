// What the emulator backend and the emulator runtime share on the pipes:
// the FIFO names, the manager request, and the frame in front of every
// message. All words travel in the host's own byte order.
#ifndef PELK_EMU_PIPE_FRAME_H
#define PELK_EMU_PIPE_FRAME_H

#include <cstddef>
#include <cstdint>

#include <pelklib.h>

constexpr const char* ZBHOST_SEMAPHORE_PATH = "/dev/ZBHostSemaphore";
constexpr const char* ZBHOST_LOCK_PATH = "/dev/ZBHostManager.lock";  // held by a live runtime
constexpr const char* ZBHOST_MANAGER_IN_PATH = "/dev/ZBHostManagerIn";    // library writes
constexpr const char* ZBHOST_MANAGER_OUT_PATH = "/dev/ZBHostManagerOut";  // library reads
constexpr const char* ZBHOST_PIPE_IN_BASE = "/dev/ZBHostIn";    // + "%04d": library writes
constexpr const char* ZBHOST_PIPE_OUT_BASE = "/dev/ZBHostOut";  // + "%04d": library reads
constexpr const char* ZBHOST_PIPE_NAME_FORMAT = "%s%04d";
constexpr uint32_t ZBHOST_MANAGER_REQUEST = 0xBEEF;

// The four characters "ZBPC" at the start of every frame.
constexpr char ZBHOST_FRAME_MAGIC[4] = {'Z', 'B', 'P', 'C'};
constexpr uint32_t ZBHOST_SENDER_ADDRESS = 4095;  // srcAddr1 of every message the library sends

struct PK_PIPE_FRAME {
    char magic[4];
    PK_MSG_DESC desc;
};
static_assert(sizeof(PK_PIPE_FRAME) == 52, "PK_PIPE_FRAME layout");
static_assert(offsetof(PK_PIPE_FRAME, desc) == 4, "PK_PIPE_FRAME layout");

// The library writes the frame and a whole header area in one block.
constexpr unsigned int ZBHOST_FRAME_LEN = sizeof(PK_PIPE_FRAME);
constexpr unsigned int ZBHOST_SEND_BLOCK_LEN = ZBHOST_FRAME_LEN + PK_MAX_HEADER_LEN;  // 108

#endif
