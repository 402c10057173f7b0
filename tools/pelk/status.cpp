#include "tools/pelk/status.h"

#include <cstdio>
#include <cstring>

#include "tools/common/names.h"


StatusInfo DescribeStatus(int code, cPelkLib* lib) {
    StatusInfo status;
    status.code = code;
    if (const NamedStatus* known = FindNamedStatus(code)) {
        status.name = known->name;
        status.meaning = known->meaning;
    }
    if (status.name.empty() && code > 0) {
        const char* name = strerrorname_np(code);
        status.name = name ? name : "errno " + std::to_string(code);
        status.meaning = std::strerror(code);
    } else if (status.name.empty()) {
        status.name = "unknown";
        status.meaning = "not a status of this library";
    }
    // For 0 and above the library's text tells the thread's errno, not the
    // code, so only negative codes take it.
    if (lib != nullptr && code < 0) {
        char text[64] = "";
        lib->GetErrorText(code, text, sizeof text);
        status.libraryText = text;
        status.libraryText.erase(status.libraryText.find_last_not_of(' ') + 1);
    }
    return status;
}

bool StatusByName(const std::string& name, int* code) {
    for (size_t i = 0; i < kNamedStatusCount; ++i) {
        if (name == kNamedStatuses[i].name) {
            *code = kNamedStatuses[i].code;
            return true;
        }
    }
    // errno values are small positive numbers.
    for (int number = 1; number < 4096; ++number) {
        const char* errnoName = strerrorname_np(number);
        if (errnoName != nullptr && name == errnoName) {
            *code = number;
            return true;
        }
    }
    return false;
}

JsonObject StatusJson(const StatusInfo& status) {
    JsonObject json;
    json.Int("code", status.code).Str("name", status.name).Str("meaning", status.meaning);
    if (!status.libraryText.empty()) {
        json.Str("text", status.libraryText);
    }
    return json;
}

std::string StatusLine(const StatusInfo& status) {
    std::string line = std::to_string(status.code);
    if (status.code >= 0x10000) {
        char hex[16];
        std::snprintf(hex, sizeof hex, " (0x%x)", static_cast<unsigned int>(status.code));
        line += hex;
    }
    line += " " + status.name + ": " + status.meaning;
    if (!status.libraryText.empty() && status.libraryText != status.name) {
        line += " [library text \"" + status.libraryText + "\"]";
    }
    return line;
}
