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
        const OptionDef* known = nullptr;
        for (const OptionDef& candidate : allowed) {
            known = word == candidate.name ? &candidate : known;
        }
        if (known == nullptr) {
            return "unknown option " + word;
        }
        if (known->value == nullptr) {
            m_options[word];
        } else if (i + 1 < words.size()) {
            m_options[word] = words[++i];
        } else {
            return word + " needs a value " + known->value;
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

bool Arguments::Unsigned(const std::string& name, unsigned int fallback,
                         unsigned int* value) const {
    if (!Has(name)) {
        *value = fallback;
        return true;
    }
    return ParseUnsigned(Value(name), value);
}
