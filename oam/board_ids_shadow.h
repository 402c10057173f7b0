// The board-identity table: board records in the shared segment, in
// ascending case-insensitive name order, followed by the table-wide qm
// plug-in flag.
#ifndef PELK_OAM_BOARD_IDS_SHADOW_H
#define PELK_OAM_BOARD_IDS_SHADOW_H

#include <pelklib.h>

#include "oam/board_id_shadow.h"
#include "oam/zel_shared_memory_array.h"

// The segment every process shares the table through, and its size.
constexpr char kBoardIDsShadowName[] = OAMSHADOW_SEGMENT_NAME;
constexpr int kBoardIDsShadowSize = 10624;

class PELK_API CBoardIDsShadow : public CZelSharedMemoryArray<CBoardIDShadow> {
public:
    CBoardIDsShadow(const char* name, int size);
    ~CBoardIDsShadow() override;

    // Load and store the flag after the records.
    int prefix() override;
    int suffix() override;
    // Ends an access that changed nothing in the loaded table: as suffix(),
    // except that when the load found the segment holding just what that
    // store would write, nothing is written and only the mutex is released.
    int ReleaseUnchanged() {
        if (!m_segment_is_image) {
            return suffix();
        }
        return Unlock();
    }

    bool GetIsUsingQmPlugin();
    // Searches of the table, each with one load of its own.
    bool FindByName(const char* name, int* index);
    bool FindByNumber(uint32_t number, int* index);
    bool FindByDriverIDs(const char* driverName, const char* driverBoardID, int* index);

    // The table as the last prefix() loaded it, for one search or more
    // between prefix() and suffix() without loading again.
    const CZelStreamableArray<CBoardIDShadow>& Loaded() const { return m_array; }
    bool LoadedIsUsingQmPlugin() const { return m_is_using_qm_plugin; }

    // The most records the segment holds together with the count and flag.
    int GetCapacity() const {
        uint32_t fixed = CZelStream::kIntSize + CZelStream::kBoolSize;
        uint32_t length = m_stream.GetLength();
        return length < fixed ? 0 : static_cast<int>((length - fixed) / sizeof(CBoardIDShadow));
    }

protected:
    bool m_is_using_qm_plugin;

private:
    // The segment held exactly the image of what the last load took.
    bool m_segment_is_image = false;
};

// Searches of loaded records, in ascending case-insensitive name order for
// SearchByName. True and the record's index when found; otherwise false and
// the index where the search ended (for SearchByName the insertion point).
bool SearchByName(const CZelArray<CBoardIDShadow>& records, const char* name, int* index);
bool SearchByNumber(const CZelArray<CBoardIDShadow>& records, uint32_t number, int* index);
bool SearchByDriverIDs(const CZelArray<CBoardIDShadow>& records, const char* driverName,
                       const char* driverBoardID, int* index);

#endif
