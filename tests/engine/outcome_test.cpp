// What a run tells and leaves: the completion texts of every outcome, an
// output that can no longer be written (a real full disk, a file size
// limit, a removed or read-only output folder), the split at a size cap,
// and the report of every file.
#include "engine_fixture.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <set>
#include <sstream>

#include "fs/small_disk.h"
#include "fs/text.h"

namespace tavrin::engine {
namespace {

using namespace enginetest;
using namespace store;
using namespace store::tags;

// ---- the texts ----

FileRecord rec(const std::string& source, FileResult r, const std::string& reason = {}) {
    FileRecord f;
    f.source = source;
    f.result = r;
    f.reason = reason;
    return f;
}

// Every outcome's completion text, icon and window label, exactly.
TEST(OutcomeTexts, EachOutcomeSaysWhatHappenedWithCounts) {
    RunSummary ok;
    ok.filesFound = 3;
    ok.messageFiles = ok.messagesConverted = 2;
    ok.pstFiles = {"/o/Mail.pst"};
    EXPECT_EQ(CompletionText(ok, true),
              "Messages Converted Successfully.\r\nOpen Converted PST file in Outlook to View Converted Messages.");
    EXPECT_EQ(CompletionText(ok, false),
              "All Folders Converted Successfully.\r\nOpen Converted PST file(s) in Outlook to View Individual files.");
    EXPECT_EQ(CompletionIcon(ok), MsgIcon::Information);

    RunSummary split = ok;
    split.split = true;
    split.pstFiles = {"/o/Mail.pst", "/o/Mail (2).pst"};
    EXPECT_EQ(CompletionText(split, true),
              "Messages Converted Successfully.\r\nOpen Converted PST file in Outlook to View Converted Messages.\r\n"
              "Files written:\r\n/o/Mail.pst\r\n/o/Mail (2).pst");

    RunSummary some = ok;
    some.messageFiles = 3;
    some.failedFiles = {"/s/bad.msg"};
    some.records = {rec("/s/a.msg", FileResult::Converted), rec("/s/bad.msg", FileResult::Failed, "Not a compound file."),
                    rec("/s/b.msg", FileResult::Converted), rec("/s/n.txt", FileResult::NotAMessageFile)};
    some.reportPath = "/o/Mail report.csv";
    EXPECT_EQ(CompletionText(some, true),
              "2 of 3 message file(s) were converted.\r\n"
              "Open Converted PST file in Outlook to View Converted Messages.\r\n"
              "Files written:\r\n/o/Mail.pst\r\n"
              "1 message file(s) could not be converted:\r\n/s/bad.msg: Not a compound file.\r\n"
              "The report of every file is in /o/Mail report.csv.");
    EXPECT_EQ(CompletionIcon(some), MsgIcon::Warning);

    RunSummary none = some;
    none.messagesConverted = 0;
    none.pstFiles.clear();
    none.reportPath.clear();
    none.reportFailure = "The file /o/Mail report.csv could not be created: Permission denied.";
    EXPECT_EQ(OutcomeLine(none, true), "None of the 3 message file(s) was converted.");
    EXPECT_EQ(CompletionText(none, true).find("Open Converted"), std::string::npos) << "no file to open";
    EXPECT_NE(CompletionText(none, true).find("\r\nThe report could not be written: The file /o/Mail report.csv "
                                              "could not be created: Permission denied."),
              std::string::npos);

    RunSummary stopped = some;
    stopped.stopped = true;
    EXPECT_EQ(OutcomeLine(stopped, false), "Conversion stopped: 2 of 3 message file(s) were converted.");
    EXPECT_EQ(CompletionIcon(stopped), MsgIcon::Warning);

    RunSummary full = none;
    full.outputFailures = {"The disk holding /o/Mail.pst is full."};
    full.folderFailures = 1;
    full.reportFailure.clear();
    EXPECT_EQ(CompletionText(full, true, 1),
              "The output could not be written: 0 of 3 message file(s) were converted.\r\n"
              "The disk holding /o/Mail.pst is full.\r\n"
              "1 message file(s) could not be converted:\r\n/s/bad.msg: Not a compound file.");

    RunSummary empty;
    EXPECT_EQ(CompletionText(empty, true), "No files were found to convert.");
    EXPECT_EQ(CompletionIcon(empty), MsgIcon::Information);
    RunSummary others;
    others.filesFound = 2;
    others.pstFiles = {"/o/Mail.pst"};
    EXPECT_EQ(CompletionText(others, true),
              "No message files were found to convert.\r\n"
              "Open Converted PST file in Outlook to View Converted Messages.\r\nFiles written:\r\n/o/Mail.pst");

    // Lists stop at the limit; converted-with-warnings files are named
    // after the success lines, which stay as they are.
    RunSummary warned = ok;
    for (int i = 0; i < 3; ++i)
        warned.records.push_back(rec("/s/w" + std::to_string(i) + ".msg", FileResult::ConvertedWithWarnings, "mended"));
    EXPECT_EQ(CompletionText(warned, true, 2),
              "Messages Converted Successfully.\r\nOpen Converted PST file in Outlook to View Converted Messages.\r\n"
              "3 message file(s) were converted with warnings:\r\n/s/w0.msg: mended\r\n/s/w1.msg: mended\r\n"
              "and 1 more.");
    EXPECT_EQ(CompletionIcon(warned), MsgIcon::Information);
}

TEST(OutcomeTexts, ReportRowsAreQuotedUnicodeAndNeverFormulas) {
    FileRecord f = rec("/s/a, b.msg", FileResult::ConvertedWithWarnings, "said \"hello\"\nand more");
    f.pstFile = "/o/Mail.pst";
    f.storeFolder = "\\Inbox\\Old";
    f.subject = "=HYPERLINK(\"x\")";
    EXPECT_EQ(CsvRow(f), "\"/s/a, b.msg\",converted with warnings,\"said \"\"hello\"\"\nand more\",/o/Mail.pst,"
                         "\\Inbox\\Old,\"'=HYPERLINK(\"\"x\"\")\"");
    FileRecord g = rec(std::string("/s/caf\xE9.msg"), FileResult::NotReached, " padded ");
    g.subject = "-1 +2 @3";
    EXPECT_EQ(CsvRow(g), "/s/caf\xEF\xBF\xBD.msg,not reached after a stop,\" padded \",,,'-1 +2 @3");
    EXPECT_EQ(CsvHeader(), "Source path,Result,Reason,PST file,Store folder,Subject");
    for (FileResult r : {FileResult::Converted, FileResult::Failed, FileResult::NotAMessageFile, FileResult::Skipped})
        EXPECT_NE(std::string(ResultText(r)).find_first_of("cfns"), std::string::npos);
    EXPECT_EQ(ReportPathFor("/o/Mail 6.12.26.pst"), "/o/Mail 6.12.26 report.csv");
    EXPECT_EQ(ReportPathFor("/o.d/Mail"), "/o.d/Mail report.csv");
    EXPECT_EQ(PartPath("/o/Mail.pst", 2), "/o/Mail (2).pst");
    EXPECT_EQ(PartPath("/o.d/Mail", 3), "/o.d/Mail (3)");
}

// ---- runs ----

// A message file with `size` bytes of attachment data.
void writeBigMsg(const fsys::path& p, const std::string& subject, size_t size) {
    fsys::create_directories(p.parent_path());
    tavrin::testing::MessageBuilder m;
    m.unicode(makeTag(PidTagSubject, PT_UNICODE), subject);
    tavrin::testing::MessageBuilder::Att a;
    a.props.fixed(makeTag(PidTagAttachMethod, PT_LONG), afByValue);
    Bytes data(size);
    uint32_t x = static_cast<uint32_t>(std::hash<std::string>{}(subject));
    for (auto& b : data) b = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 24);  // not compressible
    a.props.variable(makeTag(PidTagAttachDataBinary, PT_BINARY), std::move(data));
    a.props.unicode(makeTag(PidTagAttachLongFilename, PT_UNICODE), "data.bin");
    m.attachments.push_back(a);
    const Bytes b = m.file();
    std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

std::vector<std::string> namesIn(const fsys::path& dir) {
    std::vector<std::string> out;
    for (auto& e : fsys::directory_iterator(dir)) out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
}

// The rows of a report: BOM and header checked, each row split into fields.
std::vector<std::vector<std::string>> readReport(const fsys::path& p) {
    const std::string t = slurp(p);
    EXPECT_EQ(t.rfind("\xEF\xBB\xBF" + CsvHeader() + "\r\n", 0), 0u) << "UTF-8 with a byte-order mark";
    std::vector<std::vector<std::string>> rows;
    std::vector<std::string> row(1);
    bool quoted = false;
    for (size_t i = 3 + CsvHeader().size() + 2; i < t.size(); ++i) {
        const char c = t[i];
        if (quoted) {
            if (c == '"' && i + 1 < t.size() && t[i + 1] == '"') row.back() += '"', ++i;
            else if (c == '"') quoted = false;
            else row.back() += c;
        } else if (c == '"') {
            quoted = true;
        } else if (c == ',') {
            row.emplace_back();
        } else if (c == '\r' && i + 1 < t.size() && t[i + 1] == '\n') {
            rows.push_back(row);
            row.assign(1, "");
            ++i;
        } else {
            row.back() += c;
        }
    }
    return rows;
}

// A real full disk under a single-folder run: the folder ends after the
// message that filled it (no further attempts), the file and its scratch
// are gone, and the box says so with the cause and the counts.
TEST_F(Engine, AFullDiskEndsTheFolderAtOnceAndLeavesNothing) {
    tavrin::testing::SmallDisk disk(3 * 1024 * 1024);
    TAVRIN_NEED_SMALL_DISK(disk);
    // 40 messages of 400 KB: the disk is full after about a fifth of them
    // (the writer gathers up to 2 MiB before it writes).
    for (int i = 1; i <= 40; ++i) writeBigMsg(dir_ / "Mail" / ("m" + std::to_string(i) + ".msg"), "m" + std::to_string(i), 400000);
    SingleRun run(dir_);
    const std::string out = (disk.path() / "out.pst").string();
    run.host.out = out;
    std::set<std::string> frames;
    run.host.onYield = [&] { frames.insert(run.view.frame); };
    run.e.Form_Load();
    run.e.CmdStartConversion_Click();
    const RunSummary& r = run.e.lastRun();
    const std::string cause = "The disk holding " + out + " is full.";
    EXPECT_EQ(r.outputFailures, std::vector<std::string>{cause});
    EXPECT_EQ(r.messagesConverted, 0);
    EXPECT_EQ(r.failedFiles.size(), 40u);
    EXPECT_LT(frames.size(), 20u) << "the run stopped at the full disk instead of trying every file";
    EXPECT_EQ(run.host.texts.back().rfind("The output could not be written: 0 of 40 message file(s) were converted."
                                          "\r\n" + cause + "\r\n40 message file(s) could not be converted:\r\n",
                                          0),
              0u)
        << run.host.texts.back();
    EXPECT_EQ(run.host.icons.back(), MsgIcon::Warning);
    EXPECT_EQ(run.view.c1, "The output could not be written: 0 of 40 message file(s) were converted.");
    EXPECT_EQ(run.host.asked("Outlook Error"), 0);
    // The report could not go beside the file either: the disk is full,
    // unless removing the file made room for it.
    for (const std::string& n : namesIn(disk.path())) EXPECT_EQ(n, "out report.csv");
    for (const FileRecord& f : r.records) EXPECT_EQ(f.reason, cause) << f.source;
}

// In multiple-folder mode a folder whose file fills the disk ends with the
// cause; its file is removed, which frees the disk, and the next folder is
// converted.
TEST_F(Engine, AfterAFullDiskTheNextFolderGoesOn) {
    tavrin::testing::SmallDisk disk(3 * 1024 * 1024);
    TAVRIN_NEED_SMALL_DISK(disk);
    for (int i = 1; i <= 10; ++i) writeBigMsg(dir_ / "Mail" / "Big" / ("b" + std::to_string(i) + ".msg"), "b", 400000);
    writeMsg(dir_ / "Mail" / "Small" / "s.msg", "small");
    FakeView view;
    FakeJob job;
    FakeHost host;
    job.single = false;
    job.output = disk.path().string();
    job.rows = {{"Big", (dir_ / "Mail" / "Big").string()}, {"Small", (dir_ / "Mail" / "Small").string()}};
    ConversionEngine e(view, job, host);
    e.setYieldInterval(std::chrono::microseconds(0));
    e.setReport(ConversionEngine::ReportMode::None);
    e.Form_Load();
    e.CmdStartConversion_Click();
    const std::string big = (disk.path() / "Big.pst").string(), small = (disk.path() / "Small.pst").string();
    EXPECT_EQ(e.lastRun().outputFailures, std::vector<std::string>{"The disk holding " + big + " is full."});
    EXPECT_EQ(e.lastRun().pstFiles, std::vector<std::string>{small});
    EXPECT_EQ(namesIn(disk.path()), std::vector<std::string>{"Small.pst"});
    EXPECT_EQ(readBack(small)[""], std::vector<std::string>{"small"});
    EXPECT_EQ(host.texts.back().rfind("The output could not be written: 1 of 11 message file(s) were converted.\r\n"
                                      "The disk holding " + big + " is full.\r\n"
                                      "Open Converted PST file(s) in Outlook to View Individual files.\r\n"
                                      "Files written:\r\n" + small + "\r\n",
                                      0),
              0u)
        << host.texts.back();
}

// Where no small file system can be mounted, a file size limit fills "the
// disk" all the same: the system's message is the cause.
TEST_F(Engine, AFileSizeLimitEndsTheFolderWithTheSystemsMessage) {
    for (int i = 1; i <= 6; ++i) writeBigMsg(dir_ / "Mail" / ("m" + std::to_string(i) + ".msg"), "m", 300000);
    SingleRun run(dir_);
    run.e.setReport(ConversionEngine::ReportMode::None);
    struct rlimit old {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto* oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit lim = old;
    lim.rlim_cur = 1000000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &lim), 0);
    run.e.Form_Load();
    run.e.CmdStartConversion_Click();
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &old), 0);
    std::signal(SIGXFSZ, oldHandler);
    const std::string cause = "The file " + *run.host.out + " could not be written: File too large.";
    EXPECT_EQ(run.e.lastRun().outputFailures, std::vector<std::string>{cause});
    EXPECT_EQ(run.host.texts.back().rfind("The output could not be written: 0 of 6 message file(s) were converted.\r\n" +
                                              cause + "\r\n",
                                          0),
              0u)
        << run.host.texts.back();
    EXPECT_EQ(namesIn(dir_), std::vector<std::string>{"Mail"});
}

