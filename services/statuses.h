// Every status the library returns, in one place: the names and meanings
// of the library's own codes and the table's, the names of operating-system
// error numbers, and the texts GetErrorText gives.
#ifndef PELK_SERVICES_STATUSES_H
#define PELK_SERVICES_STATUSES_H

#include <cstddef>
#include <string>

struct NamedStatus {
    int code;
    const char* name;
    const char* meaning;
};

// Every named status, 0 ("OK") first.
extern const NamedStatus kNamedStatuses[];
extern const size_t kNamedStatusCount;

// The entry of code, or nullptr for a code that is not the library's own.
const NamedStatus* FindNamedStatus(int code);

// "PKERR_TIMEOUT", "ENOENT", "OAMSHADOW_ERR_NOT_FOUND"; "errno N" for an
// error number without a name; "unknown" for a code the library does not
// return.
std::string StatusName(int code);
// What the status means: the library's own explanation, strerror for an
// error number, "not a status of this library" otherwise.
std::string StatusMeaning(int code);
// The code of a status name (as StatusName gives it); false for none.
bool StatusByName(const std::string& name, int* code);

// GetErrorText: writes the text of code into text, at most size - 1
// characters and a NUL; nothing when size is 0. Codes of 0 and above give
// "Kernel error of %d" with the thread's errno (not the code), codes below
// -12 "PKERR_unknown", and -1 to -12 their name padded with blanks to 28
// characters.
void PelkStatusText(int code, char* text, unsigned int size);

#endif
