// The 56-byte protocol header travels with its words little-endian: the
// two words, word4, the parameter count and the parameters in use (at most
// 8); the opaque bytes and the unused parameters as they are.
#ifndef PELK_WIRE_PELKOR_HEADER_H
#define PELK_WIRE_PELKOR_HEADER_H

#include <pelklib.h>

// Writes host in its wire form into wire.
void PelkorHeaderToLittleEndian(const _PELKOR_MSG_HEADER& host, _PELKOR_MSG_HEADER* wire);

// Converts a header as it arrived into host order, in place.
void PelkorHeaderFromLittleEndian(_PELKOR_MSG_HEADER* header);

#endif
