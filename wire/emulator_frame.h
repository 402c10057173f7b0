// What the emulator backend and the emulator runtime share on the pipes:
// the manager request and the frame in front of every message (the FIFO
// names are in wire/emulator_paths.h). All words travel in the host's own
// byte order.
#ifndef PELK_WIRE_EMULATOR_FRAME_H
#define PELK_WIRE_EMULATOR_FRAME_H

#include <cstddef>
#include <cstdint>

#include <pelklib.h>

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
