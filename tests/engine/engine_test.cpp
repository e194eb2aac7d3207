// The conversion engine over the real store, with a fake window, wizard and
// dialogs; every PST it writes is verified and read back.
#include "engine_fixture.h"

#include <set>

#include "fs/file_io.h"
#include "fs/path_separator.h"
#include "platform_test_util.h"

namespace tavrin::engine {
namespace {

using namespace enginetest;
using namespace store;

const std::string S(fs::kPathSeparatorText);
using namespace store::tags;

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
    EXPECT_EQ(e.lastRun().messagesConverted(), 5);
    EXPECT_TRUE(e.lastRun().allConverted());
    ASSERT_FALSE(host.texts.empty());
    EXPECT_EQ(host.texts.back(), "Messages Converted Successfully.\r\nOpen Converted PST file in Outlook to View Converted Messages.");
    auto tree = readBack(*host.out);
    EXPECT_EQ(tree[""].size(), 1u);
    EXPECT_EQ(tree["Inbox/Old"].size(), 1u);
    EXPECT_EQ(tree["Sent Items/Projects"].size(), 1u);
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

// It adds to an existing file, and one that is no PST is left untouched.
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
    EXPECT_EQ(e.lastRun().outputFailures.size(), 1u);
    EXPECT_FALSE(e.lastRun().allConverted());
    ASSERT_GE(host.texts.size(), 2u);
    EXPECT_EQ(host.texts[0], "Work.pst is not an Outlook data file (.pst); nothing was added to it.");
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
    auto tree = readBack(*host.out);
    EXPECT_GE(tree[""].size(), 3u);
    EXPECT_LT(tree[""].size(), 8u);
    EXPECT_EQ(host.texts.back().rfind("Conversion stopped: " + std::to_string(tree[""].size()) +
                                          " of 8 message file(s) were converted.\r\n",
                                      0),
              0u)
        << host.texts.back();
    EXPECT_EQ(host.icons.back(), MsgIcon::Warning);
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
    EXPECT_EQ(e.lastRun().messagesConverted(), 2);
    EXPECT_EQ(e.lastRun().failed(), 12);
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

