// Who may open the objects that processes sharing boards create: table and
// board-data segments, the table's mutex, the emulator's semaphore and
// marker, zbhost's pipes and lock.
//
// Without a policy every object is read/write for every user, as it has
// always been. When the group named by PELK_GROUP (default "pelk") exists,
// objects are mode 0660 and belong to that group, so only its members share
// boards.
#ifndef PELK_SERVICES_SHARED_ACCESS_H
#define PELK_SERVICES_SHARED_ACCESS_H

#include <sys/types.h>

// Whether a group policy is in force.
bool SharedByGroup();

// The policy's group; false without a policy.
bool SharedGroupId(gid_t* group);

// Mode to create an object with: only the owner until it has been handed
// to the group, so nobody outside can open it in between.
mode_t SharedCreateMode();

// Hands a freshly created object to the policy (group, then mode).
// 0 on success, else the errno of the failing call.
int ShareDescriptor(int fd);
int SharePath(const char* path);

// The same for a System V semaphore set.
int ShareSemaphoreSet(int set);

#endif
