#include "board_line.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "services/driver_names.h"

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

bool FieldsPrintable(const std::vector<std::string>& words, std::string* error) {
    static const char* const kFields[] = {"name", "board number", "driver name", "driver board ID"};
    const auto isControl = [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; };
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        const auto control = std::find_if(word.begin(), word.end(), isControl);
        if (control == word.end()) {
            continue;
        }
        std::string shown;
        for (char c : word) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, isControl(c) || c == '\\' ? "\\x%02X" : "%c",
                          static_cast<unsigned char>(c));
            shown += escaped;
        }
        char byte[8];
        std::snprintf(byte, sizeof byte, "0x%02X", static_cast<unsigned char>(*control));
        *error = (i < 4 ? std::string(kFields[i]) : "word " + std::to_string(i + 1)) + " \"" +
                 shown + "\" holds the control byte " + byte + " at position " +
                 std::to_string(control - word.begin() + 1) + ": fields are printable text";
        return false;
    }
    return true;
}

std::string UnresolvableBoard(const CBoardIDShadow& record) {
    const std::string name = record.GetName();
    const std::string driver = record.GetDriverName();
    const std::string id = record.GetDriverBoardID();
    PELKLIB_DRIVER_TYPE type;
    if (!DriverTypeByName(driver.c_str(), &type)) {
        return "board \"" + name + "\" names driver \"" + driver +
               "\", which the library does not know (zb5t, zbhost, or qm for the qm plug-in)";
    }
    if (id.empty() || id.find_first_not_of("0123456789") != std::string::npos) {
        return "board \"" + name + "\" has driver board ID \"" + id +
               "\", which is not a decimal number";
    }
    return "";
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
