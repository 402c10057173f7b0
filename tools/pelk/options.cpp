#include "tools/pelk/options.h"

#include <cerrno>
#include <cstdlib>

bool ParseUnsigned(const std::string& text, unsigned int* value) {
    if (text.empty() || text[0] < '0' || text[0] > '9') {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    const unsigned long long parsed = std::strtoull(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || parsed > 0xFFFFFFFFull) {
        return false;
    }
    *value = static_cast<unsigned int>(parsed);
    return true;
}

std::string Arguments::Parse(const std::vector<OptionDef>& allowed,
                             const std::vector<std::string>& words) {
    for (size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (word == "--") {
            m_positional.insert(m_positional.end(), words.begin() + i + 1, words.end());
            break;
        }
        if (word.compare(0, 2, "--") != 0) {
            m_positional.push_back(word);
            continue;
        }
        const size_t equals = word.find('=');
        const std::string name = word.substr(0, equals);
        const OptionDef* known = nullptr;
        for (const OptionDef& candidate : allowed) {
            known = name == candidate.name ? &candidate : known;
        }
        if (known == nullptr) {
            return "unknown option " + name;
        }
        if (known->value == nullptr && equals != std::string::npos) {
            return name + " takes no value";
        } else if (known->value == nullptr) {
            m_options[name];
        } else if (equals != std::string::npos) {
            m_options[name] = word.substr(equals + 1);
        } else if (i + 1 < words.size()) {
            m_options[name] = words[++i];
        } else {
            return name + " needs a value " + known->value;
        }
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

std::string Arguments::Number(const std::string& name, unsigned int fallback, unsigned int low,
                              unsigned int high, const char* unit, unsigned int* value) const {
    if (!Has(name)) {
        *value = fallback;
        return "";
    }
    if (ParseUnsigned(Value(name), value) && *value >= low && *value <= high) {
        return "";
    }
    return name + " takes " + std::to_string(low) + " to " + std::to_string(high) +
           (*unit ? " " : "") + unit + ", not \"" + Value(name) + "\"";
}
