// The process's attachment to the board-identity table and the exported
// lookups on it.
//
// The attached table is reference counted: a lookup takes its own reference
// before it starts, so oamShadowExit on another thread only drops the
// attachment's reference and the table lives on until the last lookup on it
// has ended. Every function here may be called from any thread at any time.
#include <cstring>
#include <mutex>
#include <new>

#include <pelklib.h>

#include "oam/attached_table.h"

struct CountedBoardTable {
    CountedBoardTable() : table(kBoardIDsShadowName, kBoardIDsShadowSize) {}
    CBoardIDsShadow table;
    int references = 1;  // the attachment's own
};

namespace {

std::mutex s_attachLock;  // guards the pointer and the counts, not the table
CountedBoardTable* s_pBoardIDsShadow = nullptr;

void Release(CountedBoardTable* counted) {
    bool last;
    {
        std::lock_guard<std::mutex> hold(s_attachLock);
        last = --counted->references == 0;
    }
    if (last) {
        delete counted;
    }
}

// Copies text with its NUL when it fits size bytes; otherwise leaves the
// buffer as it is.
int Deliver(const char* text, char* buffer, unsigned size) {
    size_t length = std::strlen(text);
    if (length >= size) {
        return OAMSHADOW_ERR_UNAVAILABLE;
    }
    std::memcpy(buffer, text, length + 1);
    return 0;
}

// Runs lookup on the attached table as loaded once from the segment, under
// the table's mutex from the load to the store afterwards (which writes
// nothing when the segment holds what it would write).
template <typename Lookup>
int WithLoadedTable(Lookup lookup) {
    AttachedBoardTable attached;
    CBoardIDsShadow* table = attached.Get();
    if (table == nullptr) {
        return OAMSHADOW_ERR_UNAVAILABLE;
    }
    table->prefix();
    int status = lookup(table->Loaded(), table->LoadedIsUsingQmPlugin());
    table->ReleaseUnchanged();
    return status;
}

typedef CZelStreamableArray<CBoardIDShadow> Records;

}  // namespace

AttachedBoardTable::AttachedBoardTable() {
    std::lock_guard<std::mutex> hold(s_attachLock);
    m_counted = s_pBoardIDsShadow;
    if (m_counted != nullptr) {
        ++m_counted->references;
    }
}

AttachedBoardTable::~AttachedBoardTable() {
    if (m_counted != nullptr) {
        Release(m_counted);
    }
}

CBoardIDsShadow* AttachedBoardTable::Get() const {
    return m_counted != nullptr ? &m_counted->table : nullptr;
}

