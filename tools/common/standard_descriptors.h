// Every program's first step: descriptors 0, 1 and 2 open, as daemons keep
// them. A program started with one of them closed would otherwise get it for
// the next file it opens, and what it prints would land in that file (or
// what it reads come from it).
#ifndef PELK_TOOLS_STANDARD_DESCRIPTORS_H
#define PELK_TOOLS_STANDARD_DESCRIPTORS_H

// Opens /dev/null on each of 0, 1 and 2 that is closed. When /dev/null
// cannot be opened the program exits with status 1 at once: it has nowhere
// safe to write to. A program that calls it has it run once more before its
// shared libraries are initialised (.preinit_array), where it counts: the
// call at the top of main links that in and finds the work done.
void OpenClosedStandardDescriptors();

#endif
