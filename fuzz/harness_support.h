// What the fuzz harnesses share: a check that stops the run when broken,
// and the board-identity segment's layout as the harnesses write it.
#ifndef PELK_FUZZ_HARNESS_SUPPORT_H
#define PELK_FUZZ_HARNESS_SUPPORT_H

#include <cstddef>

// A broken expectation is a finding: stop the run where it happened.
inline void Require(bool holds) {
    if (!holds) {
        __builtin_trap();
    }
}

// "OAM_BoardIDsShadow": a 4-byte count, then 332-byte records.
constexpr size_t kSegmentSize = 10624;
constexpr size_t kRecordSize = 332;

#endif
