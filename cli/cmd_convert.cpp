// msg2pst convert SRC OUT.pst, and msg2pst convert --multiple ROOT OUTDIR
// [NAME...]: the wizard's conversion run without windows. The engine runs as
// it does under the status window; the window is a progress line on the
// terminal and the message boxes are printed on stderr. Every file written
// is printed on stdout, one path a line.
//
// Options: --max-size SIZE (a file that would grow past SIZE goes on in
// "NAME (2).pst" and further files; 40G by default), --report FILE.csv (a
// row for every file found, written after the run), --threads N (threads
// that read message files ahead of each folder's import; as many as the
// machine has cores to spare by default, 0 for none), --jobs N (with
// --multiple: up to N sub-folders converted at the same time, each into
// its own PST; everything is still told in list order, as one after
// another would tell it: the progress and messages of each folder, the
// files written, the summary, the report's rows and the exit status),
// --add (add to OUT.pst, or to each "NAME.pst" in OUTDIR, when it exists;
// create it otherwise; without --add an existing file is refused and left
// as it is), --duplicates add|skip (with --add: a message that its store
// folder already holds is skipped and told as already present; "add" saves
// it again).
//
// Exit status: 0 when every message file was converted (with or without
// warnings); 1 when some were not, or the run was interrupted (Ctrl-C or
// SIGTERM stops it as the stop button does: the file keeps what was
// converted); 2 for a wrong command line or a source, root or output folder
// that does not exist; 3 when an output could not be written (a full disk,
// an I/O error, a read-only or vanished output folder, an existing file).
//
// On a terminal the progress is a bar redrawn in place; otherwise (a log, a
// pipe) one plain line per tenth of each folder's files.
#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cli/commands.h"
#include "engine/conversion.h"
#include "fs/console.h"
#include "fs/file_io.h"
#include "fs/mod_files.h"
#include "fs/path_parts.h"
#include "fs/path_separator.h"
#include "fs/string_array.h"
#include "fs/text.h"
#include "store/read_ahead.h"

namespace tavrin::cli {
namespace {

using namespace tavrin::engine;

constexpr char kSep = fs::kPathSeparator;

bool isFolder(const std::string& path) {
    const int32_t attributes = fs::GetPathAttributes(path);
    return attributes != -1 && (static_cast<uint32_t>(attributes) & fs::kAttrDirectory) != 0;
}

// A folder given on the command line as the engine wants it: a full path
// (on Windows the engine's calls take no relative path and no "/"), without
// trailing separators except the one of a root.
std::string folderArgument(const std::string& arg) {
    std::string path = fs::systemFullPath(arg);
    while (path.size() > 1 && path.back() == kSep && !fs::IsRootPath(path)) path.pop_back();
    return path;
}

// The folder part of a path as the user wrote it ("nodir" of "nodir/out.pst").
std::string writtenParent(const std::string& path) {
    const size_t p = fs::LastSeparatorAt(path);
    return p == std::string::npos ? std::string() : path.substr(0, p == 0 ? 1 : p);
}

// The names of the sub-folders of `root`, in ordinal order.
std::vector<std::string> subFolderNames(const std::string& root) {
    std::vector<std::string> names;
    fs::FileEntry e;
    if (fs::FindFirstEntry(root + kSep + "*", e) > 0) {
        do {
            const std::string name = fs::CutAtNull(e.Name);
            if (name != "." && name != ".." && isFolder(root + kSep + name)) names.push_back(name);
        } while (fs::FindNextEntry(e) != 0);
        fs::EndFind(e);
    }
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return text::compareOrdinal(a, b) < 0; });
    return names;
}

// Where a run's texts for stderr go: straight there, or (folders converted
// side by side) through an OrderedOutput.
using ErrSink = std::function<void(const std::string&)>;

// Flushed at once: Windows' C library keeps what is written to a stderr
// that is a file or a pipe until the buffer fills, and whoever watches
// the progress must see each line as it comes.
void toStderr(const std::string& text) {
    std::fputs(text.c_str(), stderr);
    std::fflush(stderr);
}

