// The one zbhost that serves an emulator directory, and what it sets up in
// its process before serving.
#ifndef ZBHOST_INSTANCE_H
#define ZBHOST_INSTANCE_H

#include <string>

// Becomes the directory's one zbhost: takes the instance lock, makes sure
// no runtime of another kind serves, and removes the pipe pairs an earlier
// runtime left. Returns the lock's descriptor, or -1 with the reason.
int TakeInstance(bool verbose, std::string* problem);
// Releases the lock and removes its file.
void LeaveInstance(int lock);

// SIGINT, SIGTERM, SIGHUP and SIGQUIT as a readable descriptor (-1 on
// failure); SIGPIPE ignored.
int StopSignals();
// Lets the process hold many pairs: as many descriptors as the host allows,
// and large answers in mappings of their own.
void PrepareForManyPairs();

#endif
