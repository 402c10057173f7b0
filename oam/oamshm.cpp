// The process's attachment to the board-identity table and the exported
// lookups on it.
#include <cstring>
#include <new>

#include <pelklib.h>

#include "oam/board_ids_shadow.h"

namespace {

CBoardIDsShadow* s_pBoardIDsShadow = nullptr;

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

// Runs lookup(table) under the table's mutex when a table is attached.
template <typename Lookup>
int WithTable(Lookup lookup) {
    CBoardIDsShadow* table = s_pBoardIDsShadow;
    if (table == nullptr) {
        return OAMSHADOW_ERR_UNAVAILABLE;
    }
    table->Lock();
    int status = lookup(*table);
    table->Unlock();
    return status;
}

}  // namespace

extern "C" {

int oamShadowInit(void) {
    if (s_pBoardIDsShadow != nullptr) {
        return 0;  // the table in use stays
    }
    CBoardIDsShadow* table =
        new (std::nothrow) CBoardIDsShadow(kBoardIDsShadowName, kBoardIDsShadowSize);
    if (table == nullptr) {
        return OAMSHADOW_ERR_UNAVAILABLE;
    }
    if (table->GetOpenError() != 0) {
        delete table;
        return OAMSHADOW_ERR_UNAVAILABLE;
    }
    s_pBoardIDsShadow = table;
    return 0;
}

int oamShadowExit(void) {
    delete s_pBoardIDsShadow;
    s_pBoardIDsShadow = nullptr;
    return 0;
}

CBoardIDsShadow* oamShadowGetPtr(void) {
    return s_pBoardIDsShadow;
}

int oamShadowBoardEnum(uint32_t, int index, char* name, unsigned nameSize) {
    return WithTable([&](CBoardIDsShadow& table) {
        if (index < 0 || table.GetSize() <= index) {
            return OAMSHADOW_ERR_NOT_FOUND;
        }
        return Deliver(table[index].GetName(), name, nameSize);
    });
}

int oamShadowBoardLookupByNumber(uint32_t, uint32_t number, char* name, unsigned nameSize) {
    return WithTable([&](CBoardIDsShadow& table) {
        int index;
        if (!table.FindByNumber(number, &index)) {
            return OAMSHADOW_ERR_NOT_FOUND;
        }
        return Deliver(table[index].GetName(), name, nameSize);
    });
}

int oamShadowBoardLookupByDriverIDs(uint32_t, const char* driverName, const char* driverBoardID,
                                    char* name, unsigned nameSize) {
    return WithTable([&](CBoardIDsShadow& table) {
        int index;
        if (!table.FindByDriverIDs(driverName, driverBoardID, &index)) {
            return OAMSHADOW_ERR_NOT_FOUND;
        }
        return Deliver(table[index].GetName(), name, nameSize);
    });
}

int oamShadowBoardGetNumber(uint32_t, const char* name, uint32_t* number) {
    return WithTable([&](CBoardIDsShadow& table) {
        int index;
        if (!table.FindByName(name, &index)) {
            return OAMSHADOW_ERR_NOT_FOUND;
        }
        *number = table[index].GetNumber();
        return 0;
    });
}

int oamShadowBoardGetDriverIDs(uint32_t, const char* name, char* driverName,
                               unsigned driverNameSize, char* driverBoardID,
                               unsigned driverBoardIDSize) {
    return WithTable([&](CBoardIDsShadow& table) {
        int index;
        if (!table.FindByName(name, &index)) {
            return OAMSHADOW_ERR_NOT_FOUND;
        }
        // One access serves both texts: the mutex is held throughout, so a
        // second load would find the same record.
        const CBoardIDShadow& record = table[index];
        int status = Deliver(record.GetDriverName(), driverName, driverNameSize);
        if (status != 0) {
            return status;
        }
        return Deliver(record.GetDriverBoardID(), driverBoardID, driverBoardIDSize);
    });
}

int oamShadowBoardGetIsUsingQmPlugin(uint32_t, bool* isUsing) {
    return WithTable([&](CBoardIDsShadow& table) {
        *isUsing = table.GetIsUsingQmPlugin();
        return 0;
    });
}

int oamShadowBoardIsUsingALaw(uint32_t, const char* name, bool* isUsingALaw) {
    return WithTable([&](CBoardIDsShadow& table) {
        int index;
        if (!table.FindByName(name, &index)) {
            return OAMSHADOW_ERR_NOT_FOUND;
        }
        *isUsingALaw = table[index].GetIsUsingALaw();
        return 0;
    });
}

}  // extern "C"