// An output folder removed during the run: the folder ends after the
// current message with the system's message; nothing is created.
TEST_F(Engine, ARemovedOutputFolderEndsTheFolderAtOnce) {
    for (int i = 1; i <= 6; ++i) writeMsg(dir_ / "Mail" / ("m" + std::to_string(i) + ".msg"), "m");
    fsys::create_directories(dir_ / "Out");
    SingleRun run(dir_);
    run.host.out = (dir_ / "Out" / "out.pst").string();
    bool removed = false;
    std::string frameAtRemoval, lastFrame;
    run.host.onYield = [&] {
        lastFrame = run.view.frame;
        if (!removed && run.view.frame.find("(2 of 6)") != std::string::npos) {
            removed = fsys::remove_all(dir_ / "Out") > 0;
            frameAtRemoval = run.view.frame;
        }
    };
    run.e.Form_Load();
    run.e.CmdStartConversion_Click();
    ASSERT_TRUE(removed);
    EXPECT_EQ(lastFrame.find("(5 of 6)"), std::string::npos) << "no further attempts: " << lastFrame;
    const std::string cause = "The file " + *run.host.out + " could not be created: No such file or directory.";
    EXPECT_EQ(run.e.lastRun().outputFailures, std::vector<std::string>{cause});
    EXPECT_EQ(run.e.lastRun().messagesConverted, 0);
    EXPECT_FALSE(fsys::exists(dir_ / "Out"));
    EXPECT_NE(run.host.texts.back().find("\r\nThe report could not be written: The file " +
                                         (dir_ / "Out" / "out report.csv").string() + " could not be created: "),
              std::string::npos)
        << run.host.texts.back();
}

