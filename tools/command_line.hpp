// The tools' command lines, read by getopt_long: long options, each given at
// most once, with a value (--name VALUE or --name=VALUE) or without one, and
// operands only where a tool takes them. What does not fit is a problem, for
// the tool to report as a usage error.
#pragma once

#include <getopt.h>

#include <map>
#include <string>
#include <vector>

struct ToolOption {
    const char* name;
    bool takes_value;
};

class CommandLine {
  public:
    // Reads argv[1] to argv[argc - 1]; argv[0] is the program or its command.
    CommandLine(int argc, char** argv, const std::vector<ToolOption>& options, bool takes_operands = false) {
        constexpr int FIRST_OPTION = 256; // above what getopt_long returns of its own
        std::vector<option> table;
        for (const ToolOption& tool_option : options)
            table.push_back({tool_option.name, tool_option.takes_value ? required_argument : no_argument,
                             nullptr, FIRST_OPTION + int(table.size())});
        table.push_back({});
        optind = 0; // from the start, as if no command line had been read before
        opterr = 0; // the problems are the tool's to say
        // "-": operands come back where they stand, as 1; ":": a missing value comes back as ':'.
        for (int found;
             problem_.empty() && (found = getopt_long(argc, argv, "-:", table.data(), nullptr)) != -1;) {
            const std::string word = argv[optind - 1];
            if (found == 1 && takes_operands) {
                operands_.push_back(optarg);
            } else if (found == 1) {
                problem_ = "unexpected argument '" + word + "'";
            } else if (found == ':') {
                problem_ = word + " needs a value";
            } else if (found == '?' && optopt >= FIRST_OPTION) {
                problem_ = std::string("--") + options[optopt - FIRST_OPTION].name + " takes no value";
            } else if (found == '?') {
                problem_ = "unknown option '" + word + "'";
            } else {
                const std::string name = options[found - FIRST_OPTION].name;
                if (values_.count(name)) problem_ = "--" + name + " is given twice";
                values_[name] = optarg ? optarg : "";
            }
        }
        // What follows "--" is operands.
        for (; problem_.empty() && optind < argc; ++optind) {
            if (!takes_operands) problem_ = "unexpected argument '" + std::string(argv[optind]) + "'";
            operands_.push_back(argv[optind]);
        }
    }

    // Empty when the command line fits.
    const std::string& problem() const { return problem_; }
    bool has(const std::string& name) const { return values_.count(name) != 0; }
    // The option's value, or empty where it was not given.
    std::string value(const std::string& name) const { return has(name) ? values_.at(name) : std::string(); }
    const std::vector<std::string>& operands() const { return operands_; }

  private:
    std::map<std::string, std::string> values_;
    std::vector<std::string> operands_;
    std::string problem_;
};
