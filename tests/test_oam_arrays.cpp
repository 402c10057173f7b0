#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "oam/board_id_shadow.h"
#include "oam/zel_streamable_array.h"
#include "services/ZelZfc.h"

namespace {

typedef CZelStreamableArray<CBoardIDShadow> Records;

TEST(ZelArray, GrowsByStepPlusOneAndShiftsOnInsertion) {
    CZelArray<int> array(5, 3);
    std::vector<int> capacities;
    for (int i = 0; i < 14; ++i) {
        array.Add(i);
        capacities.push_back(array.GetCapacity());
    }
    EXPECT_EQ(capacities, (std::vector<int>{5, 5, 5, 5, 5, 9, 9, 9, 9, 13, 13, 13, 13, 17}));

    array.InsertAt(0, 100);
    ASSERT_EQ(array.GetSize(), 15);
    EXPECT_EQ(array[0], 100);
    for (int i = 0; i < 14; ++i) EXPECT_EQ(array[i + 1], i);

    // Into the middle of a full array: the block grows by the step only.
    array.InsertAt(3, 200);
    array.InsertAt(3, 300);
    EXPECT_EQ(array.GetCapacity(), 17);
    EXPECT_EQ(array.GetSize(), 17);
    array.InsertAt(3, 400);
    EXPECT_EQ(array.GetCapacity(), 20);
    EXPECT_EQ(array[3], 400);
    EXPECT_EQ(array[4], 300);
    EXPECT_EQ(array[5], 200);

    EXPECT_TRUE(array.RemoveAt(0));
    EXPECT_EQ(array[0], 0);
    EXPECT_EQ(array.GetSize(), 17);

    array.DeleteAll();
    EXPECT_EQ(array.GetSize(), 0);
    EXPECT_EQ(array.GetCapacity(), 20);
    array.DeleteAll();
    EXPECT_EQ(array.GetSize(), 0);
}

TEST(ZelArray, NoSlotBeyondTheSizeEverReadsAsAnElement) {
    CZelArray<int> array(5, 3);
    array.Add(1);
    array.Add(2);
    array.DeleteAll();
    // The freed elements' slots stay behind the size.
    EXPECT_FALSE(array.InsertAt(2, 7));
    EXPECT_FALSE(array.InsertAt(-1, 7));
    EXPECT_EQ(array.GetSize(), 0);
    EXPECT_EQ(array[0], 0);
    EXPECT_EQ(array[-1], 0);
    EXPECT_TRUE(array.InsertAt(0, 7));
    EXPECT_EQ(array.GetSize(), 1);
    EXPECT_EQ(array[1], 0);
    array.DeleteAll();
}

TEST(BoardIDShadow, TextsAreCutToTheirFields) {
    CBoardIDShadow empty;
    EXPECT_STREQ(empty.GetName(), "");
    EXPECT_EQ(empty.GetNumber(), 0u);
    EXPECT_FALSE(empty.GetIsUsingALaw());

    std::string n128(128, 'n'), d129(129, 'd'), i65(65, 'i');
    CBoardIDShadow record(n128.c_str(), 7, d129.c_str(), i65.c_str(), true);
    EXPECT_EQ(record.GetName(), n128);
    EXPECT_EQ(record.GetDriverName(), std::string(128, 'd'));
    EXPECT_EQ(record.GetDriverBoardID(), std::string(64, 'i'));
    record.SetName((n128 + "x").c_str());
    EXPECT_EQ(record.GetName(), n128);
    record.SetName("ab");
    // strncpy fills the rest of the field with zeros.
    for (size_t i = 2; i <= 128; ++i) EXPECT_EQ(record.m_name[i], '\0') << i;
}

TEST(BoardIDShadow, ImageIs332BytesAndReadsBackEqual) {
    unsigned char block[400];
    CZelStream stream(block, sizeof block);
    CBoardIDShadow written("board3", 0xA1B2C3D4, "zb5t", "17", true);
    stream << written;
    EXPECT_EQ(stream.GetPosition(), 332u);
    unsigned int number;
    std::memcpy(&number, block + 132, 4);
    EXPECT_EQ(number, 0xA1B2C3D4);
    EXPECT_STREQ(reinterpret_cast<char*>(block + 136), "zb5t");
    EXPECT_STREQ(reinterpret_cast<char*>(block + 265), "17");
    EXPECT_EQ(block[330], 1);

    stream.Rewind();
    CBoardIDShadow read;
    stream >> read;
    EXPECT_STREQ(read.GetName(), "board3");
    EXPECT_EQ(read.GetNumber(), 0xA1B2C3D4u);
    EXPECT_STREQ(read.GetDriverName(), "zb5t");
    EXPECT_STREQ(read.GetDriverBoardID(), "17");
    EXPECT_TRUE(read.GetIsUsingALaw());
}

TEST(BoardIDShadow, UnterminatedImageIsTerminatedInsideItsFields) {
    unsigned char block[332];
    std::memset(block, 'A', sizeof block);
    block[330] = 7;
    CZelStream stream(block, sizeof block);
    CBoardIDShadow read;
    stream >> read;
    EXPECT_EQ(std::strlen(read.GetName()), 128u);
    EXPECT_EQ(std::strlen(read.GetDriverName()), 128u);
    EXPECT_EQ(std::strlen(read.GetDriverBoardID()), 64u);
    EXPECT_TRUE(read.GetIsUsingALaw());
}

TEST(ZelStreamableArray, EmptyArrayIsTheCountAlone) {
    unsigned char block[8];
    std::memset(block, 0x55, sizeof block);
    CZelStream stream(block, sizeof block);
    Records empty(5, 3);
    stream << empty;
    EXPECT_EQ(stream.GetPosition(), 4u);
    EXPECT_EQ(std::vector<unsigned char>(block, block + 5),
              (std::vector<unsigned char>{0, 0, 0, 0, 0x55}));

    Records full(5, 3);
    full.Add(CBoardIDShadow("a"));
    full.Add(CBoardIDShadow("b"));
    stream.Rewind();
    stream >> full;
    EXPECT_EQ(full.GetSize(), 0);
}

TEST(ZelStreamableArray, CountFromTheStreamNeverOutrunsItsBytes) {
    std::vector<unsigned char> block(4 + 2 * 332 + 100, 0);
    CZelStream stream(block.data(), static_cast<uint32_t>(block.size()));
    Records two(5, 3);
    two.Add(CBoardIDShadow("a", 1));
    two.Add(CBoardIDShadow("b", 2));
    stream << two;
    two.DeleteAll();

    Records read(5, 3);
    for (int count : {1000000000, 3}) {
        std::memcpy(block.data(), &count, 4);
        stream.Rewind();
        stream >> read;
        EXPECT_TRUE(stream.Failed());
        ASSERT_EQ(read.GetSize(), 2);
        EXPECT_EQ(read[1].GetNumber(), 2u);
    }
    for (int count : {-1, -2147483647 - 1, 0}) {
        std::memcpy(block.data(), &count, 4);
        stream.Rewind();
        stream >> read;
        EXPECT_FALSE(stream.Failed());
        EXPECT_EQ(read.GetSize(), 0);
    }
}

}  // namespace
