#include "tools/common/help.h"

#include <algorithm>
#include <sstream>

#include "tools/common/tool_version.h"

namespace {

constexpr size_t kLineWidth = 79;
// A longer call has its text on the next line.
constexpr size_t kMaxCallWidth = 26;

// "-c, --count N", or "    --selector1 N" without a short form.
std::string OptionCall(const OptionDef& option) {
    std::string call = option.letter != 0 ? std::string("-") + option.letter + ", " : "    ";
    call += option.name;
    return option.value != nullptr ? call + " " + option.value : call;
}

// Prints text word by word from column `at`, going on at `column` on each
// further line.
void PrintWrapped(FILE* to, const std::string& text, size_t column, size_t at) {
    std::istringstream words(text);
    std::string word;
    for (bool first = true; words >> word; first = false) {
        if (!first && at + 1 + word.size() > kLineWidth) {
            std::fprintf(to, "\n%*s", static_cast<int>(column), "");
            at = column;
        } else if (!first) {
            std::fputc(' ', to);
            ++at;
        }
        std::fputs(word.c_str(), to);
        at += word.size();
    }
    std::fputc('\n', to);
}

void PrintSection(FILE* to, const char* title, const std::vector<HelpEntry>& entries,
                  size_t column) {
    if (entries.empty()) {
        return;
    }
    std::fprintf(to, "\n%s\n", title);
    for (const HelpEntry& entry : entries) {
        std::fprintf(to, "  %s", entry.call.c_str());
        size_t at = 2 + entry.call.size();
        if (at >= column) {
            std::fputc('\n', to);
            at = 0;
        }
        std::fprintf(to, "%*s", static_cast<int>(column - at), "");
        PrintWrapped(to, entry.text, column, column);
    }
}

}  // namespace

void PrintHelp(FILE* to, const HelpPage& page) {
    for (size_t i = 0; i < page.usage.size(); ++i) {
        std::fprintf(to, "%s%s\n", i == 0 ? "Usage: " : "       ", page.usage[i].c_str());
    }
    std::fputc('\n', to);
    std::istringstream description(page.description);
    for (std::string line; std::getline(description, line);) {
        if (line.size() > kLineWidth) {
            PrintWrapped(to, line, 0, 0);
        } else {
            std::fprintf(to, "%s\n", line.c_str());
        }
    }
    std::vector<HelpEntry> options;
    for (const OptionDef& option : page.options) {
        options.push_back({OptionCall(option), option.help});
    }
    std::vector<HelpEntry> all = page.commands;
    all.insert(all.end(), options.begin(), options.end());
    size_t width = 0;
    for (const HelpEntry& entry : all) {
        width = std::max(width, std::min(entry.call.size(), kMaxCallWidth));
    }
    const size_t column = 2 + width + 2;
    PrintSection(to, "Commands:", page.commands, column);
    PrintSection(to, "Options:", options, column);
    if (!page.examples.empty()) {
        std::fprintf(to, "\nExamples:\n");
    }
    for (const std::string& example : page.examples) {
        std::fprintf(to, "  %s\n", example.c_str());
    }
}

std::string CommandUsage(const char* tool, const char* command, const char* arguments) {
    return std::string(tool) + " " + command + " [OPTIONS]" + (*arguments ? " " : "") + arguments;
}

bool ReadProgramOptions(const char* tool, const char* libraryVersion, const HelpPage& page,
                        int argc, char** argv,
                        const std::function<std::string(const Arguments&)>& takeValues,
                        int* exitStatus) {
    Arguments args;
    std::string wrong = args.Parse(page.options, {argv + 1, argv + argc});
    *exitStatus = 0;
    if (wrong.empty() && args.Has("--help")) {
        PrintHelp(stdout, page);
        return false;
    }
    if (wrong.empty() && args.Has("--version")) {
        PrintToolVersion(tool, libraryVersion);
        return false;
    }
    if (wrong.empty()) {
        wrong = takeValues(args);
    }
    if (!wrong.empty()) {
        *exitStatus = ReportUsage(tool, wrong, tool);
        return false;
    }
    return true;
}
