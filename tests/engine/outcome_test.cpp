// What a run tells and leaves: the completion texts of every outcome, an
// output that can no longer be written (a real full disk, a file size
// limit, a removed or read-only output folder), the split at a size cap,
// and the report of every file.
#include "engine_fixture.h"

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#endif

#include <chrono>
#include <csignal>
#include <set>
#include <thread>
#include <tuple>

#include "fs/small_disk.h"
#include "fs/text.h"

namespace tavrin::engine {
namespace {

// A file name with a comma and quotes (Windows allows no '"' in a name).
#ifdef _WIN32
const std::string kGoodName = "good, 'quoted'.msg";
#else
const std::string kGoodName = "good, \"quoted\".msg";
#endif

// The system's words for a file whose folder is gone.
#ifdef _WIN32
const std::string kNoSuchFolder = "The system cannot find the path specified.";
#else
const std::string kNoSuchFolder = "No such file or directory.";
#endif

using namespace enginetest;
using namespace store;
using namespace store::tags;

const char* const kOpen1 = "Open Converted PST file in Outlook to View Converted Messages.";
const char* const kOpenN = "Open Converted PST file(s) in Outlook to View Individual files.";

FileRecord rec(const std::string& source, FileResult r, const std::string& reason = {}) {
    FileRecord f;
    f.source = source;
    f.result = r;
    f.reason = reason;
    return f;
}

// Every outcome's completion text and icon, exactly; the counts are those
// of the records, and files that failed with their folder's output are told
// by its cause alone.
TEST(OutcomeTexts, EachOutcomeSaysWhatHappenedWithCounts) {
    RunSummary ok;
    ok.records = {rec("/s/a.msg", FileResult::Converted), rec("/s/b.msg", FileResult::Converted),
                  rec("/s/n.txt", FileResult::NotAMessageFile)};
    ok.pstFiles = {"/o/M.pst"};
    EXPECT_EQ(CompletionText(ok, true), std::string("Messages Converted Successfully.\r\n") + kOpen1);
    EXPECT_EQ(CompletionText(ok, false), std::string("All Folders Converted Successfully.\r\n") + kOpenN);
    EXPECT_EQ(CompletionIcon(ok), MsgIcon::Information);
    RunSummary split = ok;
    split.split = true;
    split.pstFiles.push_back("/o/M (2).pst");
    EXPECT_EQ(CompletionText(split, true), std::string("Messages Converted Successfully.\r\n") + kOpen1 +
                                               "\r\nFiles written:\r\n/o/M.pst\r\n/o/M (2).pst");
    RunSummary some = ok;
    some.records = {rec("/s/a.msg", FileResult::Converted), rec("/s/bad.msg", FileResult::Failed, "Not a compound file."),
                    rec("/s/w.msg", FileResult::ConvertedWithWarnings, "mended"), rec("/s/n.txt", FileResult::NotAMessageFile)};
    some.reportPath = "/o/M report.csv";
    EXPECT_EQ(CompletionText(some, true), std::string("2 of 3 message file(s) were converted.\r\n") + kOpen1 +
                                              "\r\nFiles written:\r\n/o/M.pst\r\n"
                                              "1 message file(s) could not be converted:\r\n/s/bad.msg: Not a compound file.\r\n"
                                              "1 message file(s) were converted with warnings:\r\n/s/w.msg: mended\r\n"
                                              "The report of every file is in /o/M report.csv.");
    EXPECT_EQ(CompletionIcon(some), MsgIcon::Warning);
    RunSummary stopped = some;
    stopped.stopped = true;
    EXPECT_EQ(OutcomeLine(stopped, false), "Conversion stopped: 2 of 3 message file(s) were converted.");
    RunSummary full = some;
    const std::string diskFull = "The disk holding /o/M.pst is full.";
    full.records = {rec("/s/a.msg", FileResult::Failed, diskFull), rec("/s/bad.msg", FileResult::Failed, "Not a compound file."),
                    rec("/s/w.msg", FileResult::Failed, diskFull), rec("/s/n.txt", FileResult::NotAMessageFile)};
    full.pstFiles.clear();
    full.outputFailures = {diskFull};
    full.reportPath.clear();
    full.reportFailure = "The file /o/M report.csv could not be created: Read-only file system.";
    EXPECT_EQ(CompletionText(full, true), "The output could not be written: 0 of 3 message file(s) were converted.\r\n" +
                                              diskFull + "\r\n"
                                              "1 message file(s) could not be converted:\r\n/s/bad.msg: Not a compound file.\r\n"
                                              "The report could not be written: The file /o/M report.csv could not be "
                                              "created: Read-only file system.");
    full.outputFailures.clear();
    EXPECT_EQ(OutcomeLine(full, true), "None of the 3 message file(s) was converted.");
    RunSummary others;
    EXPECT_EQ(CompletionText(others, true), "No files were found to convert.");
    others.records = {rec("/s/n.txt", FileResult::NotAMessageFile), rec("/s/m.txt", FileResult::NotAMessageFile)};
    EXPECT_EQ(CompletionText(others, true), "No message files were found to convert.");
    EXPECT_EQ(CompletionIcon(others), MsgIcon::Information);
    for (int i = 0; i < 11; ++i) some.records.push_back(rec("/s/x.msg", FileResult::Failed));
    EXPECT_NE(CompletionText(some, true).find("/s/x.msg\r\nand 2 more.\r\n"), std::string::npos) << "ten at most";
    RunSummary held;
    held.records = {rec("/s/a.msg", FileResult::Converted), rec("/s/p.msg", FileResult::AlreadyPresent)};
    EXPECT_EQ(OutcomeLine(held, true), "Messages Converted Successfully: 1 added, 1 already present.");
}

TEST(OutcomeTexts, ReportRowsAreQuotedUnicodeAndNeverFormulas) {
    FileRecord f = rec("/s/a, b.msg", FileResult::ConvertedWithWarnings, "said \"hi\"\nthen");
    f.pstFile = "/o/M.pst";
    f.storeFolder = "\\Inbox";
    f.subject = "=HYPERLINK(\"x\")";
    EXPECT_EQ(CsvRow(f), "\"/s/a, b.msg\",converted with warnings,\"said \"\"hi\"\"\nthen\",/o/M.pst,\\Inbox,"
                         "\"'=HYPERLINK(\"\"x\"\")\"");
    FileRecord g = rec("/s/caf\xE9.msg", FileResult::NotReached, " padded ");
    g.subject = "-1 +2";
    EXPECT_EQ(CsvRow(g), "/s/caf\xEF\xBF\xBD.msg,not reached after a stop,\" padded \",,,'-1 +2");
    EXPECT_EQ(ReportPathFor("/o.d/M 6.12.26.pst"), "/o.d/M 6.12.26 report.csv");
    EXPECT_EQ(PartPath("/o.d/M", 3), "/o.d/M (3)");
}

// The records of a run over many files: they read back as they were
// written, in any order, through copies that each go on on their own, and
// after a failed part, whose converted records then count as failed.
TEST(OutcomeTexts, RecordsReadBackWholeAndCountByResult) {
    auto make = [](size_t i) {
        FileRecord f = rec("/src/folder " + std::to_string(i / 1000) + "/m" + std::to_string(i) + ".msg",
                           static_cast<FileResult>(i % 6), i % 5 ? "" : "reason " + std::to_string(i));
        f.pstFile = i % 6 < 2 ? "/o/M.pst" : "";
        f.storeFolder = "\\Inbox";
        f.subject = std::string(i % 97, 'x') + std::to_string(i);  // some 8 MB in all: the log spills
        return f;
    };
    auto same = [](const Result<FileRecord>& a, const FileRecord& b) {
        return a.ok() && a->source == b.source && a->result == b.result && a->reason == b.reason &&
               a->pstFile == b.pstFile && a->storeFolder == b.storeFolder && a->subject == b.subject;
    };
    const size_t n = 100000;
    FileRecords r;
    for (size_t i = 0; i < n; ++i) r.push_back(make(i));
    ASSERT_EQ(r.size(), n);
    EXPECT_EQ(r.count(FileResult::Converted), n / 6 + 1);
    size_t i = 0;
    ASSERT_TRUE(r.forEach([&](const FileRecord& f) { ASSERT_TRUE(same(f, make(i++))) << i; }).ok());
    for (size_t k : {n - 1, size_t(0), size_t(64), size_t(63), size_t(77777), size_t(5)}) EXPECT_TRUE(same(r.at(k), make(k))) << k;
    EXPECT_FALSE(r.at(n).ok());

    FileRecords copy = r;
    copy.push_back(make(7));
    r.push_back(make(8));
    r.push_back(make(9));
    copy.push_back(make(10));
    EXPECT_TRUE(same(copy.at(n), make(7)) && same(copy.at(n + 1), make(10)));
    EXPECT_TRUE(same(r.at(n), make(8)) && same(r.at(n + 1), make(9)));
    EXPECT_TRUE(same(copy.at(n - 1), make(n - 1)) && same(r.at(n - 1), make(n - 1)));
    EXPECT_EQ(copy.size(), n + 2);

    // The part from record 90 on could not be completed: its converted
    // records fail for that reason; the others stay as they were.
    const size_t converted = r.count(FileResult::Converted) + r.count(FileResult::ConvertedWithWarnings);
    const size_t failed = r.count(FileResult::Failed);
    ASSERT_TRUE(r.failConverted(90, "The disk is full.").ok());
    EXPECT_EQ(r.count(FileResult::Converted) + r.count(FileResult::ConvertedWithWarnings), 30u);
    EXPECT_EQ(r.count(FileResult::Failed), failed + converted - 30);
    r.push_back(make(0));
    for (size_t k = 88; k < 96; ++k) {
        const FileRecord want = make(k);
        const auto got = r.at(k);
        ASSERT_TRUE(got.ok());
        if (k >= 90 && want.result <= FileResult::ConvertedWithWarnings) {
            EXPECT_EQ(got->result, FileResult::Failed) << k;
            EXPECT_EQ(got->reason, "The disk is full.");
            EXPECT_EQ(got->pstFile, "");
        } else {
            EXPECT_TRUE(same(got, want)) << k;
        }
    }
    EXPECT_EQ(r.at(n + 2)->result, FileResult::Converted) << "added after the failure";
    FileRecords moved = std::move(r);
    EXPECT_EQ(moved.size(), n + 3);
    EXPECT_TRUE(r.empty());
    moved.clear();
    EXPECT_TRUE(moved.empty() && moved.count(FileResult::Failed) == 0);
}

// A message file with `size` bytes of attachment data that does not compress.
void writeBigMsg(const fsys::path& p, const std::string& subject, size_t size) {
    fsys::create_directories(p.parent_path());
    tavrin::testing::MessageBuilder m;
    m.unicode(makeTag(PidTagSubject, PT_UNICODE), subject);
    tavrin::testing::MessageBuilder::Att a;
    a.props.fixed(makeTag(PidTagAttachMethod, PT_LONG), afByValue);
    Bytes data(size);
    uint32_t x = static_cast<uint32_t>(std::hash<std::string>{}(subject));
    for (auto& b : data) b = static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 24);
    a.props.variable(makeTag(PidTagAttachDataBinary, PT_BINARY), std::move(data));
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

// A run in multiple-folder mode into `out` (yielding at every point).
struct MultipleRun {
    FakeView view;
    FakeJob job;
    FakeHost host;
    ConversionEngine e{view, job, host};
    MultipleRun(const fsys::path& root, const std::vector<std::string>& rows, const fsys::path& out) {
        job.single = false;
        job.output = out.string();
        for (const std::string& r : rows) job.rows.emplace_back(r, (root / r).string());
        e.setYieldInterval(std::chrono::microseconds(0));
    }
};

// A real full disk: the folder ends soon after the message that filled it
// (the writer gathers up to 2 MiB before it writes), its file is gone, which
// frees the disk, and the next folder is converted.
TEST_F(Engine, AFullDiskEndsItsFolderAtOnceAndTheNextGoesOn) {
    tavrin::testing::SmallDisk disk(3 * 1024 * 1024);
    TAVRIN_NEED_SMALL_DISK(disk);
    for (int i = 1; i <= 40; ++i) writeBigMsg(dir_ / "Mail" / "Big" / ("b" + std::to_string(i) + ".msg"), "b", 400000);
    writeMsg(dir_ / "Mail" / "Small" / "s.msg", "small");
    MultipleRun run(dir_ / "Mail", {"Big", "Small"}, disk.path());
    std::set<std::string> frames;
    run.host.onYield = [&] { frames.insert(run.view.frame); };
    run.e.Form_Load();
    run.e.CmdStartConversion_Click();
    const std::string big = (disk.path() / "Big.pst").string(), small = (disk.path() / "Small.pst").string();
    const std::string cause = "The disk holding " + big + " is full.";
    EXPECT_LT(frames.size(), 20u) << "the folder ended at the full disk instead of trying every file";
    EXPECT_EQ(namesIn(disk.path()), (std::vector<std::string>{"Big report.csv", "Small.pst"}));
    EXPECT_EQ(readBack(small)[""], std::vector<std::string>{"small"});
    EXPECT_EQ(run.host.texts.back().rfind("The output could not be written: 1 of 41 message file(s) were converted.\r\n" +
                                              cause + "\r\n" + kOpenN + "\r\nFiles written:\r\n" + small + "\r\n",
                                          0),
              0u)
        << run.host.texts.back();
    EXPECT_EQ(run.host.texts.back().find("could not be converted"), std::string::npos) << "the cause stands for them";
    EXPECT_EQ(run.host.icons.back(), MsgIcon::Warning);
    EXPECT_EQ(run.view.c1, "The output could not be written: 1 of 41 message file(s) were converted.");
    EXPECT_EQ(run.host.asked("Outlook Error"), 0);
    for (const FileRecord& f : recordsOf(run.e.lastRun().records)) {
        if (f.source.find("/Big/") != std::string::npos) {
            EXPECT_EQ(f.reason, cause) << f.source;
        }
    }
}

// Where no small file system can be mounted a file size limit fills "the
// disk" all the same; the system's message is the cause.
TEST_F(Engine, AFileSizeLimitEndsTheFolderWithTheSystemsMessage) {
#ifdef _WIN32
    GTEST_SKIP() << "POSIX only: a file size limit (RLIMIT_FSIZE) stands in for a full disk";
#else
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
    EXPECT_EQ(run.host.texts.back().rfind("The output could not be written: 0 of 6 message file(s) were converted.\r\n"
                                          "The file " + *run.host.out + " could not be written: File too large.",
                                          0),
              0u)
        << run.host.texts.back();
    EXPECT_EQ(namesIn(dir_), std::vector<std::string>{"Mail"});
#endif
}

// An output folder removed during the run ends the folder after the current
// message with the system's message (the folder is looked at up to ten times
// a second); nothing is created.
TEST_F(Engine, ARemovedOutputFolderEndsTheFolderAtOnce) {
#ifdef _WIN32
    GTEST_SKIP() << "POSIX only: Windows refuses to remove a folder that holds an open file";
#endif
    for (int i = 1; i <= 6; ++i) writeMsg(dir_ / "Mail" / ("m" + std::to_string(i) + ".msg"), "m");
    fsys::create_directories(dir_ / "Out");
    SingleRun run(dir_);
    run.host.out = (dir_ / "Out" / "out.pst").string();
    std::string lastFrame;
    run.host.onYield = [&] {
        lastFrame = run.view.frame;
        if (lastFrame.find("(2 of 6)") != std::string::npos && fsys::remove_all(dir_ / "Out") > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(150));
    };
    run.e.Form_Load();
    run.e.CmdStartConversion_Click();
    EXPECT_NE(lastFrame.find("(2 of 6)"), std::string::npos) << "no further attempts: " << lastFrame;
    EXPECT_EQ(run.e.lastRun().outputFailures,
              std::vector<std::string>{"The file " + *run.host.out + " could not be created: " + kNoSuchFolder});
    EXPECT_EQ(run.e.lastRun().messagesConverted(), 0);
    EXPECT_EQ(namesIn(dir_), std::vector<std::string>{"Mail"});
}

// A read-only output (a read-only file system, which root cannot write
// either): the session error box says why, once, then the truthful
// completion box; every file of the folder fails for that one reason.
TEST_F(Engine, AReadOnlyOutputIsToldAndCreatesNothing) {
    tavrin::testing::SmallDisk disk(1024 * 1024, true);
    TAVRIN_NEED_SMALL_DISK(disk);
    writeMsg(dir_ / "Mail" / "a.msg", "a");
    writeMsg(dir_ / "Mail" / "b.msg", "b");
    SingleRun run(dir_);
    run.host.out = (disk.path() / "out.pst").string();
    run.e.Form_Load();
    run.e.CmdStartConversion_Click();
    const std::string cause =
        "The file " + *run.host.out + " could not be created: the folder is read-only or access to it is denied.";
    EXPECT_EQ(run.host.titles, (std::vector<std::string>{"Outlook Error", "Completed"}));
    EXPECT_EQ(run.host.kinds, (std::vector<MsgKind>{MsgKind::Error, MsgKind::Completed}));
    EXPECT_EQ(run.host.texts[0], cause);
    EXPECT_EQ(run.host.icons[0], MsgIcon::Information);
    EXPECT_EQ(run.host.texts[1], "The output could not be written: 0 of 2 message file(s) were converted.\r\n" + cause +
                                     "\r\nThe report could not be written: The file " +
                                     (disk.path() / "out report.csv").string() +
                                     " could not be created: Read-only file system.");
    for (const FileRecord& f : recordsOf(run.e.lastRun().records)) EXPECT_EQ(f.reason, cause) << f.source;
    EXPECT_TRUE(namesIn(disk.path()).empty());
}

// A cap of 5 MiB: the folder goes on in "out (3).pst" ("out (2).pst" is
// taken and kept) and further files; each verifies, stays under the cap,
// is a store named as its file with the default folders and only the source
// folders of its messages; together they hold every message once.
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
    ASSERT_GE(r.pstFiles.size(), 3u);
    EXPECT_EQ(r.pstFiles[1], (dir_ / "out (3).pst").string());
    EXPECT_EQ(slurp(dir_ / "out (2).pst"), "someone else's");
    std::multiset<std::string> seen;
    std::string listed;
    for (const std::string& f : r.pstFiles) {
        SCOPED_TRACE(f);
        listed += "\r\n" + f;
        EXPECT_LE(fsys::file_size(f), cap);
        for (auto& [folder, subjects] : readBack(f)) {
            for (const std::string& s : subjects) EXPECT_EQ(s.rfind(folder.empty() ? "top" : folder, 0), 0u) << s;
            seen.insert(subjects.begin(), subjects.end());
            if (f != r.pstFiles[0] && folder.find('/') != std::string::npos && subjects.empty())
                ADD_FAILURE() << "an empty source folder in a continuation file: " << folder;
        }
    }
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(run.host.texts.back(), std::string("Messages Converted Successfully.\r\n") + kOpen1 +
                                         "\r\nFiles written:" + listed);
    auto second = pst::messaging::PstReader::open(r.pstFiles[1]);
    ASSERT_TRUE(second.ok());
    const Property* name = (*second)->storeProperties().findTag(makeTag(PidTagDisplayName, PT_UNICODE));
    ASSERT_TRUE(name);
    EXPECT_EQ(text::toUtf8(name->asUnicode()).substr(text::toUtf8(name->asUnicode()).size() - 4), " (3)");
}

// The report of every file of a mixed tree, each with the right result,
// reason, file, store folder and subject (a quoted subject, a formula-like
// one, a salvaged file, a file of another type, a skipped folder, a stop).
// Folders never reached are not listed. The wizard's default writes it only
// when something was not converted, never over an existing file.
TEST_F(Engine, TheReportListsEveryFileWithItsResult) {
    const fsys::path root = dir_ / "Mail";
    writeMsg(root / "A" / kGoodName, "Hello, \"world\"");
    std::ofstream(root / "A" / "bad.msg") << "not a message file";
    std::ofstream(root / "A" / "notes.txt") << "text";
    writeMsg(root / "A" / "Inbox" / "in.msg", "=in");
    tavrin::testing::MessageBuilder m;  // salvaged: a property without its value stream
    m.unicode(makeTag(PidTagSubject, PT_UNICODE), "mended");
    m.entries.push_back({makeTag(0x0071, PT_BINARY), 6, 22});
    const Bytes b = m.file();
    std::ofstream(root / "A" / "mended.msg", std::ios::binary)
        .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
    for (const char* f : {"B/b1.msg", "B/Later/b2.msg", "C/c1.msg", "C/Later/c2.msg", "D/d.msg"}) writeMsg(root / f, f);
    std::ofstream(root / "B" / "Later" / "z.txt") << "text";
    fsys::create_directories(dir_ / "Out");
    std::ofstream(dir_ / "Out" / "A report.csv") << "kept";
    MultipleRun run(root, {"A", "B", "C", "D"}, dir_ / "Out");
    // Skip and stop pressed during the first file of B and of C.
    bool skipped = false, stopped = false;
    run.host.onYield = [&] {
        if (!skipped && run.view.c1.find("items from " + (root / "B").string()) != std::string::npos)
            skipped = true, run.e.CmdSkip_Click();
        if (!stopped && run.view.c1.find("items from " + (root / "C").string()) != std::string::npos)
            stopped = true, run.e.CmdStopMigration_Click();
    };
    run.e.Form_Load();
    run.e.CmdStartConversion_Click();
    const fsys::path report = dir_ / "Out" / "A report (2).csv";
    EXPECT_EQ(slurp(dir_ / "Out" / "A report.csv"), "kept");
    const std::string t = slurp(report);
    ASSERT_EQ(t.rfind("\xEF\xBB\xBF" + CsvHeader() + "\r\n", 0), 0u) << "UTF-8 with a byte-order mark";
    std::map<std::string, std::string> rows;  // file name -> the rest of its row
    for (const FileRecord& f : recordsOf(run.e.lastRun().records)) {
        const std::string row = CsvRow(f);
        EXPECT_NE(t.find("\r\n" + row + "\r\n"), std::string::npos) << row;
        const size_t sourceField = CsvRow(rec(f.source, FileResult::Converted)).size() - 14;  // ",converted,,,,"
        rows[fsys::path(f.source).filename().string()] = row.substr(sourceField + 1);
    }
    EXPECT_EQ(rows.size(), 10u) << "every file of A, B and C; D was never reached";
    const std::string a = (dir_ / "Out" / "A.pst").string();
    EXPECT_EQ(rows[kGoodName], "converted,," + a + ",\\,\"Hello, \"\"world\"\"\"");
    EXPECT_EQ(rows["in.msg"], "converted,," + a + ",\\Inbox,'=in");
    EXPECT_EQ(rows["mended.msg"],
              "converted with warnings,property 0x00710102: the value stream is missing (22 bytes)," + a + ",\\,mended");
    EXPECT_EQ(rows["bad.msg"].rfind("failed,compound file: ", 0), 0u) << rows["bad.msg"];
    EXPECT_EQ(rows["notes.txt"], "not a message file,,,,");
    EXPECT_EQ(rows["z.txt"], "not a message file,,,,");
    EXPECT_EQ(rows["b1.msg"], "converted,," + (dir_ / "Out" / "B.pst").string() + ",\\,B/b1.msg");
    EXPECT_EQ(rows["b2.msg"], "skipped,The conversion of its folder was skipped.,,,");
    EXPECT_EQ(rows["c1.msg"].rfind("converted,", 0), 0u);
    EXPECT_EQ(rows["c2.msg"], "not reached after a stop,The conversion was stopped.,,,");
    EXPECT_NE(run.host.texts.back().find("\r\nThe report of every file is in " + report.string() + "."), std::string::npos);
}

// Adding, saying so: a stopped run (at the 2nd file, in effect after the 3rd)
// goes on with exactly the rest, a finished one adds nothing.
TEST_F(Engine, AddingSkipsWhatTheFileHoldsSoAStoppedRunResumes) {
    for (int i = 1; i <= 5; ++i) writeMsg(dir_ / "Mail" / (i > 3 ? "Sub" : "") / ("m" + std::to_string(i) + ".msg"), std::to_string(i));
    // {stop at, duplicates, converted, already present}
    for (const auto& [stopAt, duplicates, converted, present] :
         {std::tuple{2, false, 3, 0}, {0, false, 2, 3}, {0, false, 0, 5}, {0, true, 5, 0}}) {
        SingleRun run(dir_);
        run.e.setAddDuplicates(duplicates);
        run.host.onYield = [&, stopAt = stopAt] {
            if (stopAt && run.view.frame.find("(" + std::to_string(stopAt) + " of") != std::string::npos)
                run.e.CmdStopMigration_Click();
        };
        run.e.Form_Load();
        run.e.CmdStartConversion_Click();
        EXPECT_EQ(run.e.lastRun().messagesConverted(), converted);
        EXPECT_EQ(run.e.lastRun().alreadyPresent(), present);
        EXPECT_EQ(std::count(run.view.dbxs.begin(), run.view.dbxs.end(), "Adding to out.pst"), stopAt ? 0 : 1);
    }
    auto tree = readBack((dir_ / "out.pst").string());
    EXPECT_EQ(tree[""].size() + tree["Sub"].size(), 10u);
}

// At the cap, parts added to are filled in order: full ones stay as they are
// but are searched for what they hold; new messages go into the last part.
TEST_F(Engine, AddingAtTheSizeCapFillsThePartsInOrder) {
    std::multiset<std::string> expected;
    std::string first;
    for (const auto& [total, converted, present] : {std::tuple{8, 8, 0}, {14, 6, 8}, {14, 0, 14}}) {
        for (int i = static_cast<int>(expected.size()); i < total; ++i) {
            const std::string subject = "m" + std::to_string(10 + i);
            writeBigMsg(dir_ / "Mail" / (i < 8 || i % 2 ? "" : "New") / (subject + ".msg"), subject, 300000);
            expected.insert(subject);
        }
        SingleRun run(dir_);
        run.e.setMaxFileSize(2 << 20);
        run.e.Form_Load();
        run.e.CmdStartConversion_Click();
        EXPECT_EQ(run.e.lastRun().messagesConverted(), converted);
        EXPECT_EQ(run.e.lastRun().alreadyPresent(), present);
        std::multiset<std::string> seen;
        int k = 1;
        for (std::string f = *run.host.out; fsys::exists(f); f = PartPath(*run.host.out, ++k)) {
            for (auto& [folder, subjects] : readBack(f)) seen.insert(subjects.begin(), subjects.end());
        }
        EXPECT_EQ(seen, expected);
        EXPECT_TRUE(first.empty() || slurp(dir_ / "out.pst") == first) << "a full part stays as it was";
        first = slurp(dir_ / "out.pst");
    }
}

}  // namespace
}  // namespace tavrin::engine
