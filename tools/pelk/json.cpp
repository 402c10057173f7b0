#include "tools/pelk/json.h"

#include <cmath>
#include <cstdio>

std::string JsonQuote(const std::string& text) {
    std::string quoted = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
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
