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

// Splits a line into words at blanks; '#' starts a comment.
std::vector<std::string> SplitLine(const std::string& line);

#endif
