#include "tools/pelk/session.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

const char* DriverName(PELKLIB_DRIVER_TYPE driver) {
    switch (driver) {
        case PELKLIB_DRIVER_QM: return "qm";
        case PELKLIB_DRIVER_ZB5T: return "zb5t";
        case PELKLIB_DRIVER_ZBHOST: return "zbhost";
    }
    return "unknown";
}

PelkHandle CreateBoard(PELKLIB_DRIVER_TYPE driver) {
    PelkHandle lib(NewPelkLibByType(driver));
    if (!lib) {
        std::fprintf(stderr, "pelk: driver type %d (%s) has no backend\n",
                     static_cast<int>(driver), DriverName(driver));
    }
    return lib;
}

PelkHandle OpenBoard(PELKLIB_DRIVER_TYPE driver) {
    PelkHandle lib = CreateBoard(driver);
    if (!lib) {
        return lib;
    }
    int waitHandle = -1;
    int status = lib->Open(PK_MAX_HEADER_LEN, &waitHandle);
    if (status != 0) {
        std::fprintf(stderr, "pelk: cannot open the %s backend: %s%s\n", DriverName(driver),
                     StatusText(*lib, status).c_str(),
                     driver == PELKLIB_DRIVER_ZBHOST ? " (is zbhost running?)" : "");
        lib.reset();
        return lib;
    }
    std::printf("opened the %s backend (wait handle %d)\n", DriverName(driver), waitHandle);
    return lib;
}

std::string StatusText(cPelkLib& lib, int status) {
    if (status > 0) {
        return std::string(std::strerror(status)) + " (" + std::to_string(status) + ")";
    }
    char text[64];
    lib.GetErrorText(status, text, sizeof text);
    std::string name = text;
    name.erase(name.find_last_not_of(' ') + 1);
    return name + " (" + std::to_string(status) + ")";
}

bool ParseNumber(const std::string& text, unsigned int* value) {
    if (text.empty() || text[0] == '-' || text[0] == '+') {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    unsigned long parsed = std::strtoul(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || parsed > 0xFFFFFFFFul) {
        return false;
    }
    *value = static_cast<unsigned int>(parsed);
    return true;
}
