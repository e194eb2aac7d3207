// msg2pst: the command-line companion of the wizard.
#include <cstdio>
#include <cstring>
#include <string>

namespace {

void printHelp() {
    std::puts(
        "Usage: msg2pst COMMAND [ARGS...]\n"
        "\n"
        "Converts Outlook message files (.msg) into Outlook data files (.pst).\n"
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
    std::fprintf(stderr, "msg2pst: unknown command '%s' (try --help)\n", cmd.c_str());
    return 2;
}
