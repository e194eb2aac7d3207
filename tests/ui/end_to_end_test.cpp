// The whole wizard pressed through as a user would, in both modes, over
// generated message folders; the .pst files it writes must verify clean and
// read back with every message in its mirrored folder.
#include <gtest/gtest.h>

#include <QTreeWidget>

#include <map>

#include "engine/wizard/windows.h"
#include "engine/wizard/wizard.h"
#include "store/pst/messaging/pst_reader.h"
#include "store/pst/verify/verifier.h"
#include "tests/ui/ui_fixture.h"

namespace tavrin::ui {
namespace {

using namespace tavrin::ui::testing;
namespace pst = tavrin::pst;

// Mail-folder path -> number of messages that read back whole.
std::map<std::string, int> ReadBack(const std::string& file) {
    std::map<std::string, int> out;
    auto rep = pst::verify::verifyFile(file);
    EXPECT_TRUE(rep.ok() && rep->clean()) << file;
    auto r = pst::messaging::PstReader::open(file);
    EXPECT_TRUE(r.ok()) << file;
    if (!r.ok()) return out;
    auto tree = (*r)->folderTree((*r)->ipmSubtree());
    EXPECT_TRUE(tree.ok());
    if (!tree.ok()) return out;
    for (auto& f : *tree) {
        int& n = out[f.path];
        for (uint32_t nid : f.folder.messages)
            if ((*r)->readMessage(nid).ok()) ++n;
    }
    return out;
}

class EndToEnd : public ::testing::Test {
protected:
    EndToEnd() : dir_("e2e") { wizard_.onEndProgram = [] {}; }
    QWidget& start() { return W(wizard_.start().form()); }
    std::unique_ptr<wizard::Toolkit> toolkit_ = MakeToolkit();
    FakeDialogs dialogs_;
    TempDir dir_;
    wizard::Wizard wizard_{*toolkit_, dialogs_};
};

TEST_F(EndToEnd, SingleFolderModeConvertsTheFolderTreeIntoTheChosenFile) {
    const fsys::path mail = dir_.path() / "Mail";
    WriteMsg(mail / "a.msg", "top");
    WriteMsg(mail / "b.MSG", "top 2");
    WriteMsg(mail / "Inbox" / "c.msg", "inbox");
    WriteMsg(mail / "Projects" / "2026" / "d.msg", "deep");
    std::ofstream(mail / "notes.txt") << "not a message";
    const fsys::path out = dir_.path() / "Converted.pst";
    dialogs_.folders = {mail.string()};
    dialogs_.savePath = out.string();

    wizard_.start().show();
    bool ran = false;
    WhenModal<QWidget>(
        [&](QWidget& single) {
            Click(single, "CmdAddFolder");
            WhenModal<QWidget>(
                [&](QWidget& status) {
                    Click(status, "CmdStartConversion");
                    ran = true;
                    status.close();
                },
                "frmMigateAll");
            Click(single, "CmdNext");
            single.close();
        },
        "frmSingle");
    Click(start(), "CmdNext");
    ASSERT_TRUE(ran);
    EXPECT_TRUE(start().isVisible());

    ASSERT_FALSE(dialogs_.boxes.empty());
    EXPECT_EQ(dialogs_.boxes.back().title, "Completed");
    EXPECT_EQ(dialogs_.boxes.back().text,
              "Messages Converted Successfully.\r\nOpen Converted PST file in Outlook to View Converted Messages.");
    const auto tree = ReadBack(out.string());
    EXPECT_EQ(tree.at(""), 2);
    EXPECT_EQ(tree.at("Inbox"), 1);
    EXPECT_EQ(tree.at("Projects/2026"), 1);
    EXPECT_EQ(wizard_.status().engine().lastRun().messagesConverted(), 4);
}

TEST_F(EndToEnd, MultipleFolderModeConvertsEachTickedFolderIntoItsOwnFile) {
    const fsys::path root = dir_.path() / "Mailboxes";
    WriteMsg(root / "Alice" / "1.msg", "a1");
    WriteMsg(root / "Alice" / "Archive" / "2.msg", "a2");
    WriteMsg(root / "Bob" / "3.msg", "b3");
    WriteMsg(root / "Carol" / "4.msg", "c4");
    const fsys::path out = dir_.path() / "Out";
    fsys::create_directories(out);
    dialogs_.folders = {root.string(), out.string()};

    wizard_.start().show();
    Click(start(), "OptMultiple");
    Click(start(), "CmdNext");
    ASSERT_NE(wizard_.multipleIfCreated(), nullptr);
    QWidget& list = W(wizard_.multiple().form());
    ASSERT_TRUE(list.isVisible());
    Click(list, "CmdAddFolder");
    ASSERT_EQ(wizard_.multiple().rowCount(), 3);
    Click(list, "chkSelectAll");
    wizard_.multiple().setRowChecked(1, false);  // Bob stays out
    Click(list, "cmdChange");
    bool ran = false;
    std::string title;
    WhenModal<QWidget>(
        [&](QWidget& status) {
            Click(status, "CmdStartConversion");
            ran = true;
            title = status.windowTitle().toStdString();
            status.close();
        },
        "frmMigateAll");
    Click(list, "CmdNext");
    ASSERT_TRUE(ran);
    EXPECT_EQ(title, "Converting 3 of 3 Folders");

    ASSERT_FALSE(dialogs_.boxes.empty());
    EXPECT_EQ(dialogs_.boxes.back().text,
              "All Folders Converted Successfully.\r\nOpen Converted PST file(s) in Outlook to View Individual files.");
    EXPECT_TRUE(dialogs_.saveProposals.empty());
    const auto alice = ReadBack((out / "Alice.pst").string());
    EXPECT_EQ(alice.at(""), 1);
    EXPECT_EQ(alice.at("Archive"), 1);
    EXPECT_EQ(ReadBack((out / "Carol.pst").string()).at(""), 1);
    EXPECT_FALSE(fsys::exists(out / "Bob.pst"));
    // The rows taken up are green and bold; the unticked row is untouched.
    auto* lv = Child<QTreeWidget>(list, "lv");
    EXPECT_EQ(lv->topLevelItem(0)->foreground(0).color(), QColor(0, 128, 0));
    EXPECT_TRUE(lv->topLevelItem(0)->font(0).bold());
    EXPECT_TRUE(lv->topLevelItem(2)->font(1).bold());
    EXPECT_FALSE(lv->topLevelItem(1)->font(0).bold());
    EXPECT_NE(lv->topLevelItem(1)->foreground(0).color(), QColor(0, 128, 0));
}

}  // namespace
}  // namespace tavrin::ui
