#include "oam/table_journal.h"

#include <cerrno>
#include <cstring>

#include <sys/mman.h>

#include "services/ZelZfc.h"
#include "services/shm_segment.h"

struct TableJournalHeader {
    uint32_t state;
    uint32_t length;
    uint32_t generation;  // table segments made under this journal
    uint32_t reserved;
};

namespace {

constexpr uint32_t kClear = 0;
constexpr uint32_t kComplete = 0x4A524E4C;  // "JRNL"

void StoreWord(uint32_t* at, uint32_t value) {
    __atomic_store_n(at, value, __ATOMIC_RELEASE);
}

void CopyBytes(void* to, const void* from, size_t length) {
    std::memcpy(to, from, length);
}

void SetState(TableJournalHeader* header, uint32_t state) {
    g_tableStoreWrites.word(&header->state, state);
}

void CopyImage(void* to, const void* from, uint32_t length) {
    g_tableStoreWrites.bytes(to, from, length);
}

}  // namespace

TableStoreWrites g_tableStoreWrites = {StoreWord, CopyBytes};

CTableJournal::CTableJournal(const char* name, uint32_t tableSize)
    : m_header(nullptr), m_image(nullptr), m_capacity(0), m_mapped(0), m_open_error(0) {
    if (tableSize == 0) {
        m_open_error = EINVAL;  // no table to keep a journal for
        return;
    }
    ShmSegment segment;
    CZelString journalName("/");
    journalName += name;
    journalName += ".journal";
    m_open_error = OpenShmSegment(
        journalName, sizeof(TableJournalHeader) + static_cast<size_t>(tableSize), &segment);
    if (m_open_error == 0 && segment.size < sizeof(TableJournalHeader)) {
        munmap(segment.address, segment.size);
        m_open_error = EINVAL;
    }
    if (m_open_error == 0) {
        m_header = static_cast<TableJournalHeader*>(segment.address);
        m_image = static_cast<uint8_t*>(segment.address) + sizeof(TableJournalHeader);
        m_capacity = static_cast<uint32_t>(segment.size - sizeof(TableJournalHeader));
        m_mapped = segment.size;
    }
}

CTableJournal::~CTableJournal() {
    if (m_header != nullptr) {
        munmap(m_header, m_mapped);
    }
}

void* CTableJournal::ImageArea(void* table, uint32_t tableSize) const {
    return m_header != nullptr && m_capacity >= tableSize ? m_image : table;
}

void CTableJournal::Commit(void* table, const void* image, uint32_t length) {
    if (m_header == nullptr || table == nullptr || image != m_image || length > m_capacity ||
        std::memcmp(table, m_image, length) == 0) {
        return;
    }
    g_tableStoreWrites.word(&m_header->length, length);  // the image is in, not yet marked
    SetState(m_header, kComplete);
    CopyImage(table, m_image, length);
    SetState(m_header, kClear);
}

// The length comes from shared memory: it is bounded by both segments.
void CTableJournal::Recover(void* table, uint32_t tableSize) {
    if (m_header == nullptr || table == nullptr ||
        __atomic_load_n(&m_header->state, __ATOMIC_ACQUIRE) != kComplete) {
        return;
    }
    uint32_t length = m_header->length;
    if (length > m_capacity) {
        length = m_capacity;
    }
    if (length > tableSize) {
        length = tableSize;
    }
    CopyImage(table, m_image, length);
    SetState(m_header, kClear);
}

void CTableJournal::NoteNewTable() {
    if (m_header != nullptr) {
        __atomic_add_fetch(&m_header->generation, 1, __ATOMIC_RELEASE);
    }
}

uint32_t CTableJournal::Generation() const {
    return m_header != nullptr ? __atomic_load_n(&m_header->generation, __ATOMIC_ACQUIRE) : 0;
}
