// Command-line options: "--name" or "--name VALUE" words, the rest positional.
#ifndef PELK_TOOL_OPTIONS_H
#define PELK_TOOL_OPTIONS_H

#include <map>
#include <string>
#include <vector>

struct OptionDef {
    const char* name;   // "--count"
    const char* value;  // "N" for an option with a value; null for a flag
    const char* help;
};

class Arguments {
public:
    // Splits words into options and positional arguments. Returns an error
    // message, or an empty string on success. Words after "--" and words not
    // starting with "--" (such as -16) are positional.
    std::string Parse(const std::vector<OptionDef>& allowed,
                      const std::vector<std::string>& words);
    bool Has(const std::string& name) const;
    const std::string& Value(const std::string& name) const;  // empty when absent
    // The option's whole decimal number, or fallback when absent; false when
    // the value is not a number from 0 to 4294967295.
    bool Unsigned(const std::string& name, unsigned int fallback, unsigned int* value) const;
    const std::vector<std::string>& Positional() const { return m_positional; }

private:
    std::map<std::string, std::string> m_options;
    std::vector<std::string> m_positional;
};

// Parses a whole unsigned decimal number below 2^32; false when text is not one.
bool ParseUnsigned(const std::string& text, unsigned int* value);

#endif
