// Keeping the library's descriptors off 0, 1 and 2. A process that closed
// standard input, output or error gets the lowest free descriptor for the
// next file it opens; were that one of the library's, whatever the process
// (or the library's own log) writes to standard output or error would land
// in it.
#ifndef PELK_SERVICES_STANDARD_DESCRIPTORS_H
#define PELK_SERVICES_STANDARD_DESCRIPTORS_H

// Moves fd to the lowest free descriptor from 3 on, close-on-exec, when it
// is 0, 1 or 2; any other descriptor is returned as it is. -1 with errno
// when it cannot be moved (fd is closed then).
int KeepOffStandardDescriptors(int fd);

#endif
