#pragma once

// The release tool's command lines: one subcommand, its positional argument and --name value
// options (each once), plus a few --name switches; --help or -h anywhere asks for the help.

#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace tools {

// A wrong command line; main prints the message and the command's usage on stderr, exit 2.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// --help or -h was given; main prints the command's help on stdout, exit 0.
struct HelpRequested {};

struct CommandSyntax {
    std::vector<std::string> options;   // --name VALUE
    std::vector<std::string> switches;  // --name
    bool takesFile = true;              // one positional argument
};

struct Arguments {
    std::string positional;
    std::map<std::string, std::string> options;
    std::set<std::string> switches;

    const std::string& required(const std::string& name) const;
    // Empty when the option was not given.
    std::string optional(const std::string& name) const;
    bool has(const std::string& name) const { return options.count(name) != 0 || switches.count(name) != 0; }
};

// Parses argv[first..argc). Throws HelpRequested or UsageError.
Arguments parse_arguments(const CommandSyntax& syntax, int argc, char** argv, int first);

}  // namespace tools
