// The wizard windows' logic without any widget: navigation, the select-all
// caption rule, the empty-list message and the help addresses.
#include <gtest/gtest.h>

#include <vector>

#include "engine/help_site.h"
#include "engine/wizard/multiple_logic.h"
#include "engine/wizard/single_logic.h"
#include "engine/wizard/start_logic.h"
#include "fs/path_separator.h"

namespace tavrin::wizard {
namespace {

// The Desktop folder as the shell reports it on this system.
#ifdef _WIN32
const std::string kDesktop = "C:\\Users\\u\\Desktop";
#else
const std::string kDesktop = "/home/u/Desktop";
#endif

struct Services {
    std::vector<std::string> urls, boxes;
    std::string browse;
    MsgResult answer = MsgResult::No;
};

struct FakeMultiple : MultipleView {
    Services s;
    std::string out, caption;
    bool ticked = false, enabled = true;
    std::vector<std::pair<std::string, bool>> rows;
    bool shownStatus = false;
    void yield() override {}
    void openUrl(const std::string& a) override { s.urls.push_back(a); }
    std::string browseForFolder(const std::string&) override { return s.browse; }
    MsgResult messageBox(const std::string& t, const std::string&, MsgButtons, MsgIcon) override {
        s.boxes.push_back(t);
        return MsgResult::Ok;
    }
    std::string SpecialFolderPath() const override { return kDesktop + fs::kPathSeparator; }
    std::string outputFolder() const override { return out; }
    void setOutputFolder(const std::string& p) override { out = p; }
    bool selectAllTicked() const override { return ticked; }
    void setSelectAllTicked(bool t) override { ticked = t; }
    void setSelectAllEnabled(bool e) override { enabled = e; }
    void setSelectAllCaption(const std::string& c) override { caption = c; }
    void clearRows() override { rows.clear(); }
    void addRow(const std::string& n, const std::string&) override { rows.push_back({n, false}); }
    int rowCount() const override { return static_cast<int>(rows.size()); }
    bool rowChecked(int r) const override { return rows[r].second; }
    void setRowChecked(int r, bool c) override { rows[r].second = c; }
    void setAlternatingBackground(unsigned, unsigned) override {}
    void showStatusModal() override { shownStatus = true; }
    void showStart() override {}
    void hideWindow() override {}
};

TEST(MultipleLogic, EmptyListKeepsCaptionAndNextShowsTheNoneSelectedBox) {
    FakeMultiple v;
    MultipleLogic l(v);
    l.Form_Load();
    EXPECT_EQ(v.out, kDesktop);
    EXPECT_FALSE(v.enabled);
    EXPECT_EQ(v.caption, "Check All");
    v.ticked = true;
    l.chkSelectAll_Click();
    EXPECT_EQ(v.caption, "Check All");
    l.CmdNext_Click();
    ASSERT_EQ(v.s.boxes.size(), 1u);
    EXPECT_EQ(v.s.boxes[0], "No Folders Selected !\r\nPlease Select alteast one folder to convert.");
    EXPECT_FALSE(v.shownStatus);
}

TEST(MultipleLogic, CheckAllTicksEveryRowAndFlipsTheCaption) {
    FakeMultiple v;
    MultipleLogic l(v);
    v.rows = {{"a", false}, {"b", false}};
    v.ticked = true;
    l.chkSelectAll_Click();
    EXPECT_TRUE(v.rows[0].second && v.rows[1].second);
    EXPECT_EQ(v.caption, "Uncheck All");
    v.ticked = false;
    l.chkSelectAll_Click();
    EXPECT_FALSE(v.rows[0].second || v.rows[1].second);
    EXPECT_EQ(v.caption, "Check All");
    v.rows[1].second = true;
    l.CmdNext_Click();
    EXPECT_TRUE(v.shownStatus);
}

TEST(HelpSite, FileBaseNamesIndexPagesAndKeepsAnchors) {
    engine::SetHelpSite("file:///opt/help/");
    EXPECT_EQ(engine::HelpAddress(engine::kHelpMain), "file:///opt/help/msg-to-pst/index.html");
    EXPECT_EQ(engine::HelpAddress(engine::kHelpSelectFolder), "file:///opt/help/h/msg-to-pst/index.html#select-folder");
    EXPECT_EQ(engine::HelpAddress(engine::kHelpSessionError),
              "file:///opt/help/help/downgrade-office-2010-to-32-bit.pdf");
    engine::SetHelpSite("");
}

}  // namespace
}  // namespace tavrin::wizard
