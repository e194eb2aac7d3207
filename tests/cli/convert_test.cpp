// msg2pst convert, run as a process on message files written to a temporary
// folder: the exit status, the texts on stderr, and the files it writes
// (checked with msg2pst verify and dump-pst).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <tuple>

#include "store/core/tags.h"
#include "store/msg/msg_builder.h"
#include "cli_test_util.h"

namespace tavrin {
namespace {

namespace fsys = std::filesystem;
using namespace store;
using namespace store::tags;
using namespace clitest;

size_t countLines(const std::string& s, const std::string& needle) {
    std::istringstream in(s);
    size_t n = 0;
    for (std::string line; std::getline(in, line);) n += line.find(needle) != std::string::npos;
    return n;
}

class Convert : public Msg2pstTest {
protected:
    Convert() : Msg2pstTest("tavrin-convert-") {}
    // The number of messages dump-pst reads from a PST that verifies clean.
    int messagesIn(const std::string& pst) {
        if (run("verify " + quote(pst)) != 0) {
            ADD_FAILURE() << pst << " does not verify:\n" << out_ << err_;
            return -1;
        }
        if (run("dump-pst " + quote(pst)) != 0) {
            ADD_FAILURE() << pst << " does not dump:\n" << err_;
            return -1;
        }
        return static_cast<int>(countLines(out_, "\"subject\""));
    }
};

TEST_F(Convert, ExitsZeroWhenEveryMessageFileWasConverted) {
    writeMsg(dir_ / "src" / "a.msg", "a");
    writeMsg(dir_ / "src" / "Sub" / "b.msg", "b");
    std::ofstream(dir_ / "src" / "notes.txt") << "not a message";
    ASSERT_EQ(run("convert src out.pst"), 0) << err_;
    EXPECT_NE(err_.find("Completed:\nMessages Converted Successfully.\n"
                        "Open Converted PST file in Outlook to View Converted Messages.\n"),
              std::string::npos)
        << err_;
    EXPECT_EQ(err_.find('\r'), std::string::npos) << "the box's CR LF become LF";
    EXPECT_EQ(messagesIn("out.pst"), 2);
}

TEST_F(Convert, ExitsOneWhenSomeFilesWereNotConverted) {
    writeMsg(dir_ / "src" / "a.msg", "a");
    std::ofstream(dir_ / "src" / "bad.msg") << "not a message file";
    EXPECT_EQ(run("convert src out.pst"), 1) << err_;
    EXPECT_NE(err_.find("Completed:\n1 of 2 message file(s) were converted.\n"), std::string::npos) << err_;
    EXPECT_NE(err_.find("1 message file(s) could not be converted:\n" + shown("src/bad.msg") + ": compound file: "),
              std::string::npos)
        << err_;
    EXPECT_EQ(messagesIn("out.pst"), 1);
}

// An existing output file is never replaced from the command line: the
// conversion is refused with the reason, on one line (the output cannot be
// written, exit 3), and the old file stays as it was.
TEST_F(Convert, RefusesAnExistingOutputFile) {
    writeMsg(dir_ / "src" / "a.msg", "a");
    std::ofstream(dir_ / "out.pst") << "old contents";
    EXPECT_EQ(run("convert src out.pst"), 3);
    EXPECT_NE(err_.find("msg2pst convert: The file " + shown("out.pst") +
                        " could not be created: a file of that name already exists.\n"),
              std::string::npos)
        << err_;
    EXPECT_EQ(err_.find("Outlook Session Creation Error"), std::string::npos) << err_;
    EXPECT_EQ(err_.find(shown("src/a.msg")), std::string::npos) << "one line for the folder, none for its files";
    EXPECT_EQ(slurp(dir_ / "out.pst"), "old contents");
}

TEST_F(Convert, ExitsTwoNamingWhatIsMissing) {
    writeMsg(dir_ / "root" / "A" / "a.msg", "a");
    fsys::create_directories(dir_ / "outdir");
    EXPECT_EQ(run("convert nosuch out.pst"), 2);
    EXPECT_EQ(err_, "msg2pst convert: the source folder nosuch does not exist.\n");
    EXPECT_EQ(run("convert root/A nodir/out.pst"), 2);
    EXPECT_EQ(err_, "msg2pst convert: the output folder nodir does not exist.\n");
    EXPECT_FALSE(fsys::exists(dir_ / "nodir"));
    EXPECT_EQ(run("convert --multiple noroot outdir"), 2);
    EXPECT_EQ(err_, "msg2pst convert: the root folder noroot does not exist.\n");
    EXPECT_EQ(run("convert --multiple root nooutdir"), 2);
    EXPECT_EQ(err_, "msg2pst convert: the output folder nooutdir does not exist.\n");
    EXPECT_EQ(run("convert --multiple root outdir A B"), 2);
    EXPECT_EQ(err_, "msg2pst convert: the sub-folder root/B does not exist.\n");
    EXPECT_TRUE(fsys::is_empty(dir_ / "outdir")) << "nothing is converted after a refused command line";
    EXPECT_EQ(run("convert src"), 2);
    EXPECT_NE(err_.find("usage: msg2pst convert [--add [--duplicates add|skip]] [--max-size SIZE] [--report FILE.csv] SRC OUT.pst"), std::string::npos);
}

// On a log or a pipe the progress is one plain line per tenth of the files,
// with no carriage returns and nothing before the first file.
TEST_F(Convert, WritesPlainProgressLinesWhenStderrIsNotATerminal) {
    for (int i = 1; i <= 20; ++i) writeMsg(dir_ / "src" / ("m" + std::to_string(i) + ".msg"), "m");
    ASSERT_EQ(run("convert src out.pst"), 0) << err_;
    EXPECT_EQ(err_.find('\r'), std::string::npos);
    EXPECT_EQ(countLines(err_, "% Complete"), 11u) << err_;
    EXPECT_EQ(err_.rfind("Reading Messages & Email Metadata - (1 of 20) File(s) 5% Complete\n", 0), 0u) << err_;
    EXPECT_NE(err_.find("Reading Messages & Email Metadata - (20 of 20) File(s) 100% Complete\n"), std::string::npos);
}

TEST_F(Convert, MultipleModeWritesOnePstPerNamedSubFolder) {
    writeMsg(dir_ / "root" / "A" / "a.msg", "a");
    writeMsg(dir_ / "root" / "B" / "b1.msg", "b");
    writeMsg(dir_ / "root" / "B" / "Deep" / "b2.msg", "b");
    writeMsg(dir_ / "root" / "C" / "c.msg", "c");
    fsys::create_directories(dir_ / "one");
    fsys::create_directories(dir_ / "all");
    ASSERT_EQ(run("convert --multiple root one B"), 0) << err_;
    EXPECT_FALSE(fsys::exists(dir_ / "one" / "A.pst"));
    EXPECT_EQ(messagesIn("one/B.pst"), 2);
    ASSERT_EQ(run("convert --multiple root all"), 0) << err_;
    EXPECT_NE(err_.find("All Folders Converted Successfully."), std::string::npos) << err_;
    EXPECT_EQ(messagesIn("all/A.pst"), 1);
    EXPECT_EQ(messagesIn("all/B.pst"), 2);
    EXPECT_EQ(messagesIn("all/C.pst"), 1);
    // A second run into the same folder never replaces a file: every folder
    // fails with its reason.
    EXPECT_EQ(run("convert --multiple root all A"), 3);
    EXPECT_NE(err_.find("already exists."), std::string::npos) << err_;
    EXPECT_EQ(messagesIn("all/A.pst"), 1);
}

// Read-ahead threads and sub-folders converted side by side change nothing
// but the speed: the same stores message for message (as dump-pst reads
// them), and with --jobs the same progress, boxes, files, summary, report
// and exit status, in list order, as one folder after another.
TEST_F(Convert, ThreadsAndJobsChangeNothingButTheSpeed) {
    for (int i = 0; i < 9; ++i) writeMsg(dir_ / "root" / "A" / ("a" + std::to_string(i) + ".msg"), "a" + std::to_string(i));
    for (int i = 0; i < 4; ++i) writeMsg(dir_ / "root" / "A" / "Deep" / ("d" + std::to_string(i) + ".msg"), "d");
    for (int i = 0; i < 5; ++i) writeMsg(dir_ / "root" / "B" / ("b" + std::to_string(i) + ".msg"), "b");
    std::ofstream(dir_ / "root" / "B" / "bad.msg") << "not a message file";
    fsys::create_directories(dir_ / "root" / "C" / "empty");
    for (int i = 0; i < 6; ++i) writeMsg(dir_ / "root" / "D" / ("x" + std::to_string(i) + ".msg"), "d");
    auto dump = [&](const std::string& pst) {
        EXPECT_EQ(run("verify " + quote(pst)), 0) << pst << out_;
        EXPECT_EQ(run("dump-pst " + quote(pst)), 0) << pst << err_;
        std::string all = out_;
        EXPECT_EQ(run("dump-pst --folders " + quote(pst)), 0) << pst << err_;
        return all + out_;
    };
    ASSERT_EQ(run("convert --threads 0 root/A a0.pst"), 0) << err_;
    ASSERT_EQ(run("convert --threads=3 root/A a3.pst"), 0) << err_;
    EXPECT_EQ(dump("a3.pst"), dump("a0.pst"));
    EXPECT_EQ(countLines(dump("a0.pst"), "\"subject\""), 13u);

    auto replaced = [](std::string s, const std::string& from, const std::string& to) {
        for (size_t at = 0; (at = s.find(from, at)) != std::string::npos; at += to.size()) s.replace(at, from.size(), to);
        return s;
    };
    fsys::create_directories(dir_ / "one");
    fsys::create_directories(dir_ / "many");
    const int serial = run("convert --multiple --report one.csv root one");
    const std::string out1 = out_, err1 = err_;
    EXPECT_EQ(serial, 1) << "bad.msg was not converted";
    EXPECT_EQ(run("convert --multiple --jobs 3 --threads 2 --report many.csv root many"), serial) << err_;
    // The paths as msg2pst names them (full paths on Windows).
    const std::string many = shown("many/"), one = shown("one/");
    EXPECT_EQ(replaced(out_, many, one), out1);
    EXPECT_EQ(replaced(replaced(err_, many, one), shown("many.csv"), shown("one.csv")), err1);
    EXPECT_EQ(replaced(slurp(dir_ / "many.csv"), many, one), slurp(dir_ / "one.csv"));
    EXPECT_EQ(out1, shown("one/A.pst") + "\n" + shown("one/B.pst") + "\n" + shown("one/D.pst") + "\n");
    for (const char* name : {"A", "B", "D"})
        EXPECT_EQ(dump(std::string("many/") + name + ".pst"), dump(std::string("one/") + name + ".pst")) << name;

    // A folder whose file exists fails with its reason in its place, and
    // the exit status says an output could not be written.
    EXPECT_EQ(run("convert --multiple --jobs 1 root one B D"), 3);
    const std::string failedSerial = err_;
    EXPECT_EQ(run("convert --multiple --jobs 2 root one B D"), 3);
    EXPECT_EQ(err_, failedSerial);

    for (const char* bad : {"--jobs 0 --multiple root many", "--jobs x --multiple root many", "--threads 999 root/A t.pst",
                            "--threads -1 root/A t.pst", "--jobs 2 root/A t.pst"})
        EXPECT_EQ(run(std::string("convert ") + bad), 2) << bad;
    EXPECT_FALSE(fsys::exists(dir_ / "t.pst"));
}

// On a terminal the progress is one bar redrawn in place; the box starts on
// a line of its own. util-linux script gives the run a terminal.
TEST_F(Convert, DrawsABarOnATerminal) {
#ifdef _WIN32
    GTEST_SKIP() << "POSIX terminals only: script(1) gives the run a terminal";
#endif
    if (std::system("command -v script >/dev/null 2>&1") != 0) GTEST_SKIP() << "no script(1) for a terminal";
    for (int i = 1; i <= 4; ++i) writeMsg(dir_ / "src" / ("m" + std::to_string(i) + ".msg"), "m");
    const std::string cmd = "cd '" + dir_.string() + "' && script -qec \"'" + bin_.string() +
                            "' convert src out.pst\" /dev/null >tty.txt 2>&1 </dev/null";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    const std::string t = slurp(dir_ / "tty.txt");
    EXPECT_NE(t.find("\r[#####               ] 25% Complete\r[##########"), std::string::npos) << t;
    EXPECT_NE(t.find("[####################] 100% Complete\r\nCompleted:"), std::string::npos) << t;
    EXPECT_EQ(t.find("Reading Messages"), std::string::npos) << "no plain lines on a terminal";
}

// --add, step by step: command, exit status, a line of its account, the
// messages in files after it.
TEST_F(Convert, AddsToExistingFilesOnlyWhenAskedAndNeverTwice) {
    for (const char* f : {"src/a.msg", "src/Sub/b.msg", "more/c.msg", "root/A/a1.msg", "root/B/b1.msg"})
        writeMsg(dir_ / f, f);
    fsys::create_directories(dir_ / "out");
    const std::tuple<std::string, int, std::string, std::vector<std::pair<std::string, int>>> steps[] = {
        {"convert --add src out.pst", 0, "Messages Converted Successfully.\n", {{"out.pst", 2}}},
        {"convert src out.pst", 3, "The file " + shown("out.pst") + " could not be created: a file of that name", {}},
        {"convert --add more out.pst", 0, "Messages Converted Successfully.\n", {{"out.pst", 3}}},
        {"convert --add --report r.csv src out.pst", 0, "Nothing to add: 2 already present.\n", {{"out.pst", 3}}},
        {"convert src out.pst --duplicates=skip", 2, "--duplicates goes with --add.", {}},
        {"convert --add --duplicates add src out.pst", 0, "Successfully.\n", {{"out.pst", 5}}},
        {"convert --multiple root out", 0, "All Folders Converted Successfully.\n", {{"out/A.pst", 1}}},
        {"convert --multiple root out", 3, "already exists.", {{"out/A.pst", 1}}},
        {"convert --multiple --add --jobs 2 root out", 0, "Nothing to add: 2 already present.\n", {{"out/B.pst", 1}}},
    };
    for (const auto& [args, status, said, files] : steps) {
        EXPECT_EQ(run(args), status) << args << "\n" << err_;
        EXPECT_NE(err_.find(said), std::string::npos) << args << "\n" << err_;
        for (const auto& [file, n] : files) EXPECT_EQ(messagesIn(file), n) << args;
    }
    EXPECT_NE(slurp(dir_ / "r.csv").find(shown("src/Sub/b.msg") + ",already present,,"), std::string::npos);
}

}  // namespace
}  // namespace tavrin
