#include "wire/message_descriptor.h"

#include <cstring>

PK_MSG_DESC SendDescriptor(const PK_SEND_INFO& info, uint32_t headerLen, unsigned int bufCount,
                           const unsigned int* lengths) {
    PK_MSG_DESC desc;
    std::memset(&desc, 0, sizeof desc);
    const unsigned int count = bufCount < PK_MAX_DATA_BUFFERS ? bufCount : PK_MAX_DATA_BUFFERS;
    desc.type = info.type;
    desc.dstAddr1 = info.dstAddr1;
    desc.dstAddr2 = info.dstAddr2;
    desc.tag = info.tag;
    desc.numbufs = count + 1;
    desc.Buflen[0] = headerLen;
    for (unsigned int i = 0; i < count; ++i) {
        desc.Buflen[1 + i] = lengths[i];
    }
    return desc;
}

void FillReceiveInfo(const PK_MSG_DESC& desc, PK_REC_INFO* info) {
    info->type = desc.type;
    info->srcAddr1 = desc.srcAddr1;
    info->srcAddr2 = desc.srcAddr2;
    info->tag = desc.tag;
    std::memset(info->bufLen, 0, sizeof info->bufLen);
    if (desc.numbufs == 0 || desc.numbufs > 1 + PK_MAX_DATA_BUFFERS) {
        return;
    }
    for (unsigned int i = 0; i + 1 < desc.numbufs; ++i) {
        info->bufLen[i] = desc.Buflen[1 + i];
    }
}

PK_MSG_DESC ReceivedDescriptor(const PK_REC_INFO& info, uint32_t headerLen) {
    PK_MSG_DESC desc;
    std::memset(&desc, 0, sizeof desc);
    uint32_t count = 0;
    for (uint32_t i = 0; i < PK_MAX_DATA_BUFFERS; ++i) {
        count = info.bufLen[i] != 0 ? i + 1 : count;
    }
    desc.type = info.type;
    desc.srcAddr1 = info.srcAddr1;
    desc.srcAddr2 = info.srcAddr2;
    desc.tag = info.tag;
    desc.numbufs = 1 + count;
    desc.Buflen[0] = headerLen;
    for (uint32_t i = 0; i < count; ++i) {
        desc.Buflen[1 + i] = info.bufLen[i];
    }
    return desc;
}
