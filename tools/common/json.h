// A small builder of JSON text: objects keep their keys in the order added.
#ifndef PELK_TOOLS_JSON_H
#define PELK_TOOLS_JSON_H

#include <string>
#include <utility>
#include <vector>

// text as a JSON string literal, quotes included. UTF-8 characters are kept
// as they are; control characters, DEL and each byte that is not part of
// valid UTF-8 are written as \u00XX (XX the byte), so any bytes give valid
// JSON.
std::string JsonQuote(const std::string& text);

class JsonArray;

class JsonObject {
public:
    JsonObject& Str(const std::string& key, const std::string& value);
    JsonObject& Int(const std::string& key, long long value);
    JsonObject& Num(const std::string& key, double value);
    JsonObject& Bool(const std::string& key, bool value);
    JsonObject& Null(const std::string& key);
    JsonObject& Obj(const std::string& key, const JsonObject& value);
    JsonObject& Arr(const std::string& key, const JsonArray& value);
    std::string Render() const;

private:
    JsonObject& Raw(const std::string& key, std::string json);
    std::vector<std::pair<std::string, std::string>> m_fields;
};

class JsonArray {
public:
    JsonArray& Int(long long value);
    JsonArray& Str(const std::string& value);
    JsonArray& Obj(const JsonObject& value);
    std::string Render() const;

private:
    std::vector<std::string> m_items;
};

#endif