struct TerminalView : StatusView {
    explicit TerminalView(ErrSink sink = toStderr) : err(std::move(sink)) {}
    ErrSink err;
    std::string c1, prog, frame;
    float value = 0;
    bool loaded = true;
    bool tty = fs::StderrIsTerminal();
    // The last tenth printed as a plain line; kIdle outside a folder
    // conversion (the window's start state prints nothing).
    static constexpr int kIdle = -2;
    int lastTenth = kIdle;
    bool barShown = false;    // a bar line is open (no newline yet)
    std::string shownBar;     // what it shows
    void setCount1(const std::string& c) override { c1 = c; }
    std::string count1() const override { return c1; }
    void setCurrentDbx(const std::string&) override {}
    void setProgressLabel(const std::string& c) override {
        prog = c;
        if (lastTenth == kIdle) return;
        if (tty) {
            const int filled = std::clamp(static_cast<int>(value / 5), 0, 20);
            char bar[32];
            std::snprintf(bar, sizeof bar, "\r[%-20s] ", std::string(static_cast<size_t>(filled), '#').c_str());
            // Written when it changes (each whole percent), not for each
            // of a million small files.
            std::string line = bar + c;
            if (barShown && line == shownBar) return;
            err(line);
            shownBar = std::move(line);
            barShown = true;
            return;
        }
        const int tenth = std::clamp(static_cast<int>(value / 10), 0, 10);
        if (tenth == lastTenth) return;
        lastTenth = tenth;
        err(frame + " " + c + "\n");
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

// The boxes' line breaks are CR LF; a terminal wants LF alone.
std::string withoutCr(const std::string& text) {
    std::string t;
    t.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) t += text[i];
    return t;
}

struct TerminalHost : Host {
    std::string out;
    TerminalView* view = nullptr;
    ConversionEngine* engine = nullptr;
    bool stopAsked = false;
    // A folder converted beside others: its completion box is not told
    // (the run's summary of every folder is).
    bool quietCompletion = false;
    void yield() override {
        if (fs::Interrupted() && engine && !stopAsked) {
            stopAsked = true;
            engine->CmdStopMigration_Click();
        }
    }
    MsgResult messageBox(const MsgBox& box) override {
        if (quietCompletion && box.kind == MsgKind::Completed) return MsgResult::Ok;
        std::string shown;
        if (view && view->barShown) {
            shown += '\n';
            view->barShown = false;
        }
        // A folder whose store could not be created: one line, its cause.
        if (box.kind == MsgKind::Error) shown += "msg2pst convert: " + box.text + "\n";
        else shown += box.title + ":\n" + withoutCr(box.text) + "\n";
        (view ? view->err : ErrSink(toStderr))(shown);
        // Nobody is there to answer: only an interruption confirms a stop.
        if (box.kind == MsgKind::ConfirmStop) return fs::Interrupted() ? MsgResult::Yes : MsgResult::No;
        if (box.buttons == MsgButtons::AddReplaceCancel) return MsgResult::Cancel;
        return box.buttons == MsgButtons::YesNo ? MsgResult::No : MsgResult::Ok;
    }
    // The engine never asks about an existing file here (--add decides).
    std::optional<std::string> saveDialog(const std::string&, const std::string&) override { return out; }
};

const char* const kUsage =
    "usage: msg2pst convert [--add [--duplicates add|skip]] [--max-size SIZE] [--report FILE.csv] SRC OUT.pst\n"
    "       msg2pst convert --multiple [--add ...] [--max-size SIZE] [--report FILE.csv] ROOT OUTDIR [NAME...]\n"
    "--add: add to OUT.pst (each NAME.pst in OUTDIR) when it exists, else create it; without --add an existing\n"
    "file is refused. --duplicates: with --add, messages a folder already holds are skipped (skip, the default)\n"
    "or added again (add).\n"
    "SIZE: bytes, or a number with K, M, G or T (KB, MB, GB, TB; powers of 1024), at least 1M; 40G by default.\n"
    "Also: --threads N (threads reading message files ahead of each folder's import; 0: none; by default one\n"
    "for each core but one), --jobs N (with --multiple: up to N sub-folders converted at the same time; 1).\n";

// "0" to "256": a count. nullopt for anything else.
std::optional<int> ParseCount(const std::string& text) {
    if (text.empty() || text.size() > 3) return std::nullopt;
    int n = 0;
    for (char c : text) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return std::nullopt;
        n = n * 10 + (c - '0');
    }
    if (n > 256) return std::nullopt;
    return n;
}

