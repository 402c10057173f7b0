/* Preloaded into a program under test: every chmod by path waits 20 ms
   before it runs, so that a test can change what the path names in
   between, as a hostile user racing the program could. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <sys/stat.h>
#include <time.h>

int chmod(const char* path, mode_t mode) {
    int (*next)(const char*, mode_t) = (int (*)(const char*, mode_t))dlsym(RTLD_NEXT, "chmod");
    const struct timespec pause = {0, 20000000};
    nanosleep(&pause, NULL);
    return next(path, mode);
}
