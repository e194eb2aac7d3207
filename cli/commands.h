// msg2pst sub-commands. Each command lives in its own cli/cmd_*.cpp and
// registers itself with a static CommandRegistration, so adding a command
// touches no other file.
#pragma once

#include <string>
#include <vector>

namespace tavrin::cli {

// Runs a command with its own arguments (argv[0] is the command's name).
// Returns the process exit status.
using CommandFn = int (*)(int argc, char** argv);

struct Command {
    std::string name;
    std::string usage;    // "dump-msg FILE..."
    std::string summary;  // one line for --help; empty: not listed there
    CommandFn run = nullptr;
};

std::vector<Command>& commandRegistry();

struct CommandRegistration {
    CommandRegistration(std::string name, std::string usage, std::string summary, CommandFn run) {
        commandRegistry().push_back(Command{std::move(name), std::move(usage), std::move(summary), run});
    }
};

}  // namespace tavrin::cli