    auto rep = pst::verify::verifyFile(*host.out);
    ASSERT_TRUE(rep.ok() && rep->clean());
    auto r = pst::messaging::PstReader::open(*host.out);
    ASSERT_TRUE(r.ok());
    auto tree = (*r)->folderTree((*r)->ipmSubtree());
    ASSERT_TRUE(tree.ok());
    std::map<std::string, int32_t> flags;
    size_t saved = 0;
    for (auto& f : *tree) saved += f.folder.messages.size();
    EXPECT_EQ(saved, 2u) << "a failed import must leave no empty item behind";
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
    EXPECT_EQ(e.lastRun().filesFound(), 2);
    EXPECT_EQ(e.lastRun().messagesConverted(), 2);
    auto tree = readBack(*host.out);
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
    EXPECT_EQ(e.lastRun().messagesConverted(), 4);
    EXPECT_TRUE(e.lastRun().skippedFolders.empty());
    EXPECT_EQ(readBack(*host.out)[""].size(), 4u);
}


std::string toUtf8Ascii(const std::u16string& u) {
    std::string s;
    for (char16_t c : u) s += static_cast<char>(c);
    return s;
}

std::tm fixedStamp() {
    std::tm t{};
    t.tm_mday = 6; t.tm_mon = 11; t.tm_year = 126; t.tm_hour = 1; t.tm_min = 49; t.tm_sec = 28;
    return t;
}

std::string storeName(const std::string& pst) {
    auto r = pst::messaging::PstReader::open(pst);
    if (!r.ok()) return "<unreadable>";
    const Property* p = (*r)->storeProperties().findTag(makeTag(PidTagDisplayName, PT_UNICODE));
    return p ? toUtf8Ascii(p->asUnicode()) : "<none>";
}

// A source that ends in the separator (the form of a drive root: "/" on
// POSIX, D:\ on Windows) takes the first-level branch: Inbox and Sent are the
// store's default folders, and everything below them goes under those.
TEST_F(Engine, ASourceEndingInTheSeparatorMapsInboxAndSentOntoTheDefaultFolders) {
    writeMsg(dir_ / "Mail" / "top.msg", "top");
    writeMsg(dir_ / "Mail" / "Inbox" / "a.msg", "inbox");
    writeMsg(dir_ / "Mail" / "Inbox" / "Old" / "b.msg", "old");
    writeMsg(dir_ / "Mail" / "Sent" / "c.msg", "sent");
    writeMsg(dir_ / "Mail" / "Sent" / "Projects" / "d.msg", "projects");
    writeMsg(dir_ / "Mail" / "Sent" / "Projects" / "X" / "e.msg", "x");
    writeMsg(dir_ / "Mail" / "Emailed Contacts" / "f.msg", "contacts");
    writeMsg(dir_ / "Mail" / "Work" / "g.msg", "work");
    SingleRun run(dir_);
    run.job.source = mail() + S;
    run.e.setClock(fixedStamp);
    run.e.Form_Load();
    run.e.CmdStartConversion_Click();
    EXPECT_TRUE(run.e.lastRun().allConverted()) << run.host.texts.back();
    EXPECT_EQ(run.e.lastRun().messagesConverted(), 8);
    EXPECT_EQ(run.view.c1, "Migrating 8 items from " + mail() + S);
    // The folder name after the last separator is empty.
    ASSERT_EQ(run.host.proposed.size(), 1u);
    EXPECT_EQ(run.host.proposed[0], "6.12.26 1.49.28.pst");
    EXPECT_EQ(storeName(*run.host.out), " : Created - 6.12.26 1.49.28");
    auto tree = readBack(*run.host.out);
    using V = std::vector<std::string>;
    EXPECT_EQ(tree[""], V{"top"});
    EXPECT_EQ(tree["Inbox"], V{"inbox"});
    EXPECT_EQ(tree["Inbox/Old"], V{"old"});
    EXPECT_EQ(tree["Sent Items"], V{"sent"});
    EXPECT_EQ(tree["Sent Items/Projects"], V{"projects"});
    EXPECT_EQ(tree["Sent Items/Projects/X"], V{"x"});
    // Not created by the mirroring, created when its message needs it.
    EXPECT_EQ(tree["Emailed Contacts"], V{"contacts"});
    EXPECT_EQ(tree["Work"], V{"work"});
    EXPECT_EQ(tree.count("Sent"), 0u);
    EXPECT_EQ(tree.count("Sent/Projects"), 0u);
}

// Without the trailing separator every relative path begins with one: a
// first-level Inbox and Sent are still the default Inbox and Sent Items; the
// folders the mirroring never creates still receive their messages.
TEST_F(Engine, WithoutTheTrailingSeparatorInboxAndSentAreTheDefaultFoldersToo) {
    writeMsg(dir_ / "Mail" / "Inbox" / "a.msg", "inbox");
    writeMsg(dir_ / "Mail" / "Sent" / "c.msg", "sent");
    writeMsg(dir_ / "Mail" / "Sent" / "Projects" / "d.msg", "projects");
    for (const char* f : {"Calendar", "Contacts", "Tasks", "Notebook", "Conversations"})
        writeMsg(dir_ / "Mail" / "Work" / f / "m.msg", f);
    SingleRun run(dir_);
    run.e.setClock(fixedStamp);
    run.e.Form_Load();
    run.e.CmdStartConversion_Click();
    EXPECT_TRUE(run.e.lastRun().allConverted()) << run.host.texts.back();
    ASSERT_EQ(run.host.proposed.size(), 1u);
    EXPECT_EQ(run.host.proposed[0], "Mail6.12.26 1.49.28.pst");
    EXPECT_EQ(storeName(*run.host.out), "Mail : Created - 6.12.26 1.49.28");
    auto tree = readBack(*run.host.out);
    using V = std::vector<std::string>;
    EXPECT_EQ(tree["Inbox"], V{"inbox"});
    EXPECT_EQ(tree["Sent Items"], V{"sent"});
    EXPECT_EQ(tree["Sent Items/Projects"], V{"projects"});
    EXPECT_EQ(tree.count("Sent"), 0u);
    for (const char* f : {"Calendar", "Contacts", "Tasks", "Notebook", "Conversations"})
        EXPECT_EQ(tree[std::string("Work/") + f], V{f}) << f;
}

// Keys K1... restart with every folder; Z... keep growing for the life of
// the window, across runs, so that the folder queue's keys stay unique even
// where the single-folder mode does not empty it.
TEST_F(Engine, QueueKeysAndTheFolderNumberAcrossTwoRuns) {
    for (const char* n : {"a.msg", "b.msg", "c.txt"}) writeMsg(dir_ / "Mail" / n, n);
    for (const char* n : {"d.msg", "e.msg"}) writeMsg(dir_ / "Mail" / "Old" / n, n);
    SingleRun run(dir_);
    std::vector<std::string> fileKeys, files, folderKeys, folders;
    run.host.onYield = [&] {
        if (run.view.dbx == "Reading Folder(s)..." && fileKeys.empty()) {
            fileKeys = run.e.fileQueue().keys();
            files = run.e.fileQueue().items();
            folderKeys = run.e.folderQueue().keys();
            folders = run.e.folderQueue().items();
        }
    };
    run.e.Form_Load();
    run.e.CmdStartConversion_Click();
    EXPECT_EQ(fileKeys, (std::vector<std::string>{"K1", "K2", "K3", "K4", "K5"}));
    ASSERT_EQ(files.size(), 5u);
    // A folder's own files come before those of its sub-folders.
    for (size_t i = 0; i < 3; ++i) EXPECT_EQ(fsys::path(files[i]).parent_path(), dir_ / "Mail") << files[i];
    for (size_t i = 3; i < 5; ++i) EXPECT_EQ(fsys::path(files[i]).parent_path(), dir_ / "Mail" / "Old") << files[i];
    EXPECT_EQ(folderKeys, std::vector<std::string>{"Z0"});
    EXPECT_EQ(folders, std::vector<std::string>{mail() + S + "Old"});
    EXPECT_EQ(run.view.c1, "Migrating 5 items from " + mail() + S);
    EXPECT_EQ(run.e.totalFiles(), 5);
    EXPECT_EQ(run.e.nextFolderNumber(), 1);
    // The closing steps empty both queues.
    EXPECT_EQ(run.e.fileQueue().Count(), 0);
    EXPECT_EQ(run.e.folderQueue().Count(), 0);

    run.host.out = (dir_ / "second.pst").string();
    fileKeys.clear();
    run.e.CmdStartConversion_Click();
    EXPECT_EQ(fileKeys, (std::vector<std::string>{"K1", "K2", "K3", "K4", "K5"}));
    EXPECT_EQ(folderKeys, std::vector<std::string>{"Z1"});
    EXPECT_EQ(run.e.nextFolderNumber(), 2);
    EXPECT_EQ(run.e.lastRun().messagesConverted(), 4);
    EXPECT_EQ(readBack((dir_ / "second.pst").string())["Old"].size(), 2u);
}

// A source with no files: nothing is converted and the queues stay as the
// walk left them; a second run appends Z2, Z3 to the same folder queue.
TEST_F(Engine, AFolderWithoutFilesIsNotConvertedAndSaysSo) {
    fsys::create_directories(dir_ / "Mail" / "A" / "B");
    SingleRun run(dir_);
    run.e.Form_Load();
    run.e.CmdStartConversion_Click();
    EXPECT_TRUE(run.host.proposed.empty()) << "no folder conversion for an empty source";
    EXPECT_EQ(run.view.c1, "Migrating 0 items from " + mail() + S);
    ASSERT_EQ(run.host.texts.size(), 1u);
    EXPECT_EQ(run.host.texts[0], "No files were found to convert.");
    EXPECT_EQ(run.host.titles[0], "Completed");
    EXPECT_EQ(run.host.icons[0], MsgIcon::Information);
    EXPECT_FALSE(run.view.enabled[Button::StartConversion]);
    EXPECT_FALSE(fsys::exists(*run.host.out));
    EXPECT_EQ(run.e.folderQueue().keys(), (std::vector<std::string>{"Z0", "Z1"}));
    EXPECT_EQ(run.e.folderQueue().items(), (std::vector<std::string>{mail() + S + "A", mail() + S + "A" + S + "B"}));
    run.e.CmdStartConversion_Click();
    EXPECT_EQ(run.e.folderQueue().keys(), (std::vector<std::string>{"Z0", "Z1", "Z2", "Z3"}));
    EXPECT_EQ(run.e.nextFolderNumber(), 4);
}

// Stop pressed while a skip request is pending closes the window at once and
// leaves the stop set; the run ends as after a confirmed stop, without
// asking, and the file keeps the messages saved before.
TEST_F(Engine, AStopWhileASkipIsPendingClosesTheWindowAndKeepsTheFile) {
    for (int i = 1; i <= 6; ++i) writeMsg(dir_ / "Mail" / ("m" + std::to_string(i) + ".msg"), "s");
    SingleRun run(dir_);
    bool pressed = false, closedAtOnce = false;
    run.host.onYield = [&] {
        if (!pressed && run.view.frame.find("(2 of 6)") != std::string::npos) {
            pressed = true;
            run.e.CmdSkip_Click();
            run.e.CmdStopMigration_Click();
            closedAtOnce = !run.view.loaded;
        }
    };
    run.e.Form_Load();
    run.e.CmdStartConversion_Click();
    ASSERT_TRUE(pressed);
    EXPECT_TRUE(closedAtOnce);
    EXPECT_TRUE(run.e.stopRequested());
    EXPECT_EQ(run.host.asked("Confirm Skip"), 0);
    EXPECT_EQ(run.host.asked("Confirm Stop"), 0);
    EXPECT_TRUE(run.e.lastRun().stopped);
    EXPECT_FALSE(run.e.lastRun().allConverted());
    ASSERT_FALSE(run.host.texts.empty());
    const size_t kept = readBack(*run.host.out)[""].size();
    EXPECT_GE(kept, 2u);
    EXPECT_LT(kept, 6u);
    EXPECT_EQ(run.host.texts.back(), "Conversion stopped: " + std::to_string(kept) +
                                         " of 6 message file(s) were converted.\r\n"
                                         "Open Converted PST file in Outlook to View Converted Messages.\r\n"
                                         "Files written:\r\n" + *run.host.out + "\r\n"
                                         "The report of every file is in " + (dir_ / "out report.csv").string() + ".");
}

// Closing the window with its close box during a run is a confirmed stop:
// no question, the run ends, the file is complete.
TEST_F(Engine, ClosingTheWindowDuringARunActsAsAConfirmedStop) {
    for (int i = 1; i <= 5; ++i) writeMsg(dir_ / "Mail" / ("m" + std::to_string(i) + ".msg"), "s");
    SingleRun run(dir_);
    bool closed = false;
    run.host.onYield = [&] {
        if (!closed && run.view.frame.find("(2 of 5)") != std::string::npos) {
            closed = true;
            run.view.loaded = false;
            run.e.Form_QueryUnload();
        }
    };
    run.e.Form_Load();
    run.e.CmdStartConversion_Click();
    ASSERT_TRUE(closed);
    EXPECT_EQ(run.host.asked("Confirm Stop"), 0);
    EXPECT_TRUE(run.e.lastRun().stopped);
    EXPECT_EQ(run.host.texts.back().rfind("Conversion stopped: ", 0), 0u);
    const size_t kept = readBack(*run.host.out)[""].size();
    EXPECT_GE(kept, 2u);
    EXPECT_LT(kept, 5u);
    EXPECT_FALSE(run.e.isRunning());
}

// A confirmed skip: the folder's file keeps what was saved, the box names
// the folder, the skip flag stays set and the start button is enabled again.
TEST_F(Engine, AConfirmedSkipKeepsTheSavedMessagesAndNamesTheFolder) {
    for (int i = 1; i <= 5; ++i) writeMsg(dir_ / "Mail" / ("m" + std::to_string(i) + ".msg"), "s");
    SingleRun run(dir_);
    std::string labelAtSkip;
    run.host.onYield = [&] {
        if (!run.e.skipRequested() && run.host.asked("Confirm Skip") == 0 &&
            run.view.frame.find("(2 of 5)") != std::string::npos)
            run.e.CmdSkip_Click();
        if (run.host.asked("Confirm Skip") == 1) labelAtSkip = run.view.c1;  // the last one before the end
    };
    run.e.Form_Load();
    run.e.CmdStartConversion_Click();
    EXPECT_EQ(run.host.asked("Confirm Skip"), 1);
    EXPECT_TRUE(run.e.skipRequested());
    EXPECT_EQ(labelAtSkip, "Checking Next Folder...");
    EXPECT_EQ(run.view.prog.substr(run.view.prog.size() - 14), "Skipped... at ");
    EXPECT_TRUE(run.view.enabled[Button::StartConversion]);
    EXPECT_TRUE(run.view.loaded);
    EXPECT_FALSE(run.e.lastRun().allConverted());
    const size_t kept = readBack(*run.host.out)[""].size();
    EXPECT_GE(kept, 2u);
    EXPECT_LT(kept, 5u);
    const std::string counts = std::to_string(kept) + " of 5 message file(s) were converted.";
    EXPECT_EQ(run.view.c1, counts) << "the window tells the outcome at the end";
    EXPECT_EQ(run.host.texts.back(), counts + "\r\nOpen Converted PST file in Outlook to View Converted Messages."
                                              "\r\nFiles written:\r\n" + *run.host.out + "\r\nSkipped: " + mail() +
                                              "\r\nThe report of every file is in " +
                                              (dir_ / "out report.csv").string() + ".");
}

// No clears the request; a later press asks again.
TEST_F(Engine, AfterNoToTheSkipQuestionALaterPressAsksAgain) {
    for (int i = 1; i <= 4; ++i) writeMsg(dir_ / "Mail" / ("m" + std::to_string(i) + ".msg"), "s");
    SingleRun run(dir_);
    run.host.answer = MsgResult::No;
    std::set<std::string> pressedAt;
    run.host.onYield = [&] {
        for (const char* at : {"(1 of 4)", "(3 of 4)"})
            if (run.view.frame.find(at) != std::string::npos && pressedAt.insert(at).second) run.e.CmdSkip_Click();
    };
    run.e.Form_Load();
    run.e.CmdStartConversion_Click();
    EXPECT_EQ(pressedAt.size(), 2u);
    EXPECT_EQ(run.host.asked("Confirm Skip"), 2);
    EXPECT_EQ(run.e.lastRun().messagesConverted(), 4);
    EXPECT_TRUE(run.e.lastRun().allConverted());
}

// Inbox and Sent at several depths, and a folder below one that the
// mirroring leaves to its messages (Archive\Calendar\X, which holds none):
// each store folder is made where the mapping puts it, parents first, and
// no folder anywhere else; Sent\four.msg goes into the default Sent Items.
TEST_F(Engine, NestedInboxAndSentMakeNoFolderAnywhereElse) {
    writeMsg(dir_ / "Mail" / "A" / "Inbox" / "B" / "C" / "one.msg", "one");
    writeMsg(dir_ / "Mail" / "A" / "Inbox" / "two.msg", "two");
    writeMsg(dir_ / "Mail" / "Inbox" / "X" / "three.msg", "three");
    writeMsg(dir_ / "Mail" / "Sent" / "four.msg", "four");
    writeMsg(dir_ / "Mail" / "top.msg", "top");
    fsys::create_directories(dir_ / "Mail" / "Archive" / "Calendar" / "X");
    std::ofstream(dir_ / "Mail" / "Archive" / "Calendar" / "X" / "notes.txt") << "x";
    SingleRun run(dir_);
    run.e.Form_Load();
    run.e.CmdStartConversion_Click();
    EXPECT_TRUE(run.e.lastRun().allConverted()) << run.host.texts.back();
    auto tree = readBack(*run.host.out);
    using V = std::vector<std::string>;
    EXPECT_EQ(tree["A/Inbox/B/C"], V{"one"});
    EXPECT_EQ(tree["A/Inbox"], V{"two"});
    EXPECT_EQ(tree["Inbox/X"], V{"three"});
    EXPECT_EQ(tree["Sent Items"], V{"four"});
    EXPECT_EQ(tree[""], V{"top"});
    std::set<std::string> made;
    for (const auto& [path, subjects] : tree) made.insert(path);
    for (const char* d : {"", "Inbox", "Outbox", "Sent Items", "Deleted Items", "Calendar", "Contacts", "Journal",
                          "Notes", "Tasks", "Drafts", "RSS Feeds", "Junk E-mail"})
        made.erase(d);
    EXPECT_EQ(made, (std::set<std::string>{"A", "A/Inbox", "A/Inbox/B", "A/Inbox/B/C", "Inbox/X", "Archive",
                                           "Archive/Calendar", "Archive/Calendar/X"}));
}

// Multiple mode: the title counts every row, ticked or not; an unticked row
// is never coloured or converted; a stop confirmed in the first conversion
// ends the run before the next ticked row, shows the box and closes the
// window.
TEST_F(Engine, MultipleModeTitlesCountEveryRowAndAStopEndsTheRun) {
    FakeView view;
    FakeJob job;
    FakeHost host;
    job.single = false;
    fsys::create_directories(dir_ / "Out");
    job.output = (dir_ / "Out").string();
    for (const char* n : {"R1", "R2", "R3", "R4", "R5"}) {
        for (int i = 1; i <= 5; ++i) writeMsg(dir_ / "Mail" / n / ("m" + std::to_string(i) + ".msg"), n);
        job.rows.emplace_back(n, (dir_ / "Mail" / n).string());
    }
    job.ticked = {false, true, false, true, false};
    ConversionEngine e(view, job, host);
    e.setYieldInterval(std::chrono::microseconds(0));
    host.onYield = [&] {
        if (view.frame.find("(2 of 5)") != std::string::npos && !e.stopRequested() && host.asked("Confirm Stop") == 0)
            e.CmdStopMigration_Click();
    };
    e.Form_Load();
    e.CmdStartConversion_Click();
    EXPECT_EQ(view.titles, std::vector<std::string>{"Converting 2 of 5 Folders"});
    EXPECT_EQ(job.marked, std::vector<int>{2});
    EXPECT_EQ(host.asked("Confirm Stop"), 1);
    EXPECT_FALSE(view.loaded);
    EXPECT_TRUE(fsys::exists(dir_ / "Out" / "R2.pst"));
    EXPECT_FALSE(fsys::exists(dir_ / "Out" / "R4.pst"));
    const std::string r2 = (dir_ / "Out" / "R2.pst").string();
    EXPECT_EQ(host.texts.back(), "Conversion stopped: " + std::to_string(readBack(r2)[""].size()) +
                                     " of 5 message file(s) were converted.\r\n"
                                     "Open Converted PST file(s) in Outlook to View Individual files.\r\n"
                                     "Files written:\r\n" + r2 + "\r\n"
                                     "The report of every file is in " + (dir_ / "Out" / "R2 report.csv").string() + ".");
    // Pressed while the third file was under way: it is looked at once that
    // file is saved.
    EXPECT_EQ(readBack((dir_ / "Out" / "R2.pst").string())[""].size(), 3u);
    EXPECT_EQ(storeName((dir_ / "Out" / "R2.pst").string()).rfind("R2 : Created - ", 0), 0u);
}

// Between two folder conversions the start button is enabled again while
// the stop button covers it; its access key (or a click that reaches it)
// must not start a second run inside the first.
TEST_F(Engine, TheStartButtonDuringARunStartsNothing) {
    FakeView view;
    FakeJob job;
    FakeHost host;
    job.single = false;
    fsys::create_directories(dir_ / "Out");
    job.output = (dir_ / "Out").string();
    for (const char* n : {"R1", "R2"}) {
        for (int i = 1; i <= 3; ++i) writeMsg(dir_ / "Mail" / n / ("m" + std::to_string(i) + ".msg"), n);
        job.rows.emplace_back(n, (dir_ / "Mail" / n).string());
    }
    ConversionEngine e(view, job, host);
    e.setYieldInterval(std::chrono::microseconds(0));
    int pressed = 0;
    host.onYield = [&] {
        if (view.enabled[Button::StartConversion] && e.isRunning() && pressed < 3) {
            ++pressed;
            e.CmdStartConversion_Click();
        }
    };
    e.Form_Load();
    e.CmdStartConversion_Click();
    EXPECT_GT(pressed, 0);
    EXPECT_EQ(host.asked("Completed"), 1);
    EXPECT_EQ(view.titles, (std::vector<std::string>{"Converting 1 of 2 Folders", "Converting 2 of 2 Folders"}));
    EXPECT_EQ(e.lastRun().messagesConverted(), 6);
    EXPECT_EQ(readBack((dir_ / "Out" / "R1.pst").string())[""].size(), 3u);
    EXPECT_FALSE(e.isRunning());
}

// Multiple mode: after a confirmed skip the flag stays set, so a stop
// pressed while the next folder is being queued closes the window at once
// and that folder is not converted.
TEST_F(Engine, AStopWhileTheNextFolderIsQueuedAfterASkipEndsTheRun) {
    FakeView view;
    FakeJob job;
    FakeHost host;
    job.single = false;
    fsys::create_directories(dir_ / "Out");
    job.output = (dir_ / "Out").string();
    for (const char* n : {"A", "B", "C"}) {
        for (int i = 1; i <= 3; ++i) writeMsg(dir_ / "Mail" / n / ("m" + std::to_string(i) + ".msg"), n);
        job.rows.emplace_back(n, (dir_ / "Mail" / n).string());
    }
    ConversionEngine e(view, job, host);
    e.setYieldInterval(std::chrono::microseconds(0));
    bool skipped = false, stopped = false;
    host.onYield = [&] {
        if (!skipped && view.frame.find("(1 of 3)") != std::string::npos) {
            skipped = true;
            e.CmdSkip_Click();
        }
        if (skipped && !stopped && job.marked.size() == 2) {
            stopped = true;
            e.CmdStopMigration_Click();
            EXPECT_FALSE(view.loaded);
        }
    };
    e.Form_Load();
    e.CmdStartConversion_Click();
    EXPECT_TRUE(stopped);
    EXPECT_EQ(host.asked("Confirm Skip"), 1);
    EXPECT_EQ(host.asked("Confirm Stop"), 0);
    EXPECT_EQ(job.marked, (std::vector<int>{1, 2}));
    EXPECT_TRUE(fsys::exists(dir_ / "Out" / "A.pst"));
    EXPECT_FALSE(fsys::exists(dir_ / "Out" / "B.pst"));
    EXPECT_FALSE(fsys::exists(dir_ / "Out" / "C.pst"));
    EXPECT_EQ(host.texts.back().rfind("Conversion stopped: 2 of 6 message file(s) were converted.\r\n", 0), 0u)
        << host.texts.back();
    EXPECT_FALSE(e.lastRun().allConverted());
    EXPECT_EQ(readBack((dir_ / "Out" / "A.pst").string())[""].size(), 2u);
}

// A stop pressed while an empty folder is queued ends the run at the next
// ticked row; the box must not claim that every folder was converted.
TEST_F(Engine, AStopDuringAnEmptyFoldersQueueingEndsTheRunAsStopped) {
    FakeView view;
    FakeJob job;
    FakeHost host;
    job.single = false;
    fsys::create_directories(dir_ / "Out");
    fsys::create_directories(dir_ / "Mail" / "Empty");
    job.output = (dir_ / "Out").string();
    writeMsg(dir_ / "Mail" / "Full" / "m.msg", "m");
    job.rows = {{"Empty", (dir_ / "Mail" / "Empty").string()}, {"Full", (dir_ / "Mail" / "Full").string()}};
    ConversionEngine e(view, job, host);
    e.setYieldInterval(std::chrono::microseconds(0));
    host.onYield = [&] {
        if (job.marked.size() == 1 && !e.stopRequested()) e.CmdStopMigration_Click();
    };
    e.Form_Load();
    e.CmdStartConversion_Click();
    EXPECT_EQ(job.marked, std::vector<int>{1});
    EXPECT_FALSE(fsys::exists(dir_ / "Out" / "Full.pst"));
    EXPECT_FALSE(view.loaded);
    EXPECT_TRUE(e.lastRun().stopped);
    EXPECT_FALSE(e.lastRun().allConverted());
    EXPECT_EQ(host.texts.back(), "Conversion stopped: 0 of 0 message file(s) were converted.");
    EXPECT_EQ(host.icons.back(), MsgIcon::Warning);
}

// A confirmed replacement of an existing file happens at Logoff: during the
// conversion the old file is still there, intact.
TEST_F(Engine, AConfirmedReplacementHappensOnlyAtLogoff) {
    writeMsg(dir_ / "Mail" / "a.msg", "a");
    writeMsg(dir_ / "Mail" / "b.msg", "b");
    SingleRun run(dir_);
    std::ofstream(*run.host.out) << "old";
    run.host.existing = MsgResult::Replace;
    bool sawOldDuringImport = false, looked = false;
    run.host.onYield = [&] {
        if (run.view.frame.find("(1 of 2)") != std::string::npos && !looked) {
            looked = true;
            sawOldDuringImport = slurp(*run.host.out) == "old";
        }
    };
    run.e.Form_Load();
    run.e.CmdStartConversion_Click();
    ASSERT_TRUE(looked);
    EXPECT_TRUE(sawOldDuringImport);
    EXPECT_TRUE(run.e.lastRun().allConverted());
    EXPECT_EQ(readBack(*run.host.out)[""].size(), 2u);
}

// Cancelling the save dialog creates nothing, closes the window, and the box
// does not claim success.
TEST_F(Engine, ACancelledSaveDialogCreatesNothing) {
    writeMsg(dir_ / "Mail" / "a.msg", "a");
    SingleRun run(dir_);
    run.host.out.reset();
    run.e.Form_Load();
    run.e.CmdStartConversion_Click();
    EXPECT_FALSE(run.view.loaded);
    EXPECT_TRUE(run.e.lastRun().cancelled);
    EXPECT_FALSE(run.e.lastRun().allConverted());
    EXPECT_EQ(run.host.texts.size(), 1u);
    EXPECT_EQ(run.host.texts.back(), "Conversion stopped: 0 of 1 message file(s) were converted.");
    for (auto& d : fsys::directory_iterator(dir_)) EXPECT_NE(d.path().extension(), ".pst") << d.path();
}

// Success: the completion texts under an information icon and the title
// "Completed"; REPORT.MSG counts as a message file, notes.txt only in the
// progress.
TEST_F(Engine, ASuccessfulRunSaysSoUnderAnInformationIcon) {
    writeMsg(dir_ / "Mail" / "REPORT.MSG", "report");
    std::ofstream(dir_ / "Mail" / "notes.txt") << "x";
    SingleRun run(dir_);
    run.e.Form_Load();
    run.e.CmdStartConversion_Click();
    ASSERT_EQ(run.host.texts.size(), 1u);
    EXPECT_EQ(run.host.titles[0], "Completed");
    EXPECT_EQ(run.host.icons[0], MsgIcon::Information);
    EXPECT_EQ(run.view.frame, "Reading Messages & Email Metadata - (2 of 2) File(s)");
    EXPECT_EQ(run.e.lastRun().messagesConverted(), 1);
    EXPECT_TRUE(run.e.lastRun().allConverted());
    EXPECT_EQ(readBack(*run.host.out)[""], std::vector<std::string>{"report"});
    EXPECT_FALSE(run.view.enabled[Button::Skip]);
    EXPECT_FALSE(run.view.enabled[Button::StopMigration]);
    EXPECT_FALSE(run.view.visible[Button::StopMigration]);
    EXPECT_TRUE(run.view.enabled[Button::StartConversion]);
}

// A replacement whose new file is lost before Logoff (here its temporary
// name is deleted, on a file system without nameless files) ends the folder
// at once, leaves the old file intact, and the messages that went into the
// lost file count as not converted, as does the one never tried.
TEST_F(Engine, AReplacementThatFailsAtLogoffKeepsTheOldFile) {
    if (tavrin::testing::runningUnderWine())
        GTEST_SKIP() << "wine keeps a deleted open file openable and movable until it is closed: the removal this "
                        "test makes cannot be seen there (Windows refuses to open a file marked for deletion)";
    writeMsg(dir_ / "Mail" / "a.msg", "a");
    writeMsg(dir_ / "Mail" / "b.msg", "b");
    fs::forceNamedTemporariesForTesting(true);
    SingleRun run(dir_);
    std::ofstream(*run.host.out) << "old";
    run.host.existing = MsgResult::Replace;
    bool removed = false;
    run.host.onYield = [&] {
        if (removed || run.view.frame.find("(1 of 2)") == std::string::npos) return;
        for (auto& d : fsys::directory_iterator(dir_))
            if (d.path().filename().string().rfind("out.pst.", 0) == 0) removed = fsys::remove(d.path()) || removed;
    };
    run.e.Form_Load();
    run.e.CmdStartConversion_Click();
    fs::forceNamedTemporariesForTesting(false);
    ASSERT_TRUE(removed) << "the new file is written beside the old one until Logoff";
    EXPECT_EQ(slurp(*run.host.out), "old");
    EXPECT_EQ(run.e.lastRun().messagesConverted(), 0);
    EXPECT_EQ(run.e.lastRun().failed(), 2);
    EXPECT_EQ(run.e.lastRun().outputFailures.size(), 1u);
    EXPECT_TRUE(run.e.lastRun().pstFiles.empty());
    EXPECT_FALSE(run.e.lastRun().allConverted());
#ifdef _WIN32
    const std::string cause = "The file " + *run.host.out + " could not be created: The system cannot find the file specified.";
#else
    const std::string cause = "The file " + *run.host.out + " could not be created: No such file or directory.";
#endif
    EXPECT_EQ(run.e.lastRun().outputFailures, std::vector<std::string>{cause});
    EXPECT_EQ(run.host.texts.back().rfind("The output could not be written: 0 of 2 message file(s) were converted."
                                          "\r\n" + cause + "\r\n",
                                          0),
              0u)
        << run.host.texts.back();
    EXPECT_EQ(run.host.asked("Outlook Error"), 0) << "no session error: the session was fine";
    EXPECT_EQ(run.host.icons.back(), MsgIcon::Warning);
    for (auto& d : fsys::directory_iterator(dir_))
        EXPECT_EQ(d.path().filename().string().find(".tmp"), std::string::npos) << "left behind: " << d.path();
}

// Store folder names ignore letter case, as Outlook's do, while POSIX
// folder names do not: "work" and "Work" are one store folder. A message
// below "work" in a folder the mirroring does not create still finds its way
// into that folder.
TEST_F(Engine, FoldersDifferingOnlyInCaseShareOneStoreFolder) {
    writeMsg(dir_ / "Mail" / "Work" / "a.msg", "a");
    writeMsg(dir_ / "Mail" / "work" / "Calendar" / "b.msg", "b");
    writeMsg(dir_ / "Mail" / "work" / "c.msg", "c");
    SingleRun run(dir_);
    run.e.Form_Load();
    run.e.CmdStartConversion_Click();
    EXPECT_TRUE(run.e.lastRun().allConverted()) << run.host.texts.back();
    auto tree = readBack(*run.host.out);
    std::vector<std::string> work = tree["Work"];
    std::sort(work.begin(), work.end());
    EXPECT_EQ(work, (std::vector<std::string>{"a", "c"}));
    EXPECT_EQ(tree["Work/Calendar"], std::vector<std::string>{"b"});
    EXPECT_EQ(tree.count("work"), 0u);
}

// The running count shows while files are queued, unless the delete-source
// box is ticked; the summary after the walk shows either way.
TEST_F(Engine, TheRunningQueueCountFollowsTheDeleteSourceBox) {
    for (int i = 1; i <= 3; ++i) writeMsg(dir_ / "Mail" / ("m" + std::to_string(i) + ".msg"), "s");
    for (bool ticked : {false, true}) {
        SCOPED_TRACE(ticked);
        SingleRun run(dir_);
        run.host.out = (dir_ / (ticked ? "t.pst" : "u.pst")).string();
        run.view.deleteTicked = ticked;
        std::set<std::string> seen;
        run.host.onYield = [&] { seen.insert(run.view.c1); };
        run.e.Form_Load();
        run.e.CmdStartConversion_Click();
        EXPECT_EQ(seen.count("3 Messages Queued for Conversion."), ticked ? 0u : 1u);
        EXPECT_EQ(seen.count("Migrating 3 items from " + mail() + S), 1u);
    }
}

// A run over a source without files leaves its sub-folders in the folder
// queue (the single-folder mode does not empty it); the next run queues them
// again, and each folder is still created once.
TEST_F(Engine, AFolderQueuedTwiceIsCreatedOnce) {
    fsys::create_directories(dir_ / "Mail" / "A" / "B");
    SingleRun run(dir_);
    run.e.Form_Load();
    run.e.CmdStartConversion_Click();
    ASSERT_EQ(run.e.folderQueue().Count(), 2);
    writeMsg(dir_ / "Mail" / "A" / "B" / "m.msg", "m");
    std::vector<std::string> queued;
    run.host.onYield = [&] {
        if (queued.empty() && run.view.dbx == "Reading Folder(s)...") queued = run.e.folderQueue().items();
    };
    run.e.CmdStartConversion_Click();
    EXPECT_EQ(queued.size(), 4u);
    EXPECT_TRUE(run.e.lastRun().allConverted()) << run.host.texts.back();
    auto r = pst::messaging::PstReader::open(*run.host.out);
    ASSERT_TRUE(r.ok());
    auto tree = (*r)->folderTree((*r)->ipmSubtree());
    ASSERT_TRUE(tree.ok());
    int a = 0, ab = 0;
    for (const auto& f : *tree) {
        a += f.path == "A";
        ab += f.path == "A/B";
    }
    EXPECT_EQ(a, 1);
    EXPECT_EQ(ab, 1);
    EXPECT_EQ(readBack(*run.host.out)["A/B"], std::vector<std::string>{"m"});
}

TEST_F(Engine, IfFolderEmptyCountsOnlyPlainFiles) {
    const fsys::path f = dir_ / "Mail";
    // Nothing, and a folder that does not exist.
    EXPECT_TRUE(IfFolderEmpty(f.string()));
    EXPECT_TRUE(IfFolderEmpty((dir_ / "missing").string()));
    // Only sub-folders, and only hidden files.
    fsys::create_directories(f / "Sub");
    std::ofstream(f / ".hidden") << "x";
    EXPECT_TRUE(IfFolderEmpty(f.string()));
    // One plain file of any type.
    std::ofstream(f / "notes.txt") << "x";
    EXPECT_FALSE(IfFolderEmpty(f.string()));
}

}  // namespace
}  // namespace tavrin::engine