// A read-only output folder (a read-only file system: root may write
// anywhere else): the session error box, then the truthful completion box.
TEST_F(Engine, AReadOnlyOutputIsToldAndCreatesNothing) {
    tavrin::testing::SmallDisk disk(1024 * 1024, true);
    TAVRIN_NEED_SMALL_DISK(disk);
    writeMsg(dir_ / "Mail" / "a.msg", "a");
    writeMsg(dir_ / "Mail" / "b.msg", "b");
    SingleRun run(dir_);
    run.host.out = (disk.path() / "out.pst").string();
    run.e.Form_Load();
    run.e.CmdStartConversion_Click();
    const std::string cause = "The file " + *run.host.out + " could not be created: Read-only file system.";
    ASSERT_EQ(run.host.titles.size(), 2u);
    EXPECT_EQ(run.host.titles[0], "Outlook Error");
    EXPECT_NE(run.host.texts[0].find(cause), std::string::npos);
    const std::string& box = run.host.texts[1];
    EXPECT_EQ(box.rfind("The output could not be written: 0 of 2 message file(s) were converted.\r\n" + cause +
                            "\r\n2 message file(s) could not be converted:\r\n",
                        0),
              0u)
        << box;
    for (const char* f : {"/a.msg: ", "/b.msg: "}) EXPECT_NE(box.find(mail() + f + cause + "\r\n"), std::string::npos);
    EXPECT_EQ(box.substr(box.rfind("\r\n") + 2), "The report could not be written: The file " +
                                                     (disk.path() / "out report.csv").string() +
                                                     " could not be created: Read-only file system.");
    EXPECT_TRUE(namesIn(disk.path()).empty());
}

