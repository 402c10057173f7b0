#include "services/driver_names.h"

#include <strings.h>

namespace {

struct NamedDriver {
    const char* name;
    PELKLIB_DRIVER_TYPE type;
};

const NamedDriver kNamedDrivers[] = {
    {"zb5t", PELKLIB_DRIVER_ZB5T},
    {"qm", PELKLIB_DRIVER_QM},
    {"zbhost", PELKLIB_DRIVER_ZBHOST},
};

}  // namespace

const char* DriverName(int type) {
    for (const NamedDriver& known : kNamedDrivers) {
        if (known.type == type) {
            return known.name;
        }
    }
    return "unknown";
}

bool DriverTypeByName(const char* name, PELKLIB_DRIVER_TYPE* type) {
    for (const NamedDriver& known : kNamedDrivers) {
        if (strcasecmp(name, known.name) == 0) {
            *type = known.type;
            return true;
        }
    }
    return false;
}
