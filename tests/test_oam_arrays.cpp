#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "oam/board_id_shadow.h"
#include "oam/zel_streamable_array.h"

namespace {

TEST(ZelArray, GrowsByStepPlusOneAndShiftsOnInsertion) {
    CZelArray<int> array(5, 3);
    std::vector<int> capacities;
    for (int i = 0; i < 14; ++i) {
        array.Add(i);
        capacities.push_back(array.GetCapacity());
    }
    EXPECT_EQ(capacities, (std::vector<int>{5, 5, 5, 5, 5, 9, 9, 9, 9, 13, 13, 13, 13, 17}));
    array.InsertAt(0, 100);
    array.InsertAt(0, 101);
    array.InsertAt(0, 102);
    EXPECT_EQ(array.GetCapacity(), 17);
    array.InsertAt(0, 103);  // into a full array: grows by the step only
    EXPECT_EQ(array.GetCapacity(), 20);
    ASSERT_EQ(array.GetSize(), 18);
    for (int i = 0; i < 14; ++i) EXPECT_EQ(array[i + 4], i);
    EXPECT_EQ(array[0], 103);

    array.DeleteAll();
    EXPECT_EQ(array.GetSize(), 0);
    EXPECT_EQ(array.GetCapacity(), 20);
    // The freed elements' slots stay behind the size and never read again.
    EXPECT_FALSE(array.InsertAt(1, 7));
    EXPECT_EQ(array.GetSize(), 0);
    EXPECT_EQ(array[0], 0);
    EXPECT_TRUE(array.InsertAt(0, 7));
    EXPECT_EQ(array[1], 0);
    array.DeleteAll();

    // Removal from a full array moves only the elements behind the gap.
    CZelArray<int> full(2, 1);
    full.Add(1), full.Add(2);
    EXPECT_TRUE(full.RemoveAt(0));
    EXPECT_FALSE(full.RemoveAt(1));
    EXPECT_EQ(full[0], 2);
    full.DeleteAll();
}

TEST(BoardIDShadow, TextsAreCutToTheirFieldsAndTheImageReadsBackEqual) {
    std::string n128(128, 'n');
    CBoardIDShadow record((n128 + "x").c_str(), 0xA1B2C3D4, std::string(129, 'd').c_str(),
                          std::string(65, 'i').c_str(), true);
    EXPECT_EQ(record.GetName(), n128);
    EXPECT_EQ(record.GetDriverName(), std::string(128, 'd'));
    EXPECT_EQ(record.GetDriverBoardID(), std::string(64, 'i'));
    record.SetDriverBoardID("17");
    for (size_t i = 2; i <= 64; ++i) EXPECT_EQ(record.m_driver_board_id[i], '\0') << i;

    unsigned char block[400];
    CZelStream stream(block, sizeof block);
    stream << record;
    stream.Rewind();
    CBoardIDShadow read;
    stream >> read;
    EXPECT_EQ(read.GetName(), n128);
    EXPECT_EQ(read.GetNumber(), 0xA1B2C3D4u);
    EXPECT_STREQ(read.GetDriverName(), record.GetDriverName());
    EXPECT_STREQ(read.GetDriverBoardID(), "17");
    EXPECT_TRUE(read.GetIsUsingALaw());
}

TEST(ZelStreamableArray, EmptyArrayIsTheCountAloneAndEmptiesTheReader) {
    unsigned char block[8];
    std::memset(block, 0x55, sizeof block);
    CZelStream stream(block, sizeof block);
    CZelStreamableArray<CBoardIDShadow> array(5, 3);
    stream << array;
    EXPECT_EQ(std::vector<unsigned char>(block, block + 5),
              (std::vector<unsigned char>{0, 0, 0, 0, 0x55}));
    array.Add(CBoardIDShadow("a"));
    array.Add(CBoardIDShadow("b"));
    stream.Rewind();
    stream >> array;
    EXPECT_EQ(array.GetSize(), 0);
}

}  // namespace
