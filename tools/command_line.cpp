#include "tools/command_line.h"

#include <algorithm>

namespace tools {

const std::string& Arguments::required(const std::string& name) const {
    const auto found = options.find(name);
    if (found == options.end()) throw UsageError("missing --" + name);
    return found->second;
}

std::string Arguments::optional(const std::string& name) const {
    const auto found = options.find(name);
    return found == options.end() ? std::string() : found->second;
}

Arguments parse_arguments(const CommandSyntax& syntax, int argc, char** argv, int first) {
    const auto listed = [](const std::vector<std::string>& names, const std::string& name) {
        return std::find(names.begin(), names.end(), name) != names.end();
    };
    // Help wins over every other mistake on the line.
    for (int i = first; i < argc; ++i) {
        const std::string word = argv[i];
        if (word == "--help" || word == "-h") throw HelpRequested{};
    }
    Arguments arguments;
    for (int i = first; i < argc; ++i) {
        const std::string word = argv[i];
        if (word.rfind("--", 0) == 0 && word.size() > 2) {
            const std::string name = word.substr(2);
            if (listed(syntax.switches, name)) {
                if (!arguments.switches.insert(name).second) throw UsageError("repeated option " + word);
                continue;
            }
            if (!listed(syntax.options, name)) throw UsageError("unknown option " + word);
            if (i + 1 >= argc) throw UsageError("missing value for " + word);
            if (!arguments.options.emplace(name, argv[++i]).second) throw UsageError("repeated option " + word);
        } else if (word.size() > 1 && word[0] == '-') {
            throw UsageError("unknown option " + word);
        } else if (syntax.takesFile && arguments.positional.empty()) {
            arguments.positional = word;
        } else {
            throw UsageError("unexpected argument " + word);
        }
    }
    if (syntax.takesFile && arguments.positional.empty()) throw UsageError("missing file argument");
    return arguments;
}

}  // namespace tools
