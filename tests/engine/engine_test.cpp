// The conversion engine over the real store, with a fake window, wizard and
// dialogs; every PST it writes is verified and read back.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <tuple>

#include "engine/conversion.h"
#include "store/core/tags.h"
#include "store/msg/msg_builder.h"
#include "store/pst/messaging/pst_reader.h"
#include "store/pst/verify/verifier.h"

namespace tavrin::engine {
namespace {

namespace fsys = std::filesystem;
using namespace store;
using namespace store::tags;

struct FakeView : StatusView {
    std::string c1, dbx, prog, frame, title;
    float value = 0;
    bool loaded = true;
    std::map<Button, bool> enabled, visible;
    void setCount1(const std::string& c) override { c1 = c; }
    std::string count1() const override { return c1; }
    void setCurrentDbx(const std::string& c) override { dbx = c; }
    void setProgressLabel(const std::string& c) override { prog = c; }
    std::string progressLabel() const override { return prog; }
    void setFrameCaption(const std::string& c) override { frame = c; }
    void setProgressRange(int, int) override {}
    void setProgressValue(float v) override { value = v; }
    float progressValue() const override { return value; }
    void setButtonEnabled(Button b, bool e) override { enabled[b] = e; }
    void setButtonVisible(Button b, bool v) override { visible[b] = v; }
    void setWindowTitle(const std::string& t) override { title = t; }
    bool deleteSourceTicked() const override { return false; }
    void unload() override { loaded = false; }
    bool isLoaded() const override { return loaded; }
};

struct FakeJob : JobView {
    bool single = true;
    std::string source, output;
    std::vector<std::pair<std::string, std::string>> rows;
    std::vector<int> marked;
    std::map<int, std::tuple<int, int, int>> colour;
    std::map<int, bool> bold;
    bool optSingle() const override { return single; }
    std::string sourceMailbox() const override { return source; }
    int rowCount() const override { return static_cast<int>(rows.size()); }
    bool rowChecked(int) const override { return true; }
    std::string rowText(int r) const override { return rows[r - 1].first; }
    std::string rowSubItemText(int r) const override { return rows[r - 1].second; }
    void setRowForeColor(int r, int red, int green, int blue) override {
        marked.push_back(r);
        colour[r] = {red, green, blue};
    }
    void setRowBold(int r, bool b) override { bold[r] = b; }
    std::string outputFolder() const override { return output; }
};

struct FakeHost : Host {
    std::string out;
    std::function<void()> onYield;
    MsgResult answer = MsgResult::Yes;
    std::vector<std::string> texts;
    std::vector<MsgIcon> icons;
    void yield() override {
        if (onYield) onYield();
    }
    MsgResult messageBox(const std::string& t, const std::string&, MsgButtons b, MsgIcon i) override {
        texts.push_back(t);
        icons.push_back(i);
        return b == MsgButtons::YesNo ? answer : MsgResult::Ok;
    }
    std::optional<std::string> saveDialog(const std::string&, const std::string&, bool& r) override {
        r = false;
        return out;
    }
};

// A single-folder run from DIR/Mail into DIR/out.pst that yields at every
// point, so that tests can act in the middle of it.
struct SingleRun {
    FakeView view;
    FakeJob job;
    FakeHost host;
    ConversionEngine e{view, job, host};
    explicit SingleRun(const fsys::path& dir) {
        job.source = (dir / "Mail").string();
        host.out = (dir / "out.pst").string();
        e.setYieldInterval(std::chrono::microseconds(0));
    }
};

void writeMsg(const fsys::path& p, const std::string& subject) {
    fsys::create_directories(p.parent_path());
    testing::MessageBuilder m;
    m.unicode(makeTag(PidTagSubject, PT_UNICODE), subject);
    const Bytes b = m.file();
    std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

class Engine : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fsys::temp_directory_path() / ("tavrin-engine-" + std::to_string(::getpid()));
        fsys::remove_all(dir_);
        fsys::create_directories(dir_ / "Mail");
    }
    void TearDown() override { fsys::remove_all(dir_); }
    // folder path -> subjects
    std::map<std::string, std::vector<std::string>> readBack(const std::string& pst) {
        auto rep = pst::verify::verifyFile(pst);
        EXPECT_TRUE(rep.ok() && rep->clean());
        std::map<std::string, std::vector<std::string>> out;
        auto r = pst::messaging::PstReader::open(pst);
        EXPECT_TRUE(r.ok());
        if (!r.ok()) return out;
        auto tree = (*r)->folderTree((*r)->ipmSubtree());
        EXPECT_TRUE(tree.ok());
        if (!tree.ok()) return out;
        for (auto& f : *tree) {
            auto& v = out[f.path];
            for (uint32_t nid : f.folder.messages) {
                auto m = (*r)->readMessage(nid);
                if (m.ok()) v.push_back("m");
            }
        }
        return out;
    }
    fsys::path dir_;
};

TEST_F(Engine, SingleFolderMirrorsAndMapsAndFlagsEveryMessage) {
    writeMsg(dir_ / "Mail" / "a.msg", "top");
    writeMsg(dir_ / "Mail" / "Inbox" / "Old" / "b.MSG", "old");
    writeMsg(dir_ / "Mail" / "Sent" / "Projects" / "c.msg", "proj");
    writeMsg(dir_ / "Mail" / "Work" / "A!B" / "d.msg", "ab");
    writeMsg(dir_ / "Mail" / "Emailed Contacts" / "e.msg", "ec");
    std::ofstream(dir_ / "Mail" / "notes.txt") << "x";
    SingleRun run(dir_);
    FakeView& view = run.view;
    FakeHost& host = run.host;
    ConversionEngine& e = run.e;
    e.Form_Load();
    e.CmdStartConversion_Click();
    EXPECT_EQ(e.lastRun().messagesConverted, 5);
    EXPECT_TRUE(e.lastRun().allConverted());
    ASSERT_FALSE(host.texts.empty());
    EXPECT_EQ(host.texts.back(), "Messages Converted Successfully.\r\nOpen Converted PST file in Outlook to View Converted Messages.");
    auto tree = readBack(host.out);
    EXPECT_EQ(tree[""].size(), 1u);
    EXPECT_EQ(tree["Inbox/Old"].size(), 1u);
    EXPECT_EQ(tree["Sent/Projects"].size(), 1u);
    EXPECT_EQ(tree["Work/A"].size(), 1u);
    EXPECT_EQ(tree["Emailed Contacts"].size(), 1u);
    EXPECT_EQ(view.frame, "Reading Messages & Email Metadata - (6 of 6) File(s)");
    EXPECT_EQ(view.prog, "100% Complete");
}

TEST_F(Engine, DateStampFormat) {
    std::tm t{};
    t.tm_mday = 6; t.tm_mon = 11; t.tm_year = 126; t.tm_hour = 1; t.tm_min = 49; t.tm_sec = 28;
    EXPECT_EQ(FormatDateStamp(t), "6.12.26 1.49.28");
}

TEST_F(Engine, MultipleModeNeverReplacesAnExistingFile) {
    writeMsg(dir_ / "Mail" / "Work" / "a.msg", "w");
    writeMsg(dir_ / "Mail" / "Home" / "b.msg", "h");
    fsys::create_directories(dir_ / "Out");
    std::ofstream(dir_ / "Out" / "Work.pst") << "old";
    FakeView view;
    FakeJob job;
    FakeHost host;
    job.single = false;
    job.output = " " + (dir_ / "Out").string() + " ";
    job.rows = {{"Work", (dir_ / "Mail" / "Work").string()}, {"Home", (dir_ / "Mail" / "Home").string()}};
    ConversionEngine e(view, job, host);
    e.setYieldInterval(std::chrono::microseconds(0));
    e.Form_Load();
    e.CmdStartConversion_Click();
    EXPECT_EQ(e.lastRun().folderFailures, 1);
    EXPECT_FALSE(e.lastRun().allConverted());
    ASSERT_GE(host.texts.size(), 2u);
    EXPECT_NE(host.texts[0].find("already exists"), std::string::npos);
    std::ifstream in(dir_ / "Out" / "Work.pst");
    std::string old;
    in >> old;
    EXPECT_EQ(old, "old");
    EXPECT_EQ(readBack((dir_ / "Out" / "Home.pst").string())[""].size(), 1u);
    EXPECT_EQ(job.marked, (std::vector<int>{1, 2}));
    EXPECT_EQ(job.colour[1], std::make_tuple(0, 128, 0));
    EXPECT_TRUE(job.bold[2]);
}

TEST_F(Engine, ProgressAndAConfirmedStopThatKeepsTheFile) {
    for (int i = 1; i <= 8; ++i) writeMsg(dir_ / "Mail" / ("m" + std::to_string(i) + ".msg"), "s");
    SingleRun run(dir_);
    FakeView& view = run.view;
    FakeHost& host = run.host;
    ConversionEngine& e = run.e;
    std::vector<std::string> frames, labels;
    std::vector<float> values;
    host.onYield = [&] {
        if (view.frame.find(" of 8)") != std::string::npos && (frames.empty() || frames.back() != view.frame)) {
            frames.push_back(view.frame);
            values.push_back(view.value);
            labels.push_back(view.prog);
        }
        if (frames.size() == 3) e.CmdStopMigration_Click();
    };
    e.Form_Load();
    e.CmdStartConversion_Click();
    ASSERT_GE(frames.size(), 3u);
    EXPECT_EQ(frames[0], "Reading Messages & Email Metadata - (1 of 8) File(s)");
    EXPECT_FLOAT_EQ(values[0], 12.5f);
    EXPECT_EQ(labels[0], "12% Complete");
    EXPECT_FLOAT_EQ(values[2], 37.5f);
    EXPECT_EQ(labels[2], "38% Complete");
    EXPECT_TRUE(e.lastRun().stopped);
    EXPECT_FALSE(view.loaded);
    EXPECT_EQ(host.texts.back().rfind("Conversion Stopped.", 0), 0u);
    auto tree = readBack(host.out);
    EXPECT_GE(tree[""].size(), 3u);
    EXPECT_LT(tree[""].size(), 8u);
}

void writeMsgWithAttachment(const fsys::path& p) {
    fsys::create_directories(p.parent_path());
    testing::MessageBuilder m;
    m.unicode(makeTag(PidTagSubject, PT_UNICODE), "with attachment");
    testing::MessageBuilder::Att a;
    a.props.fixed(makeTag(PidTagAttachMethod, PT_LONG), afByValue);
    a.props.variable(makeTag(PidTagAttachDataBinary, PT_BINARY), Bytes{1, 2, 3});
    m.attachments.push_back(a);
    const Bytes b = m.file();
    std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

// Files that cannot be imported are counted, named (ten at most, then a
// count) under a warning icon, left untouched, and never stop the good ones;
// each converted message is flagged read, and has-attachments only when it
// has one.
TEST_F(Engine, FailedFilesAreListedAndGoodOnesFlaggedByTheirAttachments) {
    writeMsg(dir_ / "Mail" / "plain.msg", "plain");
    writeMsgWithAttachment(dir_ / "Mail" / "att.msg");
    for (int i = 0; i < 12; ++i)
        std::ofstream(dir_ / "Mail" / ("bad" + std::to_string(i) + ".msg")) << "not a message file";
    SingleRun run(dir_);
    FakeHost& host = run.host;
    ConversionEngine& e = run.e;
    e.Form_Load();
    e.CmdStartConversion_Click();
    EXPECT_EQ(e.lastRun().messagesConverted, 2);
    EXPECT_EQ(e.lastRun().failedFiles.size(), 12u);
    EXPECT_FALSE(e.lastRun().allConverted());
    ASSERT_FALSE(host.texts.empty());
    const std::string& box = host.texts.back();
    EXPECT_NE(box.find("12 message file(s) could not be converted:"), std::string::npos) << box;
    EXPECT_NE(box.find("and 2 more."), std::string::npos) << box;
    EXPECT_EQ(host.icons.back(), MsgIcon::Warning);
    std::ifstream in(dir_ / "Mail" / "bad0.msg");
    std::string first;
    std::getline(in, first);
    EXPECT_EQ(first, "not a message file");

    auto rep = pst::verify::verifyFile(host.out);
    ASSERT_TRUE(rep.ok() && rep->clean());
    auto r = pst::messaging::PstReader::open(host.out);
    ASSERT_TRUE(r.ok());
    auto tree = (*r)->folderTree((*r)->ipmSubtree());
    ASSERT_TRUE(tree.ok());
    std::map<std::string, int32_t> flags;
    for (auto& f : *tree)
        for (uint32_t nid : f.folder.messages) {
            auto m = (*r)->readMessage(nid);
            ASSERT_TRUE(m.ok());
            const Property* fl = m->props.findTag(makeTag(PidTagMessageFlags, PT_LONG));
            ASSERT_TRUE(fl);
            flags[m->attachments.empty() ? "plain" : "att"] = fl->asInt32();
        }
    EXPECT_EQ(flags["plain"], 0x01);
    EXPECT_EQ(flags["att"], 0x11);
}

// A link back to the source folder must not make the walk endless or queue
// a file twice.
TEST_F(Engine, ALinkLoopInTheSourceConvertsEachFileOnce) {
    writeMsg(dir_ / "Mail" / "a.msg", "a");
    writeMsg(dir_ / "Mail" / "Sub" / "b.msg", "b");
    std::error_code ec;
    fsys::create_directory_symlink(dir_ / "Mail", dir_ / "Mail" / "Sub" / "loop", ec);
    if (ec) GTEST_SKIP() << "no symbolic links here: " << ec.message();
    SingleRun run(dir_);
    FakeHost& host = run.host;
    ConversionEngine& e = run.e;
    e.Form_Load();
    e.CmdStartConversion_Click();
    EXPECT_EQ(e.lastRun().filesFound, 2);
    EXPECT_EQ(e.lastRun().messagesConverted, 2);
    auto tree = readBack(host.out);
    EXPECT_EQ(tree[""].size(), 1u);
    EXPECT_EQ(tree["Sub"].size(), 1u);
}

// Skip: a double press asks once; No clears the request, so the folder
// converts whole.
TEST_F(Engine, ADoubleSkipAsksOnceAndNoClearsIt) {
    for (int i = 1; i <= 4; ++i) writeMsg(dir_ / "Mail" / ("m" + std::to_string(i) + ".msg"), "s");
    SingleRun run(dir_);
    FakeView& view = run.view;
    FakeHost& host = run.host;
    ConversionEngine& e = run.e;
    host.answer = MsgResult::No;
    bool pressed = false;
    host.onYield = [&] {
        if (!pressed && view.frame.find("(1 of 4)") != std::string::npos) {
            pressed = true;
            e.CmdSkip_Click();
            e.CmdSkip_Click();
        }
    };
    e.Form_Load();
    e.CmdStartConversion_Click();
    ASSERT_TRUE(pressed);
    int asked = 0;
    for (const auto& t : host.texts) asked += t.find("\"Skip\"") != std::string::npos;
    EXPECT_EQ(asked, 1);
    EXPECT_FALSE(e.skipRequested());
    EXPECT_EQ(e.lastRun().messagesConverted, 4);
    EXPECT_TRUE(e.lastRun().skippedFolders.empty());
    EXPECT_EQ(readBack(host.out)[""].size(), 4u);
}

}  // namespace
}  // namespace tavrin::engine
