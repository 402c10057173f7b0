#include "oam/kept_table.h"

#include <new>

namespace {

constexpr time_t kKeptSeconds = 1;

// The coarse clock is read without a system call.
timespec Now() {
    timespec now = {0, 0};
    clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    return now;
}

}  // namespace

CBoardIDsShadow* KeptBoardTable::Load() {
    const timespec now = Now();
    if (m_table != nullptr && Expired(now)) {
        Drop();
    }
    if (m_table != nullptr) {
        m_table->prefix();
        if (m_table->TableGeneration() == m_generation) {
            return m_table;
        }
        m_table->Unlock();  // a segment since replaced: nothing is stored to it
        Drop();
    }
    m_table = new (std::nothrow) CBoardIDsShadow(kBoardIDsShadowName, kBoardIDsShadowSize);
    if (m_table == nullptr || m_table->GetOpenError() != 0) {
        Drop();
        return nullptr;
    }
    m_opened_at = now;
    m_table->prefix();
    m_generation = m_table->TableGeneration();
    return m_table;
}

void KeptBoardTable::Done() {
    m_table->ReleaseUnchanged();
}

bool KeptBoardTable::Expired(const timespec& now) const {
    const time_t seconds = now.tv_sec - m_opened_at.tv_sec;
    return seconds > kKeptSeconds ||
           (seconds == kKeptSeconds && now.tv_nsec >= m_opened_at.tv_nsec);
}

void KeptBoardTable::Drop() {
    delete m_table;
    m_table = nullptr;
}
