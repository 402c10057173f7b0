// A program built against the installed library only.
#include <pelklib.h>

#include <cstdio>

int main() {
    cPelkLib* lib = NewPelkLibByType(PELKLIB_DRIVER_ZB5T);
    if (lib == nullptr || lib->GetWaitHandle() != -1 || _lib_version != 1) {
        std::puts("consumer: unexpected object");
        return 1;
    }
    char text[64];
    lib->GetErrorText(PKERR_TIMEOUT, text, sizeof text);
    std::printf("consumer: %s|\n", text);
    deletePelkLib(lib);
    return 0;
}
