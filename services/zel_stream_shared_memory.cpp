#include "services/ZelZfc.h"

#include <cerrno>
#include <string>

#include <sys/mman.h>

#include "services/shm_segment.h"

CZelStreamSharedMemory::CZelStreamSharedMemory(const char* name, unsigned long size)
    : m_created(0), m_address(nullptr), m_mapped(0), m_open_error(0) {
    m_open_error = Open(name, size);
}

CZelStreamSharedMemory::~CZelStreamSharedMemory() {
    Close();
}

int CZelStreamSharedMemory::Open(const char* name, unsigned long size) {
    if (size > UINT32_MAX) {
        return EINVAL;
    }
    ShmSegment segment;
    int error = OpenShmSegment(("/" + std::string(name)).c_str(), size, &segment);
    if (error != 0) {
        return error;
    }
    m_address = segment.address;
    m_mapped = segment.size;
    m_created = segment.created ? 1 : 0;
    SetBlock(m_address, static_cast<uint32_t>(m_mapped));
    return 0;
}

int CZelStreamSharedMemory::Flush() {
    Rewind();
    return 0;
}

int CZelStreamSharedMemory::Close() {
    if (m_address != nullptr) {
        munmap(m_address, m_mapped);
        m_address = nullptr;
        m_mapped = 0;
    }
    SetBlock(nullptr, 0);
    return 0;
}
