// msg2pst convert --add, run as a process: adding to an existing file (and
// creating one that is not there), the refusal without --add, a second run
// that adds nothing, --duplicates, and the multiple-folder mode.
#include <gtest/gtest.h>

#include <sstream>

#include "cli_test_util.h"

namespace tavrin {
namespace {

using namespace clitest;

class ConvertAdd : public Msg2pstTest {
protected:
    ConvertAdd() : Msg2pstTest("tavrin-convert-add-") {}
    // The messages dump-pst reads from a PST that verifies clean.
    int messagesIn(const std::string& pst) {
        if (run("verify " + quote(pst)) != 0) {
            ADD_FAILURE() << pst << " does not verify:\n" << out_ << err_;
            return -1;
        }
        if (run("dump-pst " + quote(pst)) != 0) return -1;
        std::istringstream in(out_);
        int n = 0;
        for (std::string line; std::getline(in, line);) n += line.find("\"subject\"") != std::string::npos;
        return n;
    }
};

// Each step: the command, its exit status, a line its account holds, and
// the messages in the file(s) after it.
struct Step {
    std::string args;
    int status;
    std::string said;
    std::vector<std::pair<std::string, int>> files;
};

TEST_F(ConvertAdd, AddsToAnExistingFileOnlyWhenAskedAndNeverTwice) {
    writeMsg(dir_ / "src" / "a.msg", "a");
    writeMsg(dir_ / "src" / "Sub" / "b.msg", "b");
    writeMsg(dir_ / "more" / "c.msg", "c");
    const Step steps[] = {
        {"convert --add src out.pst", 0, "Messages Converted Successfully.\n", {{"out.pst", 2}}},
        {"convert src out.pst", 3, "msg2pst convert: The file " + shown("out.pst") +
                                       " could not be created: a file of that name already exists.\n", {{"out.pst", 2}}},
        {"convert --add more out.pst", 0, "Messages Converted Successfully.\n", {{"out.pst", 3}}},
        {"convert --add --report r.csv src out.pst", 0, "Nothing to add: 2 already present.\n", {{"out.pst", 3}}},
        {"convert src out.pst --duplicates=skip", 2, "--duplicates goes with --add.", {{"out.pst", 3}}},
        {"convert --add --duplicates maybe src out.pst", 2, "--duplicates needs add or skip, not 'maybe'.", {}},
        {"convert --add --duplicates add src out.pst", 0, "Messages Converted Successfully.\n", {{"out.pst", 5}}},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.args);
        EXPECT_EQ(run(s.args), s.status) << err_;
        EXPECT_NE(err_.find(s.said), std::string::npos) << err_;
        for (const auto& [file, n] : s.files) EXPECT_EQ(messagesIn(file), n);
    }
    const std::string report = slurp(dir_ / "r.csv");
    EXPECT_NE(report.find(shown("src/a.msg") + ",already present,,"), std::string::npos) << report;
    EXPECT_NE(report.find(shown("src/Sub/b.msg") + ",already present,,"), std::string::npos) << report;
}

TEST_F(ConvertAdd, MultipleModeAddsToEachNamedFile) {
    writeMsg(dir_ / "root" / "A" / "a1.msg", "a1");
    writeMsg(dir_ / "root" / "B" / "b1.msg", "b1");
    fsys::create_directories(dir_ / "out");
    ASSERT_EQ(run("convert --multiple root out"), 0) << err_;
    writeMsg(dir_ / "root" / "A" / "a2.msg", "a2");
    writeMsg(dir_ / "root" / "C" / "c1.msg", "c1");
    const Step steps[] = {
        {"convert --multiple root out", 3, "already exists.", {{"out/A.pst", 1}, {"out/B.pst", 1}, {"out/C.pst", 1}}},
        {"convert --multiple --add root out", 0, "All Folders Converted Successfully: 1 added, 3 already present.\n",
         {{"out/A.pst", 2}, {"out/B.pst", 1}, {"out/C.pst", 1}}},
        {"convert --multiple --add --jobs 2 root out", 0, "Nothing to add: 4 already present.\n",
         {{"out/A.pst", 2}, {"out/B.pst", 1}, {"out/C.pst", 1}}},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.args);
        EXPECT_EQ(run(s.args), s.status) << err_;
        EXPECT_NE(err_.find(s.said), std::string::npos) << err_;
        for (const auto& [file, n] : s.files) EXPECT_EQ(messagesIn(file), n) << file;
    }
}

}  // namespace
}  // namespace tavrin
