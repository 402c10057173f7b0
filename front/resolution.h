// Board driver resolution shared between the resolution functions and the
// factory that creates a backend by board number.
#ifndef PELK_FRONT_RESOLUTION_H
#define PELK_FRONT_RESOLUTION_H

#include <pelklib.h>

// Resolves board to its driver type as if it attached to the board-identity
// table and detached again, as one step no other resolution or attach can
// interleave. Returns the status of the resolution; the process is detached
// afterwards, also when it was attached before.
int PelklibResolveDetached(unsigned int board, PELKLIB_DRIVER_TYPE* type);

#endif
