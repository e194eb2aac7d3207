// msg2pst convert SRC OUT.pst, and msg2pst convert --multiple ROOT OUTDIR
// [NAME...]: the wizard's conversion run without windows. The engine runs as
// it does under the status window; the window is a progress line on the
// terminal and the message boxes are printed. Exit 0 only when every message
// file was converted, 1 when some were not, 2 for a wrong command line or a
// source, root or output folder that does not exist.
//
// On a terminal the progress is a bar redrawn in place; otherwise (a log, a
// pipe) one plain line per tenth of each folder's files.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "engine/conversion.h"

namespace tavrin::cli {
namespace {

namespace sfs = std::filesystem;
using namespace tavrin::engine;

struct TerminalView : StatusView {
    std::string c1, prog, frame;
    float value = 0;
    bool loaded = true;
    bool tty = ::isatty(STDERR_FILENO) == 1;
    // The last tenth printed as a plain line; kIdle outside a folder
    // conversion (the window's start state prints nothing).
    static constexpr int kIdle = -2;
    int lastTenth = kIdle;
    bool barShown = false;    // a bar line is open (no newline yet)
    void setCount1(const std::string& c) override { c1 = c; }
    std::string count1() const override { return c1; }
    void setCurrentDbx(const std::string&) override {}
    void setProgressLabel(const std::string& c) override {
        prog = c;
        if (lastTenth == kIdle) return;
        if (tty) {
            const int filled = std::clamp(static_cast<int>(value / 5), 0, 20);
            std::fprintf(stderr, "\r[%-20s] %s", std::string(static_cast<size_t>(filled), '#').c_str(), c.c_str());
            barShown = true;
            return;
        }
        const int tenth = std::clamp(static_cast<int>(value / 10), 0, 10);
        if (tenth == lastTenth) return;
        lastTenth = tenth;
        std::fprintf(stderr, "%s %s\n", frame.c_str(), c.c_str());
    }
    std::string progressLabel() const override { return prog; }
    void setFrameCaption(const std::string& c) override { frame = c; }
    // Called once per folder conversion, before its first file.
    void setProgressRange(int, int) override { lastTenth = -1; }
    void setProgressValue(float v) override { value = v; }
    float progressValue() const override { return value; }
    void setButtonEnabled(Button, bool) override {}
    void setButtonVisible(Button, bool) override {}
    void setWindowTitle(const std::string&) override {}
    bool deleteSourceTicked() const override { return false; }
    void unload() override { loaded = false; }
    bool isLoaded() const override { return loaded; }
};

struct TerminalJob : JobView {
    bool single = true;
    std::string source, output;
    std::vector<std::pair<std::string, std::string>> rows;
    bool optSingle() const override { return single; }
    std::string sourceMailbox() const override { return source; }
    int rowCount() const override { return static_cast<int>(rows.size()); }
    bool rowChecked(int) const override { return true; }
    std::string rowText(int r) const override { return rows[static_cast<size_t>(r - 1)].first; }
    std::string rowSubItemText(int r) const override { return rows[static_cast<size_t>(r - 1)].second; }
    void setRowForeColor(int, int, int, int) override {}
    void setRowBold(int, bool) override {}
    std::string outputFolder() const override { return output; }
};

struct TerminalHost : Host {
    std::string out;
    TerminalView* view = nullptr;
    void yield() override {}
    MsgResult messageBox(const std::string& text, const std::string& title, MsgButtons buttons, MsgIcon) override {
        // The boxes' line breaks are CR LF; a terminal wants LF alone.
        std::string t;
        t.reserve(text.size());
        for (size_t i = 0; i < text.size(); ++i)
            if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) t += text[i];
        if (view && view->barShown) {
            std::fputc('\n', stderr);
            view->barShown = false;
        }
        std::fprintf(stderr, "%s:\n%s\n", title.c_str(), t.c_str());
        return buttons == MsgButtons::YesNo ? MsgResult::No : MsgResult::Ok;
    }
    std::optional<std::string> saveDialog(const std::string&, const std::string&, bool& replace) override {
        replace = false;
        return out;
    }
};

int runConvert(int argc, char** argv) {
    std::vector<std::string> args;
    bool multiple = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--multiple") multiple = true;
        else args.push_back(a);
    }
    if (args.size() < 2 || (!multiple && args.size() != 2)) {
        std::fprintf(stderr, "usage: msg2pst convert SRC OUT.pst\n       msg2pst convert --multiple ROOT OUTDIR [NAME...]\n");
        return 2;
    }
    TerminalView view;
    TerminalJob job;
    TerminalHost host;
    host.view = &view;
    std::error_code ec;
    auto needFolder = [&](const std::string& path, const char* what) {
        if (sfs::is_directory(path, ec)) return true;
        std::fprintf(stderr, "msg2pst convert: the %s %s does not exist.\n", what, path.c_str());
        return false;
    };
    if (!multiple) {
        std::string src = args[0];
        while (src.size() > 1 && src.back() == '/') src.pop_back();
        if (!needFolder(src, "source folder")) return 2;
        const sfs::path parent = sfs::path(args[1]).parent_path();
        if (!parent.empty() && !needFolder(parent.string(), "output folder")) return 2;
        job.source = src;
        host.out = args[1];
    } else {
        job.single = false;
        job.output = args[1];
        if (!needFolder(args[0], "root folder") || !needFolder(args[1], "output folder")) return 2;
        std::vector<std::string> names(args.begin() + 2, args.end());
        for (const std::string& n : names)
            if (!needFolder((sfs::path(args[0]) / n).string(), "sub-folder")) return 2;
        if (names.empty()) {
            for (auto& d : sfs::directory_iterator(args[0], ec))
                if (d.is_directory(ec)) names.push_back(d.path().filename().string());
            std::sort(names.begin(), names.end());
        }
        for (auto& n : names) job.rows.emplace_back(n, (sfs::path(args[0]) / n).string());
    }
    ConversionEngine engine(view, job, host);
    engine.Form_Load();
    engine.CmdStartConversion_Click();
    return engine.lastRun().allConverted() ? 0 : 1;
}

const CommandRegistration reg("convert", "convert SRC OUT.pst | convert --multiple ROOT OUTDIR [NAME...]",
                              "convert a folder of .msg files into a new PST", runConvert);

}  // namespace
}  // namespace tavrin::cli