extern "C" {

// The table is opened outside the lock, since opening waits for the table's
// mutex; when another thread attached meanwhile, its table stays.
int oamShadowInit(void) {
    if (AttachedBoardTable().Get() != nullptr) {
        return 0;  // the table in use stays
    }
    CountedBoardTable* counted = new (std::nothrow) CountedBoardTable();
    if (counted == nullptr) {
        return OAMSHADOW_ERR_UNAVAILABLE;
    }
    if (counted->table.GetOpenError() != 0) {
        delete counted;
        return OAMSHADOW_ERR_UNAVAILABLE;
    }
    {
        std::lock_guard<std::mutex> hold(s_attachLock);
        if (s_pBoardIDsShadow == nullptr) {
            s_pBoardIDsShadow = counted;
            counted = nullptr;
        }
    }
    delete counted;
    return 0;
}

// The table is freed here, or by the last lookup still running on it.
int oamShadowExit(void) {
    CountedBoardTable* attached;
    {
        std::lock_guard<std::mutex> hold(s_attachLock);
        attached = s_pBoardIDsShadow;
        s_pBoardIDsShadow = nullptr;
    }
    if (attached != nullptr) {
        Release(attached);
    }
    return 0;
}

// A bare pointer: valid only until the process detaches.
CBoardIDsShadow* oamShadowGetPtr(void) {
    return AttachedBoardTable().Get();
}

int oamShadowBoardEnum(uint32_t, int index, char* name, unsigned nameSize) {
    if (index < 0) {
        return AttachedBoardTable().Get() != nullptr ? OAMSHADOW_ERR_NOT_FOUND
                                                     : OAMSHADOW_ERR_UNAVAILABLE;
    }
    return WithLoadedTable([&](const Records& records, bool) {
        if (records.GetSize() <= index) {
            return OAMSHADOW_ERR_NOT_FOUND;
        }
        return Deliver(records[index].GetName(), name, nameSize);
    });
}

int oamShadowBoardLookupByNumber(uint32_t, uint32_t number, char* name, unsigned nameSize) {
    return WithLoadedTable([&](const Records& records, bool) {
        int index;
        if (!SearchByNumber(records, number, &index)) {
            return OAMSHADOW_ERR_NOT_FOUND;
        }
        return Deliver(records[index].GetName(), name, nameSize);
    });
}

int oamShadowBoardLookupByDriverIDs(uint32_t, const char* driverName, const char* driverBoardID,
                                    char* name, unsigned nameSize) {
    return WithLoadedTable([&](const Records& records, bool) {
        int index;
        if (!SearchByDriverIDs(records, driverName, driverBoardID, &index)) {
            return OAMSHADOW_ERR_NOT_FOUND;
        }
        return Deliver(records[index].GetName(), name, nameSize);
    });
}

int oamShadowBoardGetNumber(uint32_t, const char* name, uint32_t* number) {
    return WithLoadedTable([&](const Records& records, bool) {
        int index;
        if (!SearchByName(records, name, &index)) {
            return OAMSHADOW_ERR_NOT_FOUND;
        }
        *number = records[index].GetNumber();
        return 0;
    });
}

int oamShadowBoardGetDriverIDs(uint32_t, const char* name, char* driverName,
                               unsigned driverNameSize, char* driverBoardID,
                               unsigned driverBoardIDSize) {
    return WithLoadedTable([&](const Records& records, bool) {
        int index;
        if (!SearchByName(records, name, &index)) {
            return OAMSHADOW_ERR_NOT_FOUND;
        }
        const CBoardIDShadow& record = records[index];
        int status = Deliver(record.GetDriverName(), driverName, driverNameSize);
        if (status != 0) {
            return status;
        }
        return Deliver(record.GetDriverBoardID(), driverBoardID, driverBoardIDSize);
    });
}

int oamShadowBoardGetIsUsingQmPlugin(uint32_t, bool* isUsing) {
    return WithLoadedTable([&](const Records&, bool isUsingQmPlugin) {
        *isUsing = isUsingQmPlugin;
        return 0;
    });
}

int oamShadowBoardIsUsingALaw(uint32_t, const char* name, bool* isUsingALaw) {
    return WithLoadedTable([&](const Records& records, bool) {
        int index;
        if (!SearchByName(records, name, &index)) {
            return OAMSHADOW_ERR_NOT_FOUND;
        }
        *isUsingALaw = records[index].GetIsUsingALaw();
        return 0;
    });
}

int oamShadowCopyTable(uint32_t, OAMSHADOW_BOARD* boards, int capacity, int* count,
                       bool* isUsingQmPlugin) {
    return WithLoadedTable([&](const Records& records, bool isUsingQm) {
        *count = records.GetSize();
        if (records.GetSize() > capacity) {
            return OAMSHADOW_ERR_UNAVAILABLE;
        }
        for (int i = 0; i < records.GetSize(); ++i) {
            const CBoardIDShadow& record = records[i];
            OAMSHADOW_BOARD& board = boards[i];
            std::memcpy(board.name, record.GetName(), sizeof board.name);
            board.number = record.GetNumber();
            std::memcpy(board.driverName, record.GetDriverName(), sizeof board.driverName);
            std::memcpy(board.driverBoardID, record.GetDriverBoardID(), sizeof board.driverBoardID);
            board.isUsingALaw = record.GetIsUsingALaw();
        }
        if (isUsingQmPlugin != nullptr) {
            *isUsingQmPlugin = isUsingQm;
        }
        return 0;
    });
}

}  // extern "C"
