#include "tools/common/options.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

const OptionDef kHelpOption = {"--help", 'h', nullptr, "show this help"};
const OptionDef kVersionOption = {"--version", 'V', nullptr, "show the version"};

namespace {

// "-16" and "-" are words, not options.
bool IsOption(const std::string& word) {
    return word.size() >= 2 && word[0] == '-' && (word[1] < '0' || word[1] > '9');
}

const OptionDef* Find(const std::vector<OptionDef>& allowed, const std::string& name) {
    for (const OptionDef& option : allowed) {
        if (name == option.name ||
            (option.letter != 0 && name.size() == 2 && name[1] == option.letter)) {
            return &option;
        }
    }
    return nullptr;
}

}  // namespace

bool ParseWholeNumber(const std::string& text, unsigned long long high, unsigned long long* value) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    errno = 0;
    const unsigned long long parsed = std::strtoull(text.c_str(), nullptr, 10);
    if (errno != 0 || parsed > high) {
        return false;
    }
    *value = parsed;
    return true;
}

bool ParseUnsigned(const std::string& text, unsigned int* value) {
    unsigned long long wide = 0;
    if (!ParseWholeNumber(text, 0xFFFFFFFFull, &wide)) {
        return false;
    }
    *value = static_cast<unsigned int>(wide);
    return true;
}

std::string Arguments::Parse(const std::vector<OptionDef>& allowed,
                             const std::vector<std::string>& words, bool stopAtPositional) {
    std::string problem;
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (word == "--" || (!IsOption(word) && stopAtPositional)) {
            m_positional.insert(m_positional.end(), words.begin() + i + (word == "--"),
                                words.end());
            break;
        }
        if (!IsOption(word)) {
            m_positional.push_back(word);
            continue;
        }
        // Only a long option carries its value after '='.
        const size_t equals = word.compare(0, 2, "--") == 0 ? word.find('=') : std::string::npos;
        const std::string name = word.substr(0, equals);
        const std::string inlineValue = equals == std::string::npos ? "" : word.substr(equals + 1);
        const OptionDef* known = Find(allowed, name);
        const std::string wrong =
            known == nullptr
                ? "unknown option " + name
                : Take(*known, name, equals == std::string::npos ? nullptr : &inlineValue, words,
                       &i);
        problem = problem.empty() ? wrong : problem;
    }
    return problem;
}

// Stores the option under its long name, with the value after '=' or in
// the next word; returns a problem or "".
std::string Arguments::Take(const OptionDef& option, const std::string& word,
                            const std::string* inlineValue, const std::vector<std::string>& words,
                            size_t* at) {
    if (option.value == nullptr) {
        if (inlineValue != nullptr) {
            return word + " takes no value";
        }
        m_options[option.name];
    } else if (inlineValue != nullptr) {
        m_options[option.name] = *inlineValue;
    } else if (*at + 1 < words.size()) {
        m_options[option.name] = words[++*at];
    } else {
        return word + " needs a value " + option.value;
    }
    if (option.value != nullptr) {
        m_values[option.name].push_back(m_options[option.name]);
    }
    return "";
}

bool Arguments::Has(const std::string& name) const {
    return m_options.count(name) != 0;
}

const std::string& Arguments::Value(const std::string& name) const {
    static const std::string kNone;
    auto found = m_options.find(name);
    return found == m_options.end() ? kNone : found->second;
}

const std::vector<std::string>& Arguments::Values(const std::string& name) const {
    static const std::vector<std::string> kNone;
    auto found = m_values.find(name);
    return found == m_values.end() ? kNone : found->second;
}

std::string Arguments::Number(const std::string& name, unsigned long long fallback,
                              unsigned long long low, unsigned long long high, const char* unit,
                              unsigned long long* value) const {
    if (!Has(name)) {
        *value = fallback;
        return "";
    }
    if (ParseWholeNumber(Value(name), high, value) && *value >= low) {
        return "";
    }
    return name + " takes " + std::to_string(low) + " to " + std::to_string(high) +
           (*unit ? " " : "") + unit + ", not \"" + Value(name) + "\"";
}

std::string Arguments::Number(const std::string& name, unsigned int fallback, unsigned int low,
                              unsigned int high, const char* unit, unsigned int* value) const {
    unsigned long long wide = 0;
    const std::string wrong = Number(name, static_cast<unsigned long long>(fallback),
                                     static_cast<unsigned long long>(low),
                                     static_cast<unsigned long long>(high), unit, &wide);
    *value = static_cast<unsigned int>(wide);
    return wrong;
}

std::string UsageText(const std::string& problem, const std::string& helpCall) {
    return problem + " (see " + helpCall + " --help)";
}

int ReportUsage(const char* tool, const std::string& problem, const std::string& helpCall) {
    std::fflush(stdout);  // keeps the message after the lines before it
    std::fprintf(stderr, "%s: %s\n", tool, UsageText(problem, helpCall).c_str());
    return kUsageExitStatus;
}
