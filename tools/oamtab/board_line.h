// Reading board records from words: the fields of `oamtab add` and the
// lines of a table file.
#ifndef OAMTAB_BOARD_LINE_H
#define OAMTAB_BOARD_LINE_H

#include <string>
#include <vector>

#include "oam/board_id_shadow.h"

// Builds a record from NAME NUMBER DRIVER ID [alaw]. Returns false with
// the reason in *error.
bool ParseBoard(const std::vector<std::string>& words, CBoardIDShadow* record, std::string* error);

// Whether every word is text without control bytes (a NUL would cut the
// field short where the table stores it). False with the field and the
// byte, shown escaped, in *error.
bool FieldsPrintable(const std::vector<std::string>& words, std::string* error);

// Why resolving the board's number would fail: a driver name the library
// does not know (zb5t, qm, zbhost, ignoring case) or a driver board ID that
// is not a decimal number; "" when it resolves.
std::string UnresolvableBoard(const CBoardIDShadow& record);

// Splits a line into words at blanks; '#' starts a comment.
std::vector<std::string> SplitLine(const std::string& line);

#endif
