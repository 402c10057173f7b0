// What the fuzz harnesses share: a check that stops the run when broken.
#ifndef PELK_FUZZ_HARNESS_SUPPORT_H
#define PELK_FUZZ_HARNESS_SUPPORT_H

// A broken expectation is a finding: stop the run where it happened.
inline void Require(bool holds) {
    if (!holds) {
        __builtin_trap();
    }
}

#endif
