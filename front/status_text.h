// Texts of the status codes, as GetErrorText gives them.
#ifndef PELK_FRONT_STATUS_TEXT_H
#define PELK_FRONT_STATUS_TEXT_H

// Writes the text of code into text, at most size - 1 characters and a NUL;
// nothing when size is 0. Codes of 0 and above give "Kernel error of %d"
// with the thread's errno (not the code), codes below -12 "PKERR_unknown",
// and -1 to -12 their name padded with blanks to 28 characters.
void PelkStatusText(int code, char* text, unsigned int size);

#endif
