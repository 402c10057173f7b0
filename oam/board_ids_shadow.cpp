#include "oam/board_ids_shadow.h"

#include <cstring>

#include "services/pxi.h"

namespace {

// Whether a segment from which `loaded` records and the flag were loaded
// holds exactly their image: that count, each record well formed, a flag
// of 0 or 1.
bool SegmentIsImageOf(const void* block, int loaded) {
    const unsigned char* segment = static_cast<const unsigned char*>(block);
    int32_t count;
    std::memcpy(&count, segment, sizeof count);
    if (count != loaded) {
        return false;
    }
    const unsigned char* record = segment + CZelStream::kIntSize;
    for (int i = 0; i < count; ++i, record += sizeof(CBoardIDShadow)) {
        if (!CBoardIDShadow::IsWellFormedImage(record)) {
            return false;
        }
    }
    return *record <= 1;  // the flag
}

}  // namespace

CBoardIDsShadow::CBoardIDsShadow(const char* name, int size)
    : CZelSharedMemoryArray<CBoardIDShadow>(name, size), m_is_using_qm_plugin(false) {}

CBoardIDsShadow::~CBoardIDsShadow() = default;

int CBoardIDsShadow::prefix() {
    Lock();
    int result = Load();
    bool flag = false;
    m_stream >> flag;
    m_is_using_qm_plugin = flag;
    m_segment_is_image = result == 0 && !m_stream.Failed() &&
                         SegmentIsImageOf(m_stream.GetBlock(), m_array.GetSize());
    return result;
}

int CBoardIDsShadow::suffix() {
    // A table that does not fit is not written at all, so the segment never
    // holds a count without its records or loses its flag.
    int result = EOVERFLOW;
    if (m_array.GetSize() <= GetCapacity()) {
        result = Store();
        m_image << m_is_using_qm_plugin;
        if (m_image.Failed()) {
            result = EOVERFLOW;
        }
        Commit();
    }
    Unlock();
    return result;
}

bool CBoardIDsShadow::GetIsUsingQmPlugin() {
    prefix();
    bool flag = m_is_using_qm_plugin;
    suffix();
    return flag;
}

bool CBoardIDsShadow::FindByName(const char* name, int* index) {
    prefix();
    bool found = SearchByName(m_array, name, index);
    suffix();
    return found;
}

bool CBoardIDsShadow::FindByNumber(uint32_t number, int* index) {
    prefix();
    bool found = SearchByNumber(m_array, number, index);
    suffix();
    return found;
}

bool CBoardIDsShadow::FindByDriverIDs(const char* driverName, const char* driverBoardID,
                                      int* index) {
    prefix();
    bool found = SearchByDriverIDs(m_array, driverName, driverBoardID, index);
    suffix();
    return found;
}

bool SearchByName(const CZelArray<CBoardIDShadow>& records, const char* name, int* index) {
    int lo = 0;
    int hi = records.GetSize();
    while (lo < hi) {
        int mid = (lo + hi) / 2;
        int order = pxiStricmp(records[mid].GetName(), name);
        if (order < 0) {
            lo = mid + 1;
        } else if (order > 0) {
            hi = mid;
        } else {
            *index = mid;
            return true;
        }
    }
    *index = hi;
    return false;
}

bool SearchByNumber(const CZelArray<CBoardIDShadow>& records, uint32_t number, int* index) {
    int i = 0;
    for (; i < records.GetSize(); ++i) {
        if (records[i].GetNumber() == number) {
            *index = i;
            return true;
        }
    }
    *index = i;
    return false;
}

bool SearchByDriverIDs(const CZelArray<CBoardIDShadow>& records, const char* driverName,
                       const char* driverBoardID, int* index) {
    int i = 0;
    for (; i < records.GetSize(); ++i) {
        const CBoardIDShadow& record = records[i];
        if (pxiStricmp(record.GetDriverName(), driverName) == 0 &&
            pxiStricmp(record.GetDriverBoardID(), driverBoardID) == 0) {
            *index = i;
            return true;
        }
    }
    *index = i;
    return false;
}
