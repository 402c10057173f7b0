// pelk eeprom and pelk data: board information and board data.
#include <cstdio>
#include <string>

#include "tools/pelk/command.h"
#include "tools/pelk/session.h"

namespace {

void PrintHex(const unsigned char* bytes, unsigned int count, unsigned int offset) {
    for (unsigned int i = 0; i < count; i += 16) {
        std::printf("  %04x:", offset + i);
        for (unsigned int j = i; j < i + 16 && j < count; ++j) {
            std::printf(" %02x", bytes[j]);
        }
        std::printf("\n");
    }
}

int RunEeprom(const CommonOptions& common, const std::vector<std::string>& arguments) {
    unsigned int offset = 0, length = 20;
    if (arguments.size() > 2 || (arguments.size() > 0 && !ParseNumber(arguments[0], &offset)) ||
        (arguments.size() > 1 && !ParseNumber(arguments[1], &length)) || length > 4096) {
        std::fprintf(stderr, "pelk eeprom: usage: pelk eeprom [OFFSET [LENGTH<=4096]]\n");
        return 2;
    }
    PelkHandle lib = CreateBoard(common.driver);
    if (!lib) {
        return 1;
    }
    unsigned char bytes[4096];
    unsigned int count = 0;
    int status = lib->ReadEEPROM(common.board, offset, length, bytes, &count);
    if (status != 0) {
        std::fprintf(stderr, "pelk eeprom: %s\n", StatusText(*lib, status).c_str());
        return 1;
    }
    std::printf("EEPROM of board %u, offset %u: %u bytes\n", common.board, offset, count);
    PrintHex(bytes, count < length ? count : length, offset);
    return 0;
}

// Stores TEXT as board data through one object and reads it back through
// a second one, as two users of the board would.
int RunData(const CommonOptions& common, const std::vector<std::string>& arguments) {
    if (arguments.size() != 1) {
        std::fprintf(stderr, "pelk data: usage: pelk data TEXT\n");
        return 2;
    }
    std::string text = arguments[0];
    PelkHandle writer = CreateBoard(common.driver);
    PelkHandle reader = CreateBoard(common.driver);
    if (!writer || !reader) {
        return 1;
    }
    unsigned int count = 0;
    int status = writer->SetBoardData(common.board, static_cast<unsigned int>(text.size()),
                                      &text[0], &count);
    if (status != 0) {
        std::fprintf(stderr, "pelk data: store failed: %s\n",
                     StatusText(*writer, status).c_str());
        return 1;
    }
    std::printf("stored %u bytes of board data: \"%s\"\n", count, text.c_str());
    char back[4096];
    status = reader->GetBoardData(common.board, sizeof back, back, &count);
    if (status != 0) {
        std::fprintf(stderr, "pelk data: read failed: %s\n", StatusText(*reader, status).c_str());
        return 1;
    }
    std::printf("read back %u bytes: \"%.*s\"\n", count, static_cast<int>(count), back);
    return std::string(back, count) == text ? 0 : 1;
}

}  // namespace

const Command kEepromCommand = {"eeprom", "[OFFSET [LENGTH]]",
                                "read the board's EEPROM and show it in hex", RunEeprom};
const Command kDataCommand = {"data", "TEXT",
                              "store TEXT as board data and read it back", RunData};
