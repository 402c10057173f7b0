// Board driver resolution shared between the resolution functions and the
// factory that creates a backend by board number.
#ifndef PELK_FRONT_RESOLUTION_H
#define PELK_FRONT_RESOLUTION_H

#include <pelklib.h>

// Attaches to the board-identity table, resolves board to its driver type
// and detaches, all as one step no other resolution or attach can interleave.
// Returns the status of the resolution; the process is detached afterwards.
int PelklibResolveDetached(unsigned int board, PELKLIB_DRIVER_TYPE* type);

#endif
