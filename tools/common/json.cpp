#include "tools/common/json.h"

#include <cmath>
#include <cstdio>

namespace {

// The length of the valid UTF-8 sequence at text[at], or 0 when the byte
// there does not start one (overlong forms and surrogates are not valid).
size_t Utf8Length(const std::string& text, size_t at) {
    const unsigned char lead = static_cast<unsigned char>(text[at]);
    size_t length = 0;
    unsigned int low = 0x80, high = 0xbf;  // range of the second byte
    if (lead >= 0xc2 && lead <= 0xdf) {
        length = 2;
    } else if (lead >= 0xe0 && lead <= 0xef) {
        length = 3;
        low = lead == 0xe0 ? 0xa0 : 0x80;
        high = lead == 0xed ? 0x9f : 0xbf;
    } else if (lead >= 0xf0 && lead <= 0xf4) {
        length = 4;
        low = lead == 0xf0 ? 0x90 : 0x80;
        high = lead == 0xf4 ? 0x8f : 0xbf;
    }
    if (length == 0 || at + length > text.size()) {
        return 0;
    }
    for (size_t i = 1; i < length; ++i) {
        const unsigned char next = static_cast<unsigned char>(text[at + i]);
        if (next < (i == 1 ? low : 0x80) || next > (i == 1 ? high : 0xbf)) {
            return 0;
        }
    }
    return length;
}

}  // namespace

std::string JsonQuote(const std::string& text) {
    std::string quoted = "\"";
    for (size_t at = 0; at < text.size(); ++at) {
        const unsigned char c = static_cast<unsigned char>(text[at]);
        const size_t utf8 = c >= 0x80 ? Utf8Length(text, at) : 0;
        if (utf8 != 0) {
            quoted.append(text, at, utf8);
            at += utf8 - 1;
        } else if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += static_cast<char>(c);
        } else if (c == '\n') {
            quoted += "\\n";
        } else if (c == '\t') {
            quoted += "\\t";
        } else if (c < 0x20 || c > 0x7e) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            quoted += escape;
        } else {
            quoted += static_cast<char>(c);
        }
    }
    return quoted + "\"";
}

JsonObject& JsonObject::Raw(const std::string& key, std::string json) {
    m_fields.emplace_back(key, std::move(json));
    return *this;
}

JsonObject& JsonObject::Str(const std::string& key, const std::string& value) {
    return Raw(key, JsonQuote(value));
}

JsonObject& JsonObject::Int(const std::string& key, long long value) {
    return Raw(key, std::to_string(value));
}

// JSON has no infinity or NaN; they become null.
JsonObject& JsonObject::Num(const std::string& key, double value) {
    if (!std::isfinite(value)) {
        return Raw(key, "null");
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", value);
    return Raw(key, text);
}

JsonObject& JsonObject::Bool(const std::string& key, bool value) {
    return Raw(key, value ? "true" : "false");
}

JsonObject& JsonObject::Null(const std::string& key) {
    return Raw(key, "null");
}

JsonObject& JsonObject::Obj(const std::string& key, const JsonObject& value) {
    return Raw(key, value.Render());
}

JsonObject& JsonObject::Arr(const std::string& key, const JsonArray& value) {
    return Raw(key, value.Render());
}

std::string JsonObject::Render() const {
    std::string json = "{";
    for (size_t i = 0; i < m_fields.size(); ++i) {
        json += (i ? "," : "") + JsonQuote(m_fields[i].first) + ":" + m_fields[i].second;
    }
    return json + "}";
}

JsonArray& JsonArray::Int(long long value) {
    m_items.push_back(std::to_string(value));
    return *this;
}

JsonArray& JsonArray::Str(const std::string& value) {
    m_items.push_back(JsonQuote(value));
    return *this;
}

JsonArray& JsonArray::Obj(const JsonObject& value) {
    m_items.push_back(value.Render());
    return *this;
}

std::string JsonArray::Render() const {
    std::string json = "[";
    for (size_t i = 0; i < m_items.size(); ++i) {
        json += (i ? "," : "") + m_items[i];
    }
    return json + "]";
}
