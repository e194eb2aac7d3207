// The whole native wizard pressed through as a user would, in both modes,
// over generated message folders: every button gets the message a click
// sends, every dialog is answered by FakeDialogs. The .pst files it writes
// must verify clean and read back with every message in its mirrored folder.
#include <gtest/gtest.h>

#include <map>

#include "engine/wizard/windows.h"
#include "engine/wizard/wizard.h"
#include "fs/text.h"
#include "store/pst/messaging/pst_reader.h"
#include "store/pst/verify/verifier.h"
#include "tests/ui/win32/win32_fixture.h"

namespace tavrin::ui::win32 {
namespace {

using namespace tavrin::ui::win32::testing;
namespace pst = tavrin::pst;

// Mail-folder path -> number of messages that read back whole, and their
// subjects.
struct ReadBackResult {
    std::map<std::string, int> messages;
    std::vector<std::string> subjects;
};

ReadBackResult ReadBack(const fsys::path& file) {
    ReadBackResult out;
    auto rep = pst::verify::verifyFile(file.string());
    EXPECT_TRUE(rep.ok() && rep->clean()) << file;
    auto r = pst::messaging::PstReader::open(file.string());
    EXPECT_TRUE(r.ok()) << file;
    if (!r.ok()) return out;
    auto tree = (*r)->folderTree((*r)->ipmSubtree());
    EXPECT_TRUE(tree.ok());
    if (!tree.ok()) return out;
    for (auto& f : *tree) {
        int& n = out.messages[f.path];
        for (uint32_t nid : f.folder.messages) {
            auto m = (*r)->readMessage(nid);
            if (!m.ok()) continue;
            ++n;
            std::string subject;
            if (const store::Property* p =
                    m->props.findTag(store::makeTag(store::tags::PidTagSubject, store::PT_UNICODE)))
                subject = text::toUtf8(p->asUnicode());
            // A PST subject starts with 0x01 and the length of its prefix.
            if (subject.size() >= 2 && subject[0] == '\x01') subject.erase(0, 2);
            out.subjects.push_back(subject);
        }
    }
    return out;
}

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        TAVRIN_NEED_DISPLAY();
        dir_ = std::make_unique<TempDir>("e2e");
        wizard_ = std::make_unique<wizard::Wizard>(*toolkit_, dialogs_);
        wizard_->onEndProgram = [] {};
    }
    void TearDown() override {
        wizard_.reset();
        dir_.reset();
    }
    Window& start() { return Win(wizard_->start().form()); }
    std::unique_ptr<wizard::Toolkit> toolkit_ = MakeToolkit();
    FakeDialogs dialogs_;
    std::unique_ptr<TempDir> dir_;
    std::unique_ptr<wizard::Wizard> wizard_;
};

TEST_F(EndToEnd, SingleFolderModeConvertsTheFolderTreeIntoTheChosenFile) {
    const fsys::path mail = dir_->path() / "Mail";
    WriteMsg(mail / "a.msg", "top");
    WriteMsg(mail / "b.MSG", "top 2");
    WriteMsg(mail / "Inbox" / "c.msg", "inbox");
    WriteMsg(mail / "Projects" / "2026" / "d.msg", "deep");
    std::ofstream(mail / "notes.txt") << "not a message";
    const fsys::path out = dir_->path() / "Converted.pst";
    dialogs_.folders = {mail.string()};
    dialogs_.savePath = out.string();

    wizard_->start().show();
    bool ran = false;
    WhenModal("frmSingle", [&](Window& single) {
        Click(single, "CmdAddFolder");
        WhenModal("frmMigateAll", [&](Window& status) {
            Click(status, "CmdStartConversion");
            ran = true;
            ::SendMessageW(status.hwnd(), WM_CLOSE, 0, 0);
        });
        Click(single, "CmdNext");
        ::SendMessageW(single.hwnd(), WM_CLOSE, 0, 0);
    });
    Click(start(), "CmdNext");
    ASSERT_TRUE(ran);
    EXPECT_TRUE(start().isShown());
    EXPECT_TRUE(::IsWindowEnabled(start().hwnd()));

    ASSERT_FALSE(dialogs_.boxes.empty());
    EXPECT_EQ(dialogs_.boxes.back().title, "Completed");
    EXPECT_EQ(dialogs_.boxes.back().text,
              "Messages Converted Successfully.\r\nOpen Converted PST file in Outlook to View Converted Messages.");
    const auto back = ReadBack(out);
    EXPECT_EQ(back.messages.at(""), 2);
    EXPECT_EQ(back.messages.at("Inbox"), 1);
    EXPECT_EQ(back.messages.at("Projects/2026"), 1);
    EXPECT_EQ(wizard_->status().engine().lastRun().messagesConverted(), 4);
    // The sources are as they were.
    EXPECT_TRUE(fsys::exists(mail / "a.msg"));
    EXPECT_TRUE(fsys::exists(mail / "notes.txt"));
}

