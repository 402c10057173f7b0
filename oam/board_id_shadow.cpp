#include "oam/board_id_shadow.h"

#include <cstring>

#include "services/ZelZfc.h"

CBoardIDShadow::CBoardIDShadow(const char* name, uint32_t number, const char* driverName,
                               const char* driverBoardID, bool isUsingALaw)
    : m_number(static_cast<uint32_t>(number)), m_is_using_alaw(isUsingALaw) {
    SetName(name);
    SetDriverName(driverName);
    SetDriverBoardID(driverBoardID);
}

void CBoardIDShadow::SetName(const char* name) {
    std::strncpy(m_name, name, kNameLength);
    m_name[kNameLength] = '\0';
}

void CBoardIDShadow::SetDriverName(const char* driverName) {
    std::strncpy(m_driver_name, driverName, kDriverNameLength);
    m_driver_name[kDriverNameLength] = '\0';
}

void CBoardIDShadow::SetDriverBoardID(const char* driverBoardID) {
    std::strncpy(m_driver_board_id, driverBoardID, kDriverBoardIDLength);
    m_driver_board_id[kDriverBoardIDLength] = '\0';
}

void CBoardIDShadow::MakeWellFormed() {
    m_name[kNameLength] = '\0';
    m_driver_name[kDriverNameLength] = '\0';
    m_driver_board_id[kDriverBoardIDLength] = '\0';
    unsigned char flag;
    std::memcpy(&flag, &m_is_using_alaw, sizeof flag);
    m_is_using_alaw = flag != 0;
}

bool CBoardIDShadow::IsWellFormedImage(const unsigned char* image) {
    return image[offsetof(CBoardIDShadow, m_name) + kNameLength] == '\0' &&
           image[offsetof(CBoardIDShadow, m_driver_name) + kDriverNameLength] == '\0' &&
           image[offsetof(CBoardIDShadow, m_driver_board_id) + kDriverBoardIDLength] == '\0' &&
           image[offsetof(CBoardIDShadow, m_is_using_alaw)] <= 1;
}

CZelStream& operator<<(CZelStream& stream, const CBoardIDShadow& record) {
    stream.WriteBlock(&record, sizeof record);
    return stream;
}

CZelStream& operator>>(CZelStream& stream, CBoardIDShadow& record) {
    stream.ReadBlock(&record, sizeof record);
    record.MakeWellFormed();
    return stream;
}