// A cap of 5 MiB: the folder goes on in "out (2).pst" and further files,
// a name that is taken is passed over; every file verifies, stays under
// the cap, holds the default folders and only the source folders whose
// messages it has, and together they hold every message exactly once.
TEST_F(Engine, ASizeCapSplitsIntoWholeStoresHoldingEveryMessageOnce) {
    std::multiset<std::string> expected;
    int n = 0;
    for (const char* folder : {"", "Inbox/Old", "Work", "Work/Deep"})
        for (int i = 0; i < 9; ++i) {
            const std::string subject = std::string(*folder ? folder : "top") + " " + std::to_string(++n);
            writeBigMsg(dir_ / "Mail" / folder / ("m" + std::to_string(i) + ".msg"), subject, 250000 + 20000 * (n % 5));
            expected.insert(subject);
        }
    SingleRun run(dir_);
    std::ofstream(dir_ / "out (2).pst") << "someone else's";
    const uint64_t cap = 5 * 1024 * 1024;
    run.e.setMaxFileSize(cap);
    run.e.Form_Load();
    run.e.CmdStartConversion_Click();
    const RunSummary& r = run.e.lastRun();
    ASSERT_TRUE(r.allConverted()) << run.host.texts.back();
    EXPECT_TRUE(r.split);
    ASSERT_GE(r.pstFiles.size(), 3u);
    EXPECT_EQ(r.pstFiles[0], *run.host.out);
    EXPECT_EQ(r.pstFiles[1], (dir_ / "out (3).pst").string());
    EXPECT_EQ(slurp(dir_ / "out (2).pst"), "someone else's");
    std::multiset<std::string> seen;
    std::string listed;
    for (const std::string& f : r.pstFiles) {
        SCOPED_TRACE(f);
        listed += "\r\n" + f;
        EXPECT_LE(fsys::file_size(f), cap);
        auto tree = readBack(f);
        for (auto& [folder, subjects] : tree) {
            for (const std::string& s : subjects) {
                seen.insert(s);
                EXPECT_EQ(s.rfind(folder.empty() ? "top" : folder, 0), 0u) << s << " in " << folder;
            }
            // Continuation files hold only the folders of their messages.
            const bool standard = folder == "Inbox" || folder == "Deleted Items" || folder == "Outbox" ||
                                  folder == "Sent Items" || folder.find('/') == std::string::npos;
            if (f != r.pstFiles[0] && subjects.empty() && !standard) ADD_FAILURE() << "empty folder " << folder;
        }
        EXPECT_TRUE(tree.count("Inbox") && tree.count("Sent Items") && tree.count("Deleted Items")) << "default folders";
    }
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(run.host.texts.back(), "Messages Converted Successfully.\r\n"
                                     "Open Converted PST file in Outlook to View Converted Messages.\r\n"
                                     "Files written:" + listed);
    auto second = pst::messaging::PstReader::open(r.pstFiles[1]);
    ASSERT_TRUE(second.ok());
    const Property* name = (*second)->storeProperties().findTag(makeTag(PidTagDisplayName, PT_UNICODE));
    ASSERT_TRUE(name);
    const std::string shown = text::toUtf8(name->asUnicode());
    EXPECT_EQ(shown.substr(shown.size() - 4), " (3)") << "named as its file: " << shown;
    for (const FileRecord& f : r.records) EXPECT_FALSE(f.pstFile.empty()) << f.source;
}

