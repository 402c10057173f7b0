#include "tools/pelk/status.h"

#include <cstdio>

#include "services/statuses.h"

StatusInfo DescribeStatus(int code, cPelkLib* lib) {
    StatusInfo status;
    status.code = code;
    status.name = StatusName(code);
    status.meaning = StatusMeaning(code);
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
