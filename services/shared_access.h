// Who may open the objects that processes sharing boards create: table and
// board-data segments, the table's mutex, the emulator's semaphore and
// marker, zbhost's pipes and lock; and the check every such object passes
// before it is used.
//
// Without a policy every object is read/write for every user, as it has
// always been. When the group named by PELK_GROUP (default "pelk") exists,
// objects are mode 0660 and belong to that group, so only its members share
// boards. See docs/SECURITY.md.
#ifndef PELK_SERVICES_SHARED_ACCESS_H
#define PELK_SERVICES_SHARED_ACCESS_H

#include <sys/ipc.h>
#include <sys/types.h>

#include <string>

// Whether a group policy is in force.
bool SharedByGroup();

// The policy's group; false without a policy.
bool SharedGroupId(gid_t* group);

// Mode to create an object with: only the owner until it has been handed
// to the group, so nobody outside can open it in between.
mode_t SharedCreateMode();

// Hands a freshly created object to the policy (group, then mode), on its
// descriptor; one shared as the policy says already is left alone. Only for
// objects of our own, or that CheckSharedObject has passed (another user's
// object passes only when it is shared already). 0 on success, else the
// errno of the failing call.
int ShareDescriptor(int fd);

// The same for a System V semaphore set.
int ShareSemaphoreSet(int set);

// What an object in a shared place must be.
enum class SharedKind { Directory, Fifo, File };

// Checks an object in a shared place (/dev/shm, the emulator directory) on
// its open descriptor before it is used: of the kind expected; owned by the
// effective user or root, or under the group policy in the policy's group;
// under the group policy giving nobody outside that group access; a
// directory writable by every user only with the sticky bit. 0 when it may
// be used; otherwise EACCES, and *why says which object, who owns it and
// what to remove or change. Nothing is changed.
int CheckSharedObject(int fd, SharedKind kind, const char* path, std::string* why);

// A file this process writes for itself where others may create files too
// (a capture file): a regular file owned by the effective user or root;
// otherwise EACCES with *why as above.
int CheckOwnFile(int fd, const char* path, std::string* why);

// The same check of a System V IPC object's owner, group and mode; `name`
// says which object, `removal` how to remove it.
int CheckSharedIpc(const struct ipc_perm& permission, const char* name, const char* removal,
                   std::string* why);

// Explains an open of path that failed with error: a symbolic link that was
// not followed (ELOOP), permission denied (owner, group and mode of the
// object, or of its directory when the object is out of reach, and the
// group to join), a missing file, or errno's text.
std::string DescribeOpenFailure(const char* path, int error);

#endif