// The report of a mixed tree in multiple-folder mode: every file found gets
// one row with its result, its reason, the file and store folder it went
// into and its subject; folders never reached are not listed.
TEST_F(Engine, TheReportListsEveryFileWithItsResult) {
    const fsys::path root = dir_ / "Mail";
    writeMsg(root / "A" / "good, \"quoted\".msg", "Hello, \"world\"");
    std::ofstream(root / "A" / "bad.msg") << "not a message file";
    std::ofstream(root / "A" / "notes.txt") << "text";
    writeMsg(root / "A" / "Inbox" / "in.msg", "=in");
    {
        // Salvaged: a property whose value stream is missing.
        tavrin::testing::MessageBuilder m;
        m.unicode(makeTag(PidTagSubject, PT_UNICODE), "mended");
        m.entries.push_back({makeTag(0x0071, PT_BINARY), 6, 22});
        const Bytes b = m.file();
        std::ofstream(root / "A" / "mended.msg", std::ios::binary)
            .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
    }
    writeMsg(root / "B" / "b1.msg", "b1");
    writeMsg(root / "B" / "Later" / "b2.msg", "b2");
    std::ofstream(root / "B" / "Later" / "z.txt") << "text";
    writeMsg(root / "C" / "c1.msg", "c1");
    writeMsg(root / "C" / "Later" / "c2.msg", "c2");
    writeMsg(root / "D" / "d.msg", "d");
    fsys::create_directories(dir_ / "Out");
    FakeView view;
    FakeJob job;
    FakeHost host;
    job.single = false;
    job.output = (dir_ / "Out").string();
    for (const char* n : {"A", "B", "C", "D"}) job.rows.emplace_back(n, (root / n).string());
    ConversionEngine e(view, job, host);
    e.setYieldInterval(std::chrono::microseconds(0));
    const fsys::path report = dir_ / "every file.csv";
    e.setReport(ConversionEngine::ReportMode::AtPath, report.string());
    std::ofstream(report) << "an older report";
    // Skip and stop pressed during the first file of B and of C: they are
    // looked at once that file is done.
    bool skipped = false, stopped = false;
    host.onYield = [&] {
        if (!skipped && view.c1.find("items from " + (root / "B").string()) != std::string::npos) {
            skipped = true;
            e.CmdSkip_Click();
        }
        if (!stopped && view.c1.find("items from " + (root / "C").string()) != std::string::npos) {
            stopped = true;
            e.CmdStopMigration_Click();
        }
    };
    e.Form_Load();
    e.CmdStartConversion_Click();
    ASSERT_TRUE(skipped && stopped);
    std::map<std::string, std::vector<std::string>> byName;
    const auto rows = readReport(report);
    for (const auto& row : rows) {
        ASSERT_EQ(row.size(), 6u);
        byName[fsys::path(row[0]).filename().string()] = row;
    }
    EXPECT_EQ(rows.size(), 10u) << "every file of A, B and C; D was never reached";
    const std::string a = (dir_ / "Out" / "A.pst").string();
    EXPECT_EQ(byName["good, \"quoted\".msg"],
              (std::vector<std::string>{(root / "A" / "good, \"quoted\".msg").string(), "converted", "", a, "\\",
                                        "Hello, \"world\""}));
    EXPECT_EQ(byName["in.msg"][1], "converted");
    EXPECT_EQ(byName["in.msg"][4], "\\Inbox");
    EXPECT_EQ(byName["in.msg"][5], "'=in");
    EXPECT_EQ(byName["mended.msg"], (std::vector<std::string>{(root / "A" / "mended.msg").string(),
                                                              "converted with warnings",
                                                              "property 0x00710102: the value stream is missing (22 bytes)",
                                                              a, "\\", "mended"}));
    EXPECT_NE(host.texts.back().find("\r\n1 message file(s) were converted with warnings:\r\n" +
                                     (root / "A" / "mended.msg").string() +
                                     ": property 0x00710102: the value stream is missing (22 bytes)\r\n"),
              std::string::npos)
        << host.texts.back();
    EXPECT_EQ(byName["bad.msg"][1], "failed");
    EXPECT_FALSE(byName["bad.msg"][2].empty());
    EXPECT_EQ(byName["bad.msg"][3], "");
    EXPECT_EQ(byName["notes.txt"][1], "not a message file");
    EXPECT_EQ(byName["z.txt"][1], "not a message file");
    EXPECT_EQ(byName["b1.msg"][1], "converted");
    EXPECT_EQ(byName["b1.msg"][3], (dir_ / "Out" / "B.pst").string());
    EXPECT_EQ(byName["b2.msg"][1], "skipped");
    EXPECT_EQ(byName["c1.msg"][1], "converted");
    EXPECT_EQ(byName["c2.msg"][1], "not reached after a stop");
    EXPECT_EQ(byName["c2.msg"][2], "The conversion was stopped.");
    EXPECT_EQ(e.lastRun().reportPath, report.string());
    EXPECT_NE(host.texts.back().find("\r\nThe report of every file is in " + report.string() + "."), std::string::npos);
}