TEST_F(EndToEnd, MultipleFolderModeConvertsEachTickedFolderIntoItsOwnFile) {
    // Names in several scripts go through the list view and back whole.
    const fsys::path root = dir_->path() / "Mailboxes";
    const std::string alice = "Alice \xC3\x9C"  // Ü
                              "ber \xE6\x97\xA5\xE6\x9C\xAC";  // 日本
    WriteMsg(root / fsys::u8path(alice) / "1.msg", "a1");
    WriteMsg(root / fsys::u8path(alice) / "Archive" / "2.msg", "a2");
    WriteMsg(root / "Bob" / "3.msg", "b3");
    WriteMsg(root / "Carol" / "4.msg", "c4");
    const fsys::path out = dir_->path() / "Out";
    fsys::create_directories(out);
    dialogs_.folders = {root.string(), out.string()};

    wizard_->start().show();
    Click(start(), "OptMultiple");
    Click(start(), "CmdNext");
    ASSERT_NE(wizard_->multipleIfCreated(), nullptr);
    Window& list = Win(wizard_->multiple().form());
    ASSERT_TRUE(list.isShown());
    Click(list, "CmdAddFolder");
    ASSERT_EQ(list.rowCount("lv"), 3);
    EXPECT_EQ(list.cell("lv", 0, 0), alice);
    Click(list, "chkSelectAll");
    list.setRowChecked("lv", 1, false);  // Bob stays out
    Click(list, "cmdChange");
    bool ran = false;
    std::wstring title;
    WhenModal("frmMigateAll", [&](Window& status) {
        Click(status, "CmdStartConversion");
        ran = true;
        title = TextOf(status.hwnd());
        ::SendMessageW(status.hwnd(), WM_CLOSE, 0, 0);
    });
    Click(list, "CmdNext");
    ASSERT_TRUE(ran);
    EXPECT_EQ(title, L"Converting 3 of 3 Folders");

    ASSERT_FALSE(dialogs_.boxes.empty());
    EXPECT_EQ(dialogs_.boxes.back().text,
              "All Folders Converted Successfully.\r\nOpen Converted PST file(s) in Outlook to View Individual files.");
    EXPECT_TRUE(dialogs_.saveProposals.empty());
    const auto a = ReadBack(out / fsys::u8path(alice + ".pst"));
    EXPECT_EQ(a.messages.at(""), 1);
    EXPECT_EQ(a.messages.at("Archive"), 1);
    const auto c = ReadBack(out / "Carol.pst");
    EXPECT_EQ(c.messages.at(""), 1);
    EXPECT_EQ(c.subjects, (std::vector<std::string>{"c4"}));
    EXPECT_FALSE(fsys::exists(out / "Bob.pst"));
    // The rows taken up are green and bold; the unticked row is untouched.
    EXPECT_EQ(list.rowLook("lv", 0).text, RGB(0, 128, 0));
    EXPECT_TRUE(list.rowLook("lv", 0).bold);
    EXPECT_TRUE(list.rowLook("lv", 2).bold);
    EXPECT_FALSE(list.rowLook("lv", 1).bold);
    EXPECT_NE(list.rowLook("lv", 1).text, RGB(0, 128, 0));
    // The list takes input again, with the start window still hidden.
    EXPECT_TRUE(::IsWindowEnabled(list.hwnd()));
    EXPECT_FALSE(start().isShown());
}

}  // namespace
}  // namespace tavrin::ui::win32