// Texts of folders converted side by side, told in list order: the first
// folder not yet finished writes straight to stderr, the later ones are
// kept until it is their turn.
class OrderedOutput {
public:
    explicit OrderedOutput(size_t folders) : pending_(folders), done_(folders, false) {}
    void write(size_t folder, const std::string& text) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (folder == head_) toStderr(text);
        else pending_[folder] += text;
    }
    void finish(size_t folder) {
        std::lock_guard<std::mutex> lock(mutex_);
        done_[folder] = true;
        while (head_ < done_.size() && done_[head_]) {
            if (++head_ < done_.size()) {
                toStderr(pending_[head_]);
                pending_[head_] = std::string();
            }
        }
    }

private:
    std::mutex mutex_;
    size_t head_ = 0;
    std::vector<std::string> pending_;
    std::vector<bool> done_;
};

// The summaries of folders converted side by side, in list order, as one
// run over all of them would have made it.
RunSummary MergedSummary(std::vector<RunSummary>& parts) {
    RunSummary all;
    for (RunSummary& r : parts) {
        all.skippedFolders.insert(all.skippedFolders.end(), r.skippedFolders.begin(), r.skippedFolders.end());
        all.outputFailures.insert(all.outputFailures.end(), r.outputFailures.begin(), r.outputFailures.end());
        all.pstFiles.insert(all.pstFiles.end(), r.pstFiles.begin(), r.pstFiles.end());
        all.split = all.split || r.split;
        all.stopped = all.stopped || r.stopped;
        all.cancelled = all.cancelled || r.cancelled;
        // A record that cannot be read back makes the report fail, not a blank row.
        Status read = r.records.forEach([&](const FileRecord& f) { all.records.push_back(f); });
        if (!read) all.reportFailure = read.error().description;
        r.records.clear();
    }
    return all;
}

struct Settings {
    uint64_t maxSize = ConversionEngine::kDefaultMaxFileSize;
    std::string report;
    std::optional<int> threads;
    int jobs = 1;
    bool add = false;                       // --add
    std::optional<bool> addDuplicates;      // --duplicates add|skip
};

void applySettings(ConversionEngine& engine, const Settings& set) {
    engine.setMaxFileSize(set.maxSize);
    engine.setExistingFile(set.add ? ConversionEngine::ExistingFile::Add : ConversionEngine::ExistingFile::Refuse);
    engine.setAddDuplicates(set.addDuplicates.value_or(false));
}

int exitStatus(const RunSummary& r) {
    for (const std::string& f : r.pstFiles) std::printf("%s\n", f.c_str());
    std::fflush(stdout);
    if (!r.outputFailures.empty()) return 3;
    return r.allConverted() && r.reportFailure.empty() ? 0 : 1;
}

// One run of the engine over the job, as under the status window.
int runOne(TerminalJob& job, const std::string& out, const Settings& set) {
    TerminalView view;
    TerminalHost host;
    host.view = &view;
    host.out = out;
    ConversionEngine engine(view, job, host);
    host.engine = &engine;
    applySettings(engine, set);
    engine.setReport(set.report.empty() ? ConversionEngine::ReportMode::None : ConversionEngine::ReportMode::AtPath,
                     set.report);
    engine.setReadAheadThreads(set.threads.value_or(-1));
    fs::CatchInterruptions();
    engine.Form_Load();
    engine.CmdStartConversion_Click();
    return exitStatus(engine.lastRun());
}

