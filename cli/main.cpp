// msg2pst: the command-line companion of the wizard.
//
// On Windows the arguments come in as UTF-16 (wmain) and are handed on as
// UTF-8, the program's own text form, so that paths in any script work;
// standard output and error are binary (lines end in LF alone, as on every
// system), and a console shows them as UTF-8.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#endif

#include "cli/commands.h"
#include "fs/text.h"

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
        "Converts Outlook message files (.msg) and Internet mail (.eml files,\n"
        ".mbox files) into Outlook data files (.pst), and inspects and verifies them.\n"
        "\n"
        "Commands:");
    auto commands = tavrin::cli::commandRegistry();
    std::sort(commands.begin(), commands.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
    for (const auto& c : commands)
        if (!c.summary.empty()) std::printf("  %-44s %s\n", c.usage.c_str(), c.summary.c_str());
    std::puts(
        "\n"
        "Options:\n"
        "  --help       show this help and exit\n"
        "  --version    show the version and exit");
}

}  // namespace

static int run(int argc, char** argv) {
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

#ifdef _WIN32
int wmain(int argc, wchar_t** wargv) {
    std::vector<std::string> args;
    for (int i = 0; i < argc; ++i) {
        const std::wstring_view w(wargv[i]);
        args.push_back(tavrin::text::toUtf8(std::u16string(w.begin(), w.end())));
    }
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::_setmode(::_fileno(stdout), _O_BINARY);
    ::_setmode(::_fileno(stderr), _O_BINARY);
    const UINT oldOutput = GetConsoleOutputCP();
    SetConsoleOutputCP(CP_UTF8);
    const int status = run(argc, argv.data());
    std::fflush(stdout);
    std::fflush(stderr);
    if (oldOutput != 0) SetConsoleOutputCP(oldOutput);
    return status;
}
#else
int main(int argc, char** argv) { return run(argc, argv); }
#endif