// The wizard writes the report only when something was not converted,
// beside the first file, and never over an existing file.
TEST_F(Engine, TheWizardsReportGoesBesideTheFirstFileOnlyWhenNeeded) {
    writeMsg(dir_ / "Mail" / "a.msg", "a");
    {
        SingleRun run(dir_);
        run.e.Form_Load();
        run.e.CmdStartConversion_Click();
        ASSERT_TRUE(run.e.lastRun().allConverted());
        EXPECT_EQ(namesIn(dir_), (std::vector<std::string>{"Mail", "out.pst"}));
    }
    std::ofstream(dir_ / "Mail" / "bad.msg") << "not a message file";
    std::ofstream(dir_ / "again report.csv") << "kept";
    SingleRun run(dir_);
    run.host.out = (dir_ / "again.pst").string();
    run.e.Form_Load();
    run.e.CmdStartConversion_Click();
    const fsys::path report = dir_ / "again report (2).csv";
    EXPECT_EQ(run.e.lastRun().reportPath, report.string());
    EXPECT_EQ(slurp(dir_ / "again report.csv"), "kept");
    EXPECT_EQ(readReport(report).size(), 2u);
    EXPECT_NE(run.host.texts.back().find("The report of every file is in " + report.string() + "."), std::string::npos);
}

}  // namespace
}  // namespace tavrin::engine
