// The board-identity table as the tests fill and read it.
#ifndef PELK_TESTS_BOARD_TABLE_H
#define PELK_TESTS_BOARD_TABLE_H

#include <strings.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <pelklib.h>

#include "oam/board_table_writer.h"

// Replaces the table with the boards in name order and sets the qm plug-in
// flag; 0 or the writer's error.
inline int WriteTable(std::vector<CBoardIDShadow> boards, bool qm = false) {
    std::stable_sort(boards.begin(), boards.end(), [](const auto& a, const auto& b) {
        return strcasecmp(a.GetName(), b.GetName()) < 0;
    });
    CBoardTableWriter writer(kBoardIDsShadowName, kBoardIDsShadowSize);
    return writer.Replace(boards.data(), static_cast<int>(boards.size())) |
           writer.SetIsUsingQmPlugin(qm);
}

// Every board of the attached table: "name number driver ID", " a" for A-law.
inline std::vector<std::string> TableRows() {
    OAMSHADOW_BOARD boards[31];
    int count = 0;
    EXPECT_EQ(oamShadowCopyTable(0, boards, 31, &count, nullptr), 0);
    std::vector<std::string> rows;
    for (int i = 0; i < count && i < 31; ++i) {
        const OAMSHADOW_BOARD& b = boards[i];
        rows.push_back(std::string(b.name) + " " + std::to_string(b.number) + " " + b.driverName +
                       " " + b.driverBoardID + (b.isUsingALaw ? " a" : ""));
    }
    return rows;
}

#endif
