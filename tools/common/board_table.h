// Reading the whole board-identity table for a tool that shows it.
#ifndef PELK_TOOLS_BOARD_TABLE_H
#define PELK_TOOLS_BOARD_TABLE_H

#include <string>
#include <vector>

#include <pelklib.h>

// Copies every board and the qm plug-in flag under one hold of the table's
// mutex, so the copy is a table that existed. Looks for the table first,
// since attaching makes one. Returns 0, or the status with the reason and
// what to do in *why: OAMSHADOW_ERR_UNAVAILABLE when there is no table.
int ReadBoardTable(std::vector<OAMSHADOW_BOARD>* boards, bool* qm, std::string* why);

#endif
