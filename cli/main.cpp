// msg2pst: the command-line companion of the wizard.
#include <algorithm>
#include <cstdio>
#include <string>

#include "cli/commands.h"

namespace tavrin::cli {

std::vector<Command>& commandRegistry() {
    static std::vector<Command> commands;
    return commands;
}

}  // namespace tavrin::cli

namespace {

void printHelp() {
    std::puts(
        "Usage: msg2pst COMMAND [ARGS...]\n"
        "\n"
        "Converts Outlook message files (.msg) into Outlook data files (.pst),\n"
        "and inspects and verifies both.\n"
        "\n"
        "Commands:");
    auto commands = tavrin::cli::commandRegistry();
    std::sort(commands.begin(), commands.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
    for (const auto& c : commands) std::printf("  %-44s %s\n", c.usage.c_str(), c.summary.c_str());
    std::puts(
        "\n"
        "Options:\n"
        "  --help       show this help and exit\n"
        "  --version    show the version and exit");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        printHelp();
        return 2;
    }
    const std::string cmd = argv[1];
    if (cmd == "--help" || cmd == "-h" || cmd == "help") {
        printHelp();
        return 0;
    }
    if (cmd == "--version") {
        std::printf("msg2pst %s\n", TAVRIN_VERSION);
        return 0;
    }
    for (const auto& c : tavrin::cli::commandRegistry())
        if (c.name == cmd) return c.run(argc - 1, argv + 1);
    std::fprintf(stderr, "msg2pst: unknown command '%s' (try --help)\n", cmd.c_str());
    return 2;
}
