#include "services/pxi.h"

#include <strings.h>

int pxiStricmp(const char* a, const char* b) {
    return strcasecmp(a, b);
}
