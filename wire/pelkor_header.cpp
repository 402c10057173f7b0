#include "wire/pelkor_header.h"

#include <cstring>

#include "wire/byte_order.h"

namespace {

constexpr unsigned int kMaxParams = 8;

unsigned int ParamsInUse(uint32_t paramCount) {
    return paramCount < kMaxParams ? paramCount : kMaxParams;
}

}  // namespace

void PelkorHeaderToLittleEndian(const _PELKOR_MSG_HEADER& host, _PELKOR_MSG_HEADER* wire) {
    std::memcpy(wire, &host, sizeof host);
    StoreLittleEndian32(&wire->word0, host.word0);
    StoreLittleEndian32(&wire->word1, host.word1);
    StoreLittleEndian32(&wire->word4, host.word4);
    StoreLittleEndian32(&wire->paramCount, host.paramCount);
    const unsigned int inUse = ParamsInUse(host.paramCount);
    for (unsigned int i = 0; i < inUse; ++i) {
        StoreLittleEndian32(&wire->params[i], host.params[i]);
    }
}

// The parameter count is read as it arrived, before it is converted.
void PelkorHeaderFromLittleEndian(_PELKOR_MSG_HEADER* header) {
    header->word0 = LoadLittleEndian32(&header->word0);
    header->word1 = LoadLittleEndian32(&header->word1);
    header->word4 = LoadLittleEndian32(&header->word4);
    header->paramCount = LoadLittleEndian32(&header->paramCount);
    const unsigned int inUse = ParamsInUse(header->paramCount);
    for (unsigned int i = 0; i < inUse; ++i) {
        header->params[i] = LoadLittleEndian32(&header->params[i]);
    }
}