// The sub-folders of a multiple-folder job, up to `set.jobs` at a time,
// each by an engine of its own; then the summary, the report and the
// completion box of them all.
int runSideBySide(const TerminalJob& job, const Settings& set) {
    const size_t n = job.rows.size();
    const unsigned threads =
        set.threads ? static_cast<unsigned>(*set.threads) : store::defaultReadAheadThreads(static_cast<unsigned>(set.jobs));
    fs::InitApiSupport();  // once, before the folders are walked side by side
    OrderedOutput output(n);
    std::vector<RunSummary> summaries(n);
    std::vector<char> started(n, 0);  // one byte each: written from several threads
    std::atomic<size_t> next{0};
    fs::CatchInterruptions();
    auto worker = [&] {
        for (;;) {
            const size_t i = next.fetch_add(1);
            if (i >= n) return;
            // After an interruption no further folder is taken up.
            if (fs::Interrupted()) {
                output.finish(i);
                continue;
            }
            started[i] = 1;
            TerminalJob one;
            one.single = false;
            one.output = job.output;
            one.rows = {job.rows[i]};
            TerminalView view([&output, i](const std::string& t) { output.write(i, t); });
            TerminalHost host;
            host.view = &view;
            host.quietCompletion = true;
            ConversionEngine engine(view, one, host);
            host.engine = &engine;
            applySettings(engine, set);
            engine.setReport(ConversionEngine::ReportMode::None);
            engine.setReadAheadThreads(static_cast<int>(threads));
            engine.Form_Load();
            engine.CmdStartConversion_Click();
            summaries[i] = engine.lastRun();
            output.finish(i);
        }
    };
    std::vector<std::thread> pool;
    for (int k = 0; k < std::min<int>(set.jobs, static_cast<int>(n)); ++k) pool.emplace_back(worker);
    for (std::thread& t : pool) t.join();
    std::vector<RunSummary> taken;
    bool leftOut = false;
    for (size_t i = 0; i < n; ++i) {
        if (started[i]) taken.push_back(std::move(summaries[i]));
        else leftOut = true;
    }
    RunSummary all = MergedSummary(taken);
    // Folders not taken up after a stop: the run was stopped.
    if (leftOut) all.stopped = true;
    if (!set.report.empty()) {
        Status written = WriteReport(set.report, all.records, true);
        if (written.ok()) all.reportPath = set.report;
        else all.reportFailure = written.error().description;
    }
    TerminalHost host;
    host.messageBox({MsgKind::Completed, CompletionText(all, false), "Completed", MsgButtons::Ok, CompletionIcon(all)});
    return exitStatus(all);
}

// "5M", "5MB", "40G", "1.5G", "1048576": bytes, or a number with a unit of
// powers of 1024. nullopt for anything else.
std::optional<uint64_t> ParseSize(const std::string& text) {
    size_t i = 0;
    uint64_t whole = 0;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
        if (whole > (uint64_t(1) << 50)) return std::nullopt;
        whole = whole * 10 + static_cast<uint64_t>(text[i++] - '0');
    }
    if (i == 0) return std::nullopt;
    // A decimal fraction ("1.5G"), to a thousandth.
    uint64_t thousandths = 0;
    if (i < text.size() && text[i] == '.') {
        ++i;
        const size_t start = i;
        for (uint64_t scale = 100; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i, scale /= 10)
            thousandths += static_cast<uint64_t>(text[i] - '0') * scale;
        if (i == start) return std::nullopt;
    }
    std::string unit;
    for (; i < text.size(); ++i) unit += static_cast<char>(std::toupper(static_cast<unsigned char>(text[i])));
    int shift = -1;
    if (unit.empty() || unit == "B") shift = 0;
    const char* units = "KMGT";
    for (int k = 0; k < 4; ++k)
        for (const std::string& form : {std::string(1, units[k]), std::string(1, units[k]) + "B",
                                        std::string(1, units[k]) + "IB"})
            if (unit == form) shift = 10 * (k + 1);
    if (shift < 0 || (shift == 0 && thousandths != 0)) return std::nullopt;
    if (shift > 0 && whole >= (uint64_t(1) << (63 - shift))) return std::nullopt;
    return (whole << shift) + ((thousandths << shift) / 1000);
}

