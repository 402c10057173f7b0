// One board of the board-identity table: a fixed 332-byte image that is
// stored and loaded as one block.
#ifndef PELK_OAM_BOARD_ID_SHADOW_H
#define PELK_OAM_BOARD_ID_SHADOW_H

#include <cstddef>
#include <cstdint>

#include <pelklib.h>

class CZelStream;

class CBoardIDShadow {
public:
    static constexpr size_t kNameLength = 128;
    static constexpr size_t kDriverNameLength = 128;
    static constexpr size_t kDriverBoardIDLength = 64;

    CBoardIDShadow(const char* name = "", uint32_t number = 0, const char* driverName = "",
                   const char* driverBoardID = "", bool isUsingALaw = false);
    ~CBoardIDShadow() = default;

    void SetName(const char* name);
    void SetDriverName(const char* driverName);
    void SetDriverBoardID(const char* driverBoardID);

    const char* GetName() const { return m_name; }
    uint32_t GetNumber() const { return m_number; }
    const char* GetDriverName() const { return m_driver_name; }
    const char* GetDriverBoardID() const { return m_driver_board_id; }
    bool GetIsUsingALaw() const { return m_is_using_alaw; }

    // Makes a loaded image well formed whatever it held: every text ends
    // inside its field and the A-law flag is 0 or 1.
    void MakeWellFormed();
    // Whether the record image at `image` (332 bytes) is well formed
    // already, so that loading it changes nothing.
    static bool IsWellFormedImage(const unsigned char* image);

    char m_name[kNameLength + 1];
    uint32_t m_number;
    char m_driver_name[kDriverNameLength + 1];
    char m_driver_board_id[kDriverBoardIDLength + 1];
    bool m_is_using_alaw;
};

static_assert(sizeof(CBoardIDShadow) == 332, "record image is 332 bytes");
static_assert(offsetof(CBoardIDShadow, m_name) == 0, "name at 0");
static_assert(offsetof(CBoardIDShadow, m_number) == 132, "number at 132");
static_assert(offsetof(CBoardIDShadow, m_driver_name) == 136, "driver name at 136");
static_assert(offsetof(CBoardIDShadow, m_driver_board_id) == 265, "driver board ID at 265");
static_assert(offsetof(CBoardIDShadow, m_is_using_alaw) == 330, "A-law flag at 330");
static_assert(sizeof(bool) == 1, "A-law flag is one byte");
static_assert(sizeof(OAMSHADOW_BOARD::name) == CBoardIDShadow::kNameLength + 1, "whole name");
static_assert(sizeof(OAMSHADOW_BOARD::driverName) == CBoardIDShadow::kDriverNameLength + 1,
              "whole driver name");
static_assert(sizeof(OAMSHADOW_BOARD::driverBoardID) == CBoardIDShadow::kDriverBoardIDLength + 1,
              "whole driver board ID");

// One block of the record's image; a record read back has its texts
// terminated inside their fields.
CZelStream& operator<<(CZelStream& stream, const CBoardIDShadow& record);
CZelStream& operator>>(CZelStream& stream, CBoardIDShadow& record);

#endif
