#include "services/ZelZfc.h"

#include <cstring>

CZelStream::CZelStream() : m_data(nullptr), m_size(0), m_position(0), m_failed(false) {}

CZelStream::CZelStream(void* data, uint32_t size)
    : m_data(static_cast<unsigned char*>(data)),
      m_size(data ? size : 0),
      m_position(0),
      m_failed(false) {}

void CZelStream::SetBlock(void* data, uint32_t size) {
    m_data = static_cast<unsigned char*>(data);
    m_size = data ? size : 0;
    Rewind();
}

void CZelStream::Rewind() {
    m_position = 0;
    m_failed = false;
}

bool CZelStream::Fits(uint32_t count) {
    if (m_failed || count > m_size - m_position) {
        m_failed = true;
        return false;
    }
    return true;
}

unsigned CZelStream::WriteBlock(const void* data, unsigned count) {
    if (!Fits(count)) {
        return 0;
    }
    unsigned char* target = m_data + m_position;
    // Bytes that already hold the value are left untouched: readers that
    // store back what they loaded then leave the shared pages clean.
    if (count != 0 && std::memcmp(target, data, count) != 0) {
        std::memcpy(target, data, count);
    }
    m_position += count;
    return count;
}

unsigned CZelStream::ReadBlock(void* data, unsigned count) {
    if (!Fits(count)) {
        return 0;
    }
    if (count != 0) {
        std::memcpy(data, m_data + m_position, count);
    }
    m_position += count;
    return count;
}

CZelStream& CZelStream::operator<<(int value) {
    int32_t word = value;
    static_assert(sizeof word == kIntSize, "an int travels as 4 bytes");
    WriteBlock(&word, kIntSize);
    return *this;
}

CZelStream& CZelStream::operator<<(bool value) {
    unsigned char byte = value ? 1 : 0;
    WriteBlock(&byte, kBoolSize);
    return *this;
}

CZelStream& CZelStream::operator>>(int& value) {
    int32_t word;
    if (ReadBlock(&word, kIntSize) == kIntSize) {
        value = word;
    }
    return *this;
}

CZelStream& CZelStream::operator>>(bool& value) {
    unsigned char byte;
    if (ReadBlock(&byte, kBoolSize) == kBoolSize) {
        value = byte != 0;
    }
    return *this;
}