int runConvert(int argc, char** argv) {
    std::vector<std::string> args;
    bool multiple = false;
    Settings set;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        // "--name VALUE" or "--name=VALUE".
        auto value = [&](const char* name, std::string& out) {
            const std::string n = name;
            if (a == n && i + 1 < argc) {
                out = argv[++i];
                return true;
            }
            if (a.rfind(n + "=", 0) == 0) {
                out = a.substr(n.size() + 1);
                return true;
            }
            return false;
        };
        std::string v;
        if (a == "--multiple") {
            multiple = true;
        } else if (a == "--add") {
            set.add = true;
        } else if (value("--duplicates", v)) {
            if (v != "add" && v != "skip") {
                std::fprintf(stderr, "msg2pst convert: --duplicates needs add or skip, not '%s'.\n", v.c_str());
                return 2;
            }
            set.addDuplicates = v == "add";
        } else if (value("--max-size", v)) {
            auto size = ParseSize(v);
            if (!size || *size < (uint64_t(1) << 20)) {
                std::fprintf(stderr, "msg2pst convert: --max-size needs a size of at least 1M, such as 5M or 40G, not '%s'.\n",
                             v.c_str());
                return 2;
            }
            set.maxSize = *size;
        } else if (value("--report", v)) {
            if (v.empty()) {
                std::fprintf(stderr, "%s", kUsage);
                return 2;
            }
            set.report = v;
        } else if (value("--threads", v)) {
            auto n = ParseCount(v);
            if (!n) {
                std::fprintf(stderr, "msg2pst convert: --threads needs a number from 0 to 256, not '%s'.\n", v.c_str());
                return 2;
            }
            set.threads = *n;
        } else if (value("--jobs", v)) {
            auto n = ParseCount(v);
            if (!n || *n < 1) {
                std::fprintf(stderr, "msg2pst convert: --jobs needs a number from 1 to 256, not '%s'.\n", v.c_str());
                return 2;
            }
            set.jobs = *n;
        } else if (a.size() > 2 && a.rfind("--", 0) == 0) {
            std::fprintf(stderr, "msg2pst convert: unknown option '%s'.\n%s", a.c_str(), kUsage);
            return 2;
        } else {
            args.push_back(a);
        }
    }
    if (args.size() < 2 || (!multiple && args.size() != 2)) {
        std::fprintf(stderr, "%s", kUsage);
        return 2;
    }
    if (set.addDuplicates && !set.add) {
        std::fprintf(stderr, "msg2pst convert: --duplicates goes with --add.\n%s", kUsage);
        return 2;
    }
    if (!multiple && set.jobs != 1) {
        std::fprintf(stderr, "msg2pst convert: --jobs goes with --multiple.\n%s", kUsage);
        return 2;
    }
    TerminalJob job;
    std::string out;
    // A folder that is not there is named as the user wrote it.
    auto needFolder = [&](const std::string& path, const char* what, const std::string& written) {
        if (isFolder(path)) return true;
        std::fprintf(stderr, "msg2pst convert: the %s %s does not exist.\n", what, written.c_str());
        return false;
    };
    if (!multiple) {
        const std::string src = folderArgument(args[0]);
        if (!needFolder(src, "source folder", args[0])) return 2;
        out = fs::systemFullPath(args[1]);
        std::string parent = fs::GetParentPath(out);
        if (parent.size() > 1 && parent.back() == kSep && !fs::IsRootPath(parent)) parent.pop_back();
        if (!parent.empty() && !needFolder(parent, "output folder", writtenParent(args[1]))) return 2;
        job.source = src;
    } else {
        job.single = false;
        const std::string root = folderArgument(args[0]);
        job.output = folderArgument(args[1]);
        if (!needFolder(root, "root folder", args[0]) || !needFolder(job.output, "output folder", args[1])) return 2;
        const std::string prefix = root.back() == kSep ? root : root + kSep;
        std::vector<std::string> names(args.begin() + 2, args.end());
        std::string writtenRoot = args[0];
        while (writtenRoot.size() > 1 && (writtenRoot.back() == '/' || writtenRoot.back() == kSep)) writtenRoot.pop_back();
        for (const std::string& n : names)
            if (!needFolder(prefix + n, "sub-folder", writtenRoot + "/" + n)) return 2;
        if (names.empty()) names = subFolderNames(root);
        for (auto& n : names) job.rows.emplace_back(n, prefix + n);
    }
    if (!set.report.empty()) {
        const std::string written = set.report;
        set.report = fs::systemFullPath(set.report);
        std::string parent = fs::GetParentPath(set.report);
        if (parent.size() > 1 && parent.back() == kSep && !fs::IsRootPath(parent)) parent.pop_back();
        if (!parent.empty() && !needFolder(parent, "report's folder", writtenParent(written))) return 2;
    }
    if (multiple && set.jobs > 1 && job.rows.size() > 1) return runSideBySide(job, set);
    return runOne(job, out, set);
}

const CommandRegistration reg("convert", "convert [OPTIONS] SRC OUT.pst | --multiple ROOT OUTDIR [NAME...]",
                              "convert folders of .msg, .eml and .mbox files into new PSTs, or add them to existing ones (OPTIONS: "
                              "--add, --duplicates add|skip, --max-size SIZE, --report FILE.csv, --threads N, --jobs N)",
                              runConvert);

}  // namespace
}  // namespace tavrin::cli
