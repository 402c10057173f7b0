#include "board_line.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <sstream>

namespace {

bool FitsField(const std::string& text, size_t limit, const char* field, std::string* error) {
    if (text.size() <= limit) {
        return true;
    }
    *error = std::string(field) + " \"" + text + "\" is longer than " + std::to_string(limit) +
             " characters";
    return false;
}

bool ParseNumber(const std::string& text, uint32_t* number) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    errno = 0;
    unsigned long long value = std::strtoull(text.c_str(), nullptr, 10);
    if (errno != 0 || value > UINT32_MAX) {
        return false;
    }
    *number = static_cast<uint32_t>(value);
    return true;
}

}  // namespace

bool ParseBoard(const std::vector<std::string>& words, CBoardIDShadow* record, std::string* error) {
    if (words.size() < 4 || words.size() > 5 || (words.size() == 5 && words[4] != "alaw")) {
        *error = "expected NAME NUMBER DRIVER ID [alaw]";
        return false;
    }
    uint32_t number;
    if (!ParseNumber(words[1], &number)) {
        *error = "board number \"" + words[1] + "\" is not a decimal number from 0 to 4294967295";
        return false;
    }
    // A name is one word: table files and the listing separate words by blanks.
    if (words[0].empty() || words[0].find_first_of(" \t\r\n\v\f") != std::string::npos) {
        *error = "name \"" + words[0] + "\" must be one word";
        return false;
    }
    if (!FitsField(words[0], CBoardIDShadow::kNameLength, "name", error) ||
        !FitsField(words[2], CBoardIDShadow::kDriverNameLength, "driver name", error) ||
        !FitsField(words[3], CBoardIDShadow::kDriverBoardIDLength, "driver board ID", error)) {
        return false;
    }
    *record = CBoardIDShadow(words[0].c_str(), number, words[2].c_str(), words[3].c_str(),
                             words.size() == 5);
    return true;
}

std::vector<std::string> SplitLine(const std::string& line) {
    std::istringstream input(line.substr(0, line.find('#')));
    std::vector<std::string> words;
    std::string word;
    while (input >> word) {
        words.push_back(word);
    }
    return words;
}
