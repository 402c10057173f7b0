// Whether a named POSIX shared-memory segment exists, found out without
// opening, creating or following anything: for callers that only look and
// must not make a segment by looking.
#ifndef PELK_SERVICES_SHM_PRESENCE_H
#define PELK_SERVICES_SHM_PRESENCE_H

#include <string>

// 0 when /dev/shm holds a regular file named `name` (a segment name without
// its leading slash); ENOENT when it holds nothing of that name; ELOOP for a
// symbolic link; EINVAL for another kind of file or a name that is empty,
// holds a slash or is longer than a file name; otherwise the errno of the
// look (EACCES).
int ShmSegmentPresence(const char* name);

// Why there is no board-identity table to look at, with what to do about
// it; "" when its segment exists.
std::string MissingBoardTable();

// Why a board-identity table that exists could not be opened: the
// segment's owner, group and mode, and whether this process may read and
// write it (what to do when it may not).
std::string UnopenedBoardTable();

#endif
