// The command line of the tools: each tool declares its options once in a
// table, which the parser reads and the help text is made from.
#ifndef PELK_TOOLS_OPTIONS_H
#define PELK_TOOLS_OPTIONS_H

#include <map>
#include <string>
#include <vector>

// Exit status of every wrong command line.
constexpr int kUsageExitStatus = 2;

struct OptionDef {
    const char* name;   // "--count"
    char letter;        // 'c' for -c; 0 when the option has no short form
    const char* value;  // "N" for an option with a value; null for a flag
    const char* help;   // one sentence for the help text
};

// The options every tool and command takes.
extern const OptionDef kHelpOption;
extern const OptionDef kVersionOption;

class Arguments {
public:
    // Reads words: "--name", "--name VALUE", "--name=VALUE", "-x", "-x VALUE"
    // for the allowed options; "--" ends the options; every other word
    // ("-", "-16", "TEXT") is positional. With stopAtPositional the first
    // positional word and all after it are positional (a tool's own options
    // before its command). Every word is read, also after a wrong one;
    // returns the first problem ("unknown option --bogus"), or "".
    std::string Parse(const std::vector<OptionDef>& allowed, const std::vector<std::string>& words,
                      bool stopAtPositional = false);
    bool Has(const std::string& name) const;
    const std::string& Value(const std::string& name) const;  // empty when absent
    // Every value of an option given more than once, in order.
    const std::vector<std::string>& Values(const std::string& name) const;
    // The option's whole decimal number from low to high (unit after the
    // range in the message), or fallback when absent. Returns "", or a
    // message naming the option, its range and the wrong value.
    std::string Number(const std::string& name, unsigned long long fallback, unsigned long long low,
                       unsigned long long high, const char* unit, unsigned long long* value) const;
    std::string Number(const std::string& name, unsigned int fallback, unsigned int low,
                       unsigned int high, const char* unit, unsigned int* value) const;
    const std::vector<std::string>& Positional() const { return m_positional; }

private:
    std::string Take(const OptionDef& option, const std::string& word,
                     const std::string* inlineValue, const std::vector<std::string>& words,
                     size_t* at);

    std::map<std::string, std::string> m_options;  // the last value of each
    std::map<std::string, std::vector<std::string>> m_values;
    std::vector<std::string> m_positional;
};

// A whole decimal number from 0 to high, digits only; false when text is not one.
bool ParseWholeNumber(const std::string& text, unsigned long long high, unsigned long long* value);
bool ParseUnsigned(const std::string& text, unsigned int* value);

// A usage error's text, naming where help is: "--count needs a value N (see
// pelk ping --help)" for helpCall "pelk ping".
std::string UsageText(const std::string& problem, const std::string& helpCall);
// Prints "tool: <UsageText>" on standard error; returns kUsageExitStatus.
int ReportUsage(const char* tool, const std::string& problem, const std::string& helpCall);

#endif
