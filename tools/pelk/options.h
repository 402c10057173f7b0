// Command-line options: "--name", "--name VALUE" or "--name=VALUE" words,
// the rest positional.
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
    // The option's whole decimal number from low to high (unit after the
    // range in the message), or fallback when absent. Returns an empty
    // string, or a message naming the option, its range and the wrong value.
    std::string Number(const std::string& name, unsigned int fallback, unsigned int low,
                       unsigned int high, const char* unit, unsigned int* value) const;
    const std::vector<std::string>& Positional() const { return m_positional; }

private:
    std::map<std::string, std::string> m_options;
    std::vector<std::string> m_positional;
};

// Parses a whole unsigned decimal number below 2^32; false when text is not one.
bool ParseUnsigned(const std::string& text, unsigned int* value);

#endif
