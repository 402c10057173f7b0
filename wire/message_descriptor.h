// The copies between the message descriptor (PK_MSG_DESC) that travels in
// front of every message and the caller's send and receive records.
#ifndef PELK_WIRE_MESSAGE_DESCRIPTOR_H
#define PELK_WIRE_MESSAGE_DESCRIPTOR_H

#include <cstdint>

#include <pelklib.h>

// The descriptor of a message to send: the record's type, destination and
// tag, a header of headerLen bytes and bufCount data buffers of the given
// lengths (at most PK_MAX_DATA_BUFFERS are described). Source words are 0.
PK_MSG_DESC SendDescriptor(const PK_SEND_INFO& info, uint32_t headerLen, unsigned int bufCount,
                           const unsigned int* lengths);

// The caller's record of a received message: type, source and tag, and the
// lengths of its data buffers (0 beyond them, and all 0 for a descriptor
// whose buffer count is out of range).
void FillReceiveInfo(const PK_MSG_DESC& desc, PK_REC_INFO* info);

// The descriptor that a receive record describes, with a header of
// headerLen bytes: data buffers up to the last non-zero length.
PK_MSG_DESC ReceivedDescriptor(const PK_REC_INFO& info, uint32_t headerLen);

#endif
