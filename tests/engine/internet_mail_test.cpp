// A tree mixing .msg, .eml (one an Outlook message file named .eml), mbox
// files and Apple Mail mailboxes, nested, through both modes: as it is,
// split at a size cap, and stopped in the middle of a mailbox.
#include "engine_fixture.h"

namespace tavrin::engine {
namespace {

using namespace enginetest;
using Tree = std::map<std::string, std::multiset<std::string>>;

// An mbox of one message per subject, each with a body of `body` bytes.
std::string mbox(std::initializer_list<const char*> subjects, size_t lines = 1) {
    std::string out;
    for (const char* s : subjects) {
        out += "From a@example.com Sat Jan  1 00:00:00 2000\nFrom: a@example.com\nSubject: " + std::string(s) + "\n\n";
        for (size_t k = 0; k < lines; ++k) out += std::string(76, 'x') + "\n";
        out += "\n";
    }
    return out;
}

TEST_F(Engine, MixedMessageFilesAndMailboxesInBothModesAtACapAndAfterAStop) {
    const struct {
        bool single, stop;  // a stop at the second message of Box.mbox
        uint64_t cap;
    } cases[] = {{true, false, 0}, {false, false, 0}, {true, false, 700000},
                 {false, false, 700000}, {true, true, 0}, {false, true, 0}};
    const Tree whole = {{"", {"a", "b", "c"}},          {"Box", {"x1", "x2", "x3"}}, {"Sent Items", {"s1"}},
                        {"Work", {"d"}},                {"Work/Deep", {"y1", "y2"}}, {"Apple/Inbox", {"i1", "i2"}},
                        {"Apple/Inbox/Sub", {"j1"}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.single) + " " + std::to_string(c.cap) + " " + std::to_string(c.stop));
        fsys::remove_all(dir_);
        const fsys::path m = dir_ / "Mail";
        writeMsg(m / "a.msg", "a");
        writeMsg(m / "c.eml", "c");
        const std::pair<const char*, std::string> files[] = {
            {"b.EML", "From: a@example.com\r\nSubject: b\r\n\r\nbody\r\n"}, {"notes.txt", "not mail"},
            {"Box.mbox", mbox({"x1", "x2", "x3"}, 4000)}, {"Sent.mbox", mbox({"s1"})}, {"Empty.mbox", ""},
            {"Work/d.eml", "Subject: d\n\nbody\n"}, {"Work/Deep.MBOX", mbox({"y1", "y2"})},
            {"Apple/Inbox.mbox/mbox", mbox({"i1", "i2"})}, {"Apple/Inbox.mbox/table_of_contents", "\x01\x02"},
            {"Apple/Inbox.mbox/Sub.mbox/mbox", mbox({"j1"})}};
        for (const auto& [name, text] : files) {
            fsys::create_directories((m / name).parent_path());
            std::ofstream(m / name, std::ios::binary) << text;
        }
        SingleRun run(dir_);
        run.job.single = c.single;
        run.job.rows = {{"Mail", m.string()}};
        run.job.output = dir_.string();
        run.e.setMaxFileSize(c.cap);
        if (c.stop)
            run.host.onYield = [&] {
                if (run.view.dbx.find("Box.mbox#2") != std::string::npos) run.e.CmdStopMigration_Click();
            };
        run.e.Form_Load();
        run.e.CmdStartConversion_Click();
        const RunSummary& r = run.e.lastRun();
        EXPECT_EQ(run.e.totalFiles(), 16);
        // What the files hold is what the records say was converted, each once.
        Tree read, recorded;
        std::set<std::string> folders;
        int boxFiles = 0;
        for (const std::string& f : r.pstFiles)
            for (auto& [folder, subjects] : readBack(f)) {
                folders.insert(folder);
                read[folder].insert(subjects.begin(), subjects.end());
                boxFiles += folder == "Box" && !subjects.empty();
            }
        std::erase_if(read, [](const auto& e) { return e.second.empty(); });
        std::map<std::string, FileRecord> byName;
        for (const FileRecord& f : recordsOf(r.records)) {
            byName[f.source.substr(m.string().size() + 1)] = f;
            std::string folder = f.storeFolder.substr(std::min<size_t>(1, f.storeFolder.size()));
            std::replace(folder.begin(), folder.end(), '\\', '/');
            if (f.result == FileResult::Converted) recorded[folder].insert(f.subject);
        }
        EXPECT_EQ(read, recorded);
        EXPECT_TRUE(r.records.size() == 16 && byName.size() == 16) << r.records.size();
        EXPECT_EQ(byName["Empty.mbox"].result, FileResult::NotAMessageFile);
        EXPECT_TRUE(folders.count("Apple/Inbox") && !folders.count("Apple/Inbox.mbox"));
        if (!c.stop) {
            EXPECT_TRUE(r.allConverted());
            EXPECT_TRUE(folders.count("Empty"));
            const std::string apple2 = (fsys::path("Apple") / "Inbox.mbox" / "mbox").string() + "#2";
            EXPECT_EQ(byName[apple2].storeFolder, "\\Apple\\Inbox");
            EXPECT_EQ(read, whole);
            EXPECT_EQ(boxFiles, c.cap ? 3 : 1);
        } else {
            EXPECT_TRUE(r.stopped);
            EXPECT_EQ(read["Box"], std::multiset<std::string>({"x1", "x2"}));
            EXPECT_EQ(byName["Box.mbox#3"].result, FileResult::NotReached);
        }
    }
}

}  // namespace
}  // namespace tavrin::engine
