// The wizard as a user meets it, once for both front ends: every window
// built from its layout by a made-up toolkit, driven by clicks, with every
// dialog answered by the test. Navigation and modality, the folder choices,
// the list and its select-all box, and the status window through real runs
// of the engine over generated message files.
#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <tuple>

#include "engine/help_site.h"
#include "engine/wizard/save_location.h"
#include "engine/wizard/windows.h"
#include "engine/wizard/wizard.h"
#include "fs/path_separator.h"
#include "tests/engine/wizard/wizard_fakes.h"

namespace tavrin::wizard {
namespace {

using namespace tavrin::wizard::testing;

const std::string kSep(1, fs::kPathSeparator);

class WizardTest : public ::testing::Test {
protected:
    WizardTest() {
        toolkit_.desktop = (dir_.path() / "Desktop").string() + kSep;
        fsys::create_directories(dir_.path() / "Desktop");
        wizard_.onEndProgram = [this] { ++ended_; };
    }
    FakeForm& form(const char* window) { return *toolkit_.forms.at(window); }
    FakeForm& start() {
        wizard_.start().show();
        return form("frmStart");
    }
    // The multiple-folder window, reached as a user reaches it.
    FakeForm& toList() {
        start().click("OptMultiple");
        start().click("CmdNext");
        return form("frmMultiple");
    }
    void list(FakeForm& m, const fsys::path& root) {
        dialogs_.folders = {root.string()};
        m.click("CmdAddFolder");
    }
    std::vector<std::string> column(FakeForm& m, int col) {
        std::vector<std::string> out;
        for (int r = 0; r < m.rowCount("lv"); ++r) out.push_back(m.cell("lv", r, col));
        return out;
    }

    TempDir dir_{"wizard"};
    FakeToolkit toolkit_;
    FakeDialogs dialogs_;
    Wizard wizard_{toolkit_, dialogs_};
    int ended_ = 0;
};

// ---- The tables ----------------------------------------------------------------

// What every window's table must hold: one control to a name, one control to
// an access key and to a tab number, frames and captions followed that are
// there, and every control (but the bands) starting inside its window.
TEST(Layouts, NamesAccessKeysTabsAndReferencesAreUniqueAndResolveWithinTheWindow) {
    for (const WindowLayout* l : {&StartLayout(), &SingleLayout(), &MultipleLayout(), &StatusLayout()}) {
        std::set<std::string> names;
        std::set<char> keys;
        std::set<int> tabs;
        for (const Control& c : l->controls) {
            if (c.kind == Kind::Band) continue;
            EXPECT_TRUE(names.insert(c.name).second) << l->name << " " << c.name;
            EXPECT_TRUE(!c.accessKey() || keys.insert(c.accessKey()).second) << l->name << " " << c.name;
            EXPECT_TRUE(!c.tab || tabs.insert(c.tab).second) << l->name << " " << c.name;
            EXPECT_TRUE(!c.frame || l->find(c.frame)->kind == Kind::Frame) << c.name;
            EXPECT_TRUE(!c.follows || l->find(c.follows)) << c.name;
            const Twips t = l->placeInWindow(c);
            EXPECT_TRUE(t.left >= 0 && t.top >= 0 && t.left < l->width && t.top < l->height) << l->name << " " << c.name;
        }
    }
    EXPECT_EQ(StartLayout().find("CmdNext")->accessKey(), 'n');
}

// ---- Start window ------------------------------------------------------------

TEST_F(WizardTest, TheStartWindowOpensCentredWithSingleSelectedAndOnlyTheBoldFollowsTheChoice) {
    FakeForm& s = start();
    EXPECT_EQ(s.centredOn, nullptr);
    EXPECT_EQ(s.focus, "OptSingle");
    EXPECT_TRUE(s.isChecked("OptSingle"));
    EXPECT_TRUE(s.at("OptSingle").bold);
    EXPECT_FALSE(s.at("OptMultiple").bold);
    for (int i = 0; i < 2; ++i) {  // clicking the selected option again keeps the fonts
        s.click("OptMultiple");
        EXPECT_TRUE(s.isChecked("OptMultiple"));
        EXPECT_FALSE(s.isChecked("OptSingle"));
        EXPECT_TRUE(s.at("OptMultiple").bold);
        EXPECT_FALSE(s.at("OptSingle").bold);
    }
    s.click("OptSingle");
    EXPECT_TRUE(s.at("OptSingle").bold);
    EXPECT_EQ(wizard_.singleIfCreated(), nullptr);
    EXPECT_EQ(wizard_.multipleIfCreated(), nullptr);
}

TEST_F(WizardTest, NextOpensTheSingleWindowModallyOverTheStartWhichWaitsAndStaysAsItWas) {
    FakeForm& s = start();
    bool seen = false;
    toolkit_.whenModal("frmSingle", [&](FakeForm& f) {
        seen = true;
        EXPECT_EQ(f.owner, &s);
        EXPECT_EQ(f.centredOn, &s);
        EXPECT_EQ(f.focus, "CmdAddFolder");
        EXPECT_TRUE(s.isShown());
        EXPECT_FALSE(s.click("CmdNext"));  // the start window takes no input
        f.close();
    });
    s.click("CmdNext");
    EXPECT_TRUE(seen);
    EXPECT_TRUE(s.isShown());
    EXPECT_TRUE(s.isChecked("OptSingle"));
    EXPECT_TRUE(toolkit_.modal.empty());
}

TEST_F(WizardTest, ClosingTheStartWindowAsksNoKeepsItAndYesEndsEverything) {
    FakeForm& m = toList();
    wizard_.start().show();  // as "< Bac&k" does, with the list window left open
    FakeForm& s = form("frmStart");
    dialogs_.answer = [](const Box&) { return MsgResult::No; };
    EXPECT_FALSE(s.close());
    EXPECT_TRUE(s.isShown());
    EXPECT_EQ(ended_, 0);
    ASSERT_EQ(dialogs_.boxes.size(), 1u);
    EXPECT_EQ(dialogs_.boxes[0].text, "Are you sure you want to exit now?");
    EXPECT_EQ(dialogs_.boxes[0].title, "Tavrin MSG to PST Converter");
    EXPECT_EQ(dialogs_.boxes[0].buttons, MsgButtons::YesNo);
    EXPECT_EQ(dialogs_.boxes[0].icon, MsgIcon::Question);
    EXPECT_EQ(dialogs_.boxes[0].owner, &s);
    dialogs_.answer = nullptr;
    EXPECT_TRUE(s.close());
    EXPECT_EQ(ended_, 1);
    EXPECT_FALSE(s.isShown());
    EXPECT_FALSE(m.isShown());
    EXPECT_EQ(dialogs_.boxes.size(), 2u);  // the list window closed without a question
}

TEST_F(WizardTest, TheDefaultEndOfTheProgramEndsTheToolkitsLoop) {
    Wizard plain(toolkit_, dialogs_);
    plain.start().show();
    EXPECT_TRUE(toolkit_.forms.at("frmStart")->close());
    EXPECT_EQ(toolkit_.quits, 1);
}

TEST_F(WizardTest, EveryHelpLinkOpensItsPage) {
    engine::SetHelpSite("file:///opt/help");
    start();
    wizard_.single();
    wizard_.multiple();
    const std::pair<const char*, const char*> links[] = {
        {"frmStart", "lblSingleHelp"}, {"frmStart", "lblMultipleHelp"}, {"frmStart", "CmdHelp"},
        {"frmSingle", "lblSingleMailbox"}, {"frmMultiple", "lblSelectRootFolder"}};
    for (auto [window, link] : links) {
        form(window).showModeless();
        EXPECT_TRUE(form(window).click(link)) << link;
    }
    engine::SetHelpSite("");
    EXPECT_EQ(dialogs_.urls, (std::vector<std::string>{"file:///opt/help/h/msg-to-pst/index.html#single-folder",
                                                        "file:///opt/help/h/msg-to-pst/index.html#multiple-folders",
                                                        "file:///opt/help/msg-to-pst/index.html",
                                                        "file:///opt/help/h/msg-to-pst/index.html#select-folder",
                                                        "file:///opt/help/h/msg-to-pst/index.html#select-root-folder"}));
}

// ---- Single-folder window ----------------------------------------------------

TEST_F(WizardTest, SingleNextWaitsForAFolderAndACancelKeepsTheChoice) {
    const std::string mail = (dir_.path() / "Mail").string();
    fsys::create_directories(mail);
    wizard_.single();
    FakeForm& single = form("frmSingle");
    single.showModeless();
    EXPECT_FALSE(single.isEnabled("CmdNext"));
    EXPECT_EQ(single.text("txtSourceMailbox"), "");
    single.click("CmdAddFolder");  // cancelled
    EXPECT_FALSE(single.isEnabled("CmdNext"));
    dialogs_.folders = {mail};
    single.click("CmdAddFolder");
    EXPECT_TRUE(single.isEnabled("CmdNext"));
    EXPECT_EQ(single.text("txtSourceMailbox"), mail);
    single.click("CmdAddFolder");  // cancelled again
    EXPECT_TRUE(single.isEnabled("CmdNext"));
    EXPECT_EQ(single.text("txtSourceMailbox"), mail);
    EXPECT_EQ(dialogs_.prompts, (std::vector<std::string>(3, "Choose Source Folder...")));
    EXPECT_EQ(dialogs_.browseOwners.back(), &single);
    // A drive root (or "/") is shown as the browser returned it.
    dialogs_.folders = {kSep};
    single.click("CmdAddFolder");
    EXPECT_EQ(single.text("txtSourceMailbox"), kSep);
}

TEST_F(WizardTest, ReopeningTheSingleWindowShowsItsInitialState) {
    FakeForm& s = start();
    dialogs_.folders = {dir_.path().string()};
    int round = 0;
    const auto step = [&](FakeForm& f) {
        EXPECT_FALSE(f.isEnabled("CmdNext")) << round;
        EXPECT_EQ(f.text("txtSourceMailbox"), "") << round;
        if (round++ == 0) f.click("CmdAddFolder");
        f.close();
    };
    toolkit_.whenModal("frmSingle", step);
    toolkit_.whenModal("frmSingle", step);
    s.click("CmdNext");
    s.click("CmdNext");
    EXPECT_EQ(round, 2);
}

// Each folder chooser opens where it was last used, else in the documents
// folder (or home): never at the root of the file system.
TEST_F(WizardTest, FolderChoosersOpenInTheFolderLastUsedElseDocumentsOrHome) {
    const fsys::path mail = dir_.path() / "Mail", out = dir_.path() / "Out";
    fsys::create_directories(mail / "Alice");
    fsys::create_directories(out);
    wizard_.single();
    FakeForm& single = form("frmSingle");
    single.showModeless();
    FakeForm& m = toList();
    dialogs_.folders = {mail.string(), (mail / "Alice").string(), out.string()};
    single.click("CmdAddFolder");
    m.click("CmdAddFolder");
    m.click("cmdChange");
    single.click("CmdAddFolder");
    m.click("cmdChange");
    const std::string home = SaveDialogFolder();
    EXPECT_NE(home, kSep);
    EXPECT_EQ(dialogs_.startFolders, (std::vector<std::string>{home, mail.string(), home, (mail / "Alice").string(),
                                                               out.string()}));
    // A folder that has gone since is not opened.
    fsys::remove_all(out);
    m.click("cmdChange");
    EXPECT_EQ(dialogs_.startFolders.back(), home);
}

// ---- Multiple-folder window --------------------------------------------------

class ListWindow : public WizardTest {
protected:
    ListWindow() {
        for (const char* n : {"Carol", "Alice", "Bob"}) fsys::create_directories(dir_.path() / "Root" / n);
        std::ofstream(dir_.path() / "Root" / "loose.msg") << "x";
        fsys::create_directories(dir_.path() / "Empty");
    }
};

TEST_F(ListWindow, OpensCentredWithTheDesktopAsOutputAndTheSelectAllBoxDisabled) {
    FakeForm& m = toList();
    EXPECT_TRUE(m.isShown());
    EXPECT_FALSE(form("frmStart").isShown());
    EXPECT_EQ(m.centredOn, nullptr);
    EXPECT_EQ(m.focus, "CmdNext");
    EXPECT_EQ(m.text("txtOutputFolder"), (dir_.path() / "Desktop").string());
    EXPECT_FALSE(m.isEnabled("chkSelectAll"));
    EXPECT_FALSE(m.isChecked("chkSelectAll"));
    EXPECT_EQ(m.text("chkSelectAll"), "Check All");
    EXPECT_EQ(m.rowCount("lv"), 0);
}

TEST_F(ListWindow, ListsTheDirectSubFoldersByNameWithTheirPathsUntickedInAlternatingColours) {
    FakeForm& m = toList();
    list(m, dir_.path() / "Root");
    EXPECT_EQ(column(m, 0), (std::vector<std::string>{"Alice", "Bob", "Carol"}));
    const std::string root = (dir_.path() / "Root").string() + kSep;
    EXPECT_EQ(column(m, 1), (std::vector<std::string>{root + "Alice", root + "Bob", root + "Carol"}));
    for (int r = 0; r < 3; ++r) EXPECT_FALSE(m.isRowChecked("lv", r));
    EXPECT_EQ(m.at("lv").first, kWhite);
    EXPECT_EQ(m.at("lv").second, kLightYellow);
    EXPECT_TRUE(m.isEnabled("chkSelectAll"));
    // A root chosen with its separator is not given a second one.
    list(m, dir_.path() / "Root" / "");
    EXPECT_EQ(m.cell("lv", 0, 1), root + "Alice");
}

TEST_F(ListWindow, CheckAllTicksEveryRowAndListingAnewUnticksThemAndTheBox) {
    FakeForm& m = toList();
    list(m, dir_.path() / "Root");
    m.click("chkSelectAll");
    for (int r = 0; r < 3; ++r) EXPECT_TRUE(m.isRowChecked("lv", r));
    EXPECT_EQ(m.text("chkSelectAll"), "Uncheck All");
    m.click("chkSelectAll");
    for (int r = 0; r < 3; ++r) EXPECT_FALSE(m.isRowChecked("lv", r));
    EXPECT_EQ(m.text("chkSelectAll"), "Check All");
    m.click("chkSelectAll");
    list(m, dir_.path() / "Root");
    EXPECT_FALSE(m.isChecked("chkSelectAll"));
    EXPECT_EQ(m.text("chkSelectAll"), "Check All");
    for (int r = 0; r < 3; ++r) EXPECT_FALSE(m.isRowChecked("lv", r));
}

TEST_F(ListWindow, AnotherRootReplacesTheRowsAndACancelKeepsThem) {
    FakeForm& m = toList();
    list(m, dir_.path() / "Root");
    m.setRowChecked("lv", 2, true);
    m.click("CmdAddFolder");  // cancelled
    EXPECT_EQ(m.rowCount("lv"), 3);
    EXPECT_TRUE(m.isRowChecked("lv", 2));
    fsys::create_directories(dir_.path() / "Other" / "Zed");
    list(m, dir_.path() / "Other");
    EXPECT_EQ(column(m, 0), (std::vector<std::string>{"Zed"}));
    EXPECT_FALSE(m.isRowChecked("lv", 0));
}

TEST_F(ListWindow, WithoutATickedRowNextSaysNoFoldersSelectedAndATickedRowOpensTheStatusWindow) {
    FakeForm& m = toList();
    list(m, dir_.path() / "Empty");
    EXPECT_TRUE(m.isEnabled("chkSelectAll"));
    m.click("chkSelectAll");  // an empty list: the box is ticked, its caption stays
    EXPECT_TRUE(m.isChecked("chkSelectAll"));
    EXPECT_EQ(m.text("chkSelectAll"), "Check All");
    m.click("CmdNext");
    list(m, dir_.path() / "Root");
    m.click("CmdNext");
    ASSERT_EQ(dialogs_.boxes.size(), 2u);
    for (const Box& b : dialogs_.boxes) {
        EXPECT_EQ(b.text, "No Folders Selected !\r\nPlease Select alteast one folder to convert.");
        EXPECT_EQ(b.title, "Select Folder(s) to Convert");
        EXPECT_EQ(b.icon, MsgIcon::Information);
        EXPECT_EQ(b.owner, &m);
    }
    EXPECT_EQ(wizard_.statusIfCreated(), nullptr);
    m.setRowChecked("lv", 2, true);
    bool seen = false;
    toolkit_.whenModal("frmMigateAll", [&](FakeForm& st) {
        seen = true;
        EXPECT_EQ(st.owner, &m);
        EXPECT_FALSE(m.click("CmdNext"));
    });
    m.click("CmdNext");
    EXPECT_TRUE(seen);
    EXPECT_EQ(dialogs_.boxes.size(), 2u);
}

TEST_F(ListWindow, ChangeSetsTheOutputFolderAsReturnedAndACancelKeepsIt) {
    FakeForm& m = toList();
    const std::string before = m.text("txtOutputFolder");
    m.click("cmdChange");
    EXPECT_EQ(m.text("txtOutputFolder"), before);
    dialogs_.folders = {kSep};
    m.click("cmdChange");
    EXPECT_EQ(m.text("txtOutputFolder"), kSep);
    EXPECT_EQ(dialogs_.prompts.back(), "Choose Output Folder...");
}

TEST_F(ListWindow, BackAndTheCloseBoxReturnToTheStartWindowWhichReopensTheSameList) {
    FakeForm& m = toList();
    list(m, dir_.path() / "Root");
    dialogs_.folders = {(dir_.path() / "Empty").string()};
    m.click("cmdChange");
    m.setRowChecked("lv", 1, true);
    m.click("cmdBack");
    FakeForm& s = form("frmStart");
    EXPECT_TRUE(s.isShown());
    EXPECT_FALSE(m.isShown());
    EXPECT_TRUE(s.isChecked("OptMultiple"));
    s.click("CmdNext");
    EXPECT_TRUE(m.isShown());
    EXPECT_EQ(m.rowCount("lv"), 3);
    EXPECT_TRUE(m.isRowChecked("lv", 1));
    EXPECT_EQ(m.text("txtOutputFolder"), (dir_.path() / "Empty").string());
    EXPECT_TRUE(m.close());
    EXPECT_TRUE(s.isShown());
    EXPECT_TRUE(dialogs_.boxes.empty());
}

// ---- Status window -----------------------------------------------------------

class StatusWindow : public WizardTest {
protected:
    StatusWindow() {
        for (int i = 0; i < 6; ++i) WriteMsg(dir_.path() / "Mail" / ("m" + std::to_string(i) + ".msg"), "s");
        dialogs_.folders = {(dir_.path() / "Mail").string()};
        start();
        wizard_.single();
        form("frmSingle").showModeless();
        form("frmSingle").click("CmdAddFolder");
        dialogs_.savePath = (dir_.path() / "out.pst").string();
    }
    // Opens the status window modally from the single-folder window and
    // runs `step` in it.
    void inStatus(std::function<void(FakeForm&)> step) {
        bool seen = false;
        toolkit_.whenModal("frmMigateAll", [&](FakeForm& st) {
            seen = true;
            wizard_.status().engine().setYieldInterval(std::chrono::microseconds(0));
            step(st);
        });
        form("frmSingle").click("CmdNext");
        EXPECT_TRUE(seen);
    }
    // The buttons' states.
    struct Buttons {
        bool startEnabled, skipEnabled, stopShown, stopEnabled;
        bool operator==(const Buttons&) const = default;
    };
    static Buttons ButtonsOf(const FakeForm& st) {
        return {st.isEnabled("CmdStartConversion"), st.isEnabled("CmdSkip"), st.isShown("CmdStopMigration"),
                st.isEnabled("CmdStopMigration")};
    }
    engine::ConversionEngine& engine() { return wizard_.status().engine(); }
};

TEST_F(StatusWindow, OpensInItsStartStateWithoutAnOwnerAndAgainAfterARun) {
    for (int showing = 0; showing < 2; ++showing) {
        inStatus([&](FakeForm& st) {
            EXPECT_EQ(st.title(), "Conversion Status");
            EXPECT_EQ(st.owner, nullptr);
            EXPECT_EQ(st.focus, "CmdStartConversion");
            EXPECT_EQ(st.text("lblCount1"), "Conversion Not Started Yet...");
            EXPECT_EQ(st.text("lblProgress"), "0% Complete");
            EXPECT_EQ(st.text("LblCurrentDBX"), "Converting Messages...");
            EXPECT_EQ(st.text("FrameConversion"), " Details ");
            EXPECT_EQ(st.at("ProgressBar1").value, 0);
            EXPECT_EQ(ButtonsOf(st), (Buttons{true, false, false, true}));
            EXPECT_FALSE(st.isShown("ChkDelete"));
            EXPECT_FALSE(st.isChecked("ChkDelete"));
            EXPECT_FALSE(form("frmSingle").click("CmdNext"));
            st.click("CmdStartConversion");
        });
    }
}

TEST_F(StatusWindow, ButtonStatesThroughARunAndAfterIt) {
    std::vector<Buttons> seen;
    inStatus([&](FakeForm& st) {
        toolkit_.onYield = [&] {
            if (seen.empty() || !(seen.back() == ButtonsOf(st))) seen.push_back(ButtonsOf(st));
        };
        Buttons atSave{}, atEnd{};
        dialogs_.onSave = [&] { atSave = ButtonsOf(st); };
        dialogs_.answer = [&](const Box& b) {
            if (b.title == "Completed") atEnd = ButtonsOf(st);
            return MsgResult::Ok;
        };
        st.click("CmdStartConversion");
        toolkit_.onYield = nullptr;
        // Queued: start and skip disabled, stop not yet shown.
        EXPECT_EQ(atSave, (Buttons{false, false, false, true}));
        // Converting: start disabled, skip enabled, stop shown over start.
        EXPECT_NE(std::find(seen.begin(), seen.end(), Buttons{false, true, true, true}), seen.end());
        // After the folder conversion, before the completion box closes.
        EXPECT_EQ(atEnd, (Buttons{true, true, true, true}));
        // After the run: start enabled, skip disabled, stop disabled and hidden.
        EXPECT_EQ(ButtonsOf(st), (Buttons{true, false, false, false}));
        EXPECT_TRUE(st.isShown());
        EXPECT_EQ(st.text("lblProgress"), "100% Complete");
        EXPECT_EQ(st.at("ProgressBar1").value, 100);
        EXPECT_EQ(st.text("FrameConversion"), "Reading Messages & Email Metadata - (6 of 6) File(s)");
    });
    ASSERT_FALSE(dialogs_.boxes.empty());
    EXPECT_EQ(dialogs_.boxes.back().title, "Completed");
    EXPECT_EQ(dialogs_.saveFilters, (std::vector<std::string>{"Outlook Data File(s) (*.pst)|*.pst"}));
    ASSERT_EQ(dialogs_.saveProposals.size(), 1u);
    EXPECT_EQ(dialogs_.saveProposals[0].rfind("Mail", 0), 0u);
    EXPECT_EQ(dialogs_.saveOwners[0], &form("frmMigateAll"));
}

// A run in which a file was not converted says so in the window's label
// and in the completion box (under a warning icon), which names the report
// written beside the file; a complete run keeps its label.
TEST_F(StatusWindow, TheOutcomeIsToldInTheLabelAndTheBoxAndTheReportWritten) {
    inStatus([&](FakeForm& st) {
        st.click("CmdStartConversion");
        EXPECT_EQ(st.text("lblCount1").rfind("Migrating 6 items from ", 0), 0u);
        std::ofstream(dir_.path() / "Mail" / "bad.msg") << "not a message file";
        dialogs_.savePath = (dir_.path() / "second.pst").string();
        st.click("CmdStartConversion");
        EXPECT_EQ(st.text("lblCount1"), "6 of 7 message file(s) were converted.");
    });
    ASSERT_EQ(dialogs_.boxes.size(), 2u);
    EXPECT_EQ(dialogs_.boxes[0].icon, MsgIcon::Information);
    EXPECT_EQ(dialogs_.boxes[1].icon, MsgIcon::Warning);
    const fsys::path report = dir_.path() / "second report.csv";
    EXPECT_TRUE(fsys::exists(report));
    EXPECT_NE(dialogs_.boxes[1].text.find("The report of every file is in " + report.string() + "."),
              std::string::npos)
        << dialogs_.boxes[1].text;
}

// A chosen file that exists is asked about; Cancel closes the window.
TEST_F(StatusWindow, AnExistingFileIsAddedToReplacedOrLeftAsAnswered) {
    inStatus([&](FakeForm& st) { st.click("CmdStartConversion"); });
    for (const auto& [answer, converted, present] :
         {std::tuple{MsgResult::Cancel, 0, 0}, {MsgResult::Add, 0, 6}, {MsgResult::Replace, 6, 0}}) {
        dialogs_.boxes.clear();
        dialogs_.answer = [a = answer](const Box& b) { return b.buttons == MsgButtons::AddReplaceCancel ? a : MsgResult::Ok; };
        inStatus([&](FakeForm& st) { st.click("CmdStartConversion"); });
        EXPECT_EQ(dialogs_.boxes.at(0).text, "out.pst already exists.");
        EXPECT_EQ(engine().lastRun().cancelled, answer == MsgResult::Cancel);
        EXPECT_EQ(engine().lastRun().messagesConverted(), converted);
        EXPECT_EQ(engine().lastRun().alreadyPresent(), present);
    }
}

TEST_F(StatusWindow, ACancelledSaveClosesTheWindowWithoutAStop) {
    dialogs_.savePath.reset();
    inStatus([&](FakeForm& st) {
        st.click("CmdStartConversion");
        EXPECT_FALSE(st.isShown());
        EXPECT_FALSE(engine().stopRequested());
        EXPECT_TRUE(engine().lastRun().cancelled);
    });
    EXPECT_FALSE(fsys::exists(dir_.path() / "out.pst"));
    for (const Box& b : dialogs_.boxes) EXPECT_NE(b.title, "Confirm Stop");
    EXPECT_TRUE(toolkit_.modal.empty());
}

// What the user does while a folder is converted, pressed when the stop
// button first shows: skip then stop closes at once and leaves the stop set,
// asking nothing; the close box ends the run as a confirmed stop, asking
// nothing.
TEST_F(StatusWindow, StopWithASkipPendingAndTheCloseBoxEndTheRunWithoutAQuestion) {
    for (bool closeBox : {false, true}) {
        dialogs_.boxes.clear();
        bool pressed = false, closedAtOnce = false;
        inStatus([&](FakeForm& st) {
            toolkit_.onYield = [&] {
                if (pressed || !st.isShown("CmdStopMigration") || !st.isEnabled("CmdSkip")) return;
                pressed = true;
                if (closeBox) {
                    st.close();
                } else {
                    st.click("CmdSkip");
                    st.click("CmdStopMigration");
                }
                closedAtOnce = !st.isShown();
            };
            st.click("CmdStartConversion");
            toolkit_.onYield = nullptr;
        });
        EXPECT_TRUE(pressed) << closeBox;
        EXPECT_TRUE(closedAtOnce) << closeBox;
        EXPECT_TRUE(engine().lastRun().stopped || engine().stopRequested()) << closeBox;
        EXPECT_FALSE(engine().isRunning());
        for (const Box& b : dialogs_.boxes) EXPECT_NE(b.buttons, MsgButtons::YesNo) << b.title;
    }
}

TEST_F(StatusWindow, TheBarShowsTheWholePartOfTheValueInItsRangeAndNothingForANonNumber) {
    frmMigateAll& st = wizard_.status();
    FakeForm& f = form("frmMigateAll");
    st.setProgressRange(0, 40);
    const std::pair<float, int> cases[] = {{12.9f, 12}, {-3.f, 0},  {99.f, 40},         {NAN, 0},
                                           {INFINITY, 0}, {-INFINITY, 0}, {1e30f, 40}, {40.f, 40}};
    for (auto [value, shown] : cases) {
        st.setProgressValue(value);
        EXPECT_EQ(f.at("ProgressBar1").value, shown) << value;
        EXPECT_EQ(f.at("ProgressBar1").maximum, 40);
    }
    EXPECT_EQ(st.progressValue(), 40.f);
}

// The engine reads the choices from the windows: the mode, the folder, and
// the list's rows from 1, whose look it marks.
TEST_F(ListWindow, TheJobReadsTheWindowsAndMarksTheRowsItTakesUp) {
    engine::JobView& job = wizard_.job();
    EXPECT_TRUE(job.optSingle());
    EXPECT_EQ(job.sourceMailbox(), "");
    EXPECT_EQ(job.rowCount(), 0);
    FakeForm& m = toList();
    EXPECT_FALSE(job.optSingle());
    list(m, dir_.path() / "Root");
    m.setRowChecked("lv", 1, true);
    EXPECT_EQ(job.rowCount(), 3);
    EXPECT_TRUE(job.rowChecked(2));
    EXPECT_FALSE(job.rowChecked(4));
    EXPECT_EQ(job.rowText(2), "Bob");
    EXPECT_EQ(job.rowSubItemText(3), m.cell("lv", 2, 1));
    EXPECT_EQ(job.outputFolder(), m.text("txtOutputFolder"));
    job.setRowForeColor(2, 0, 128, 0);
    job.setRowBold(2, true);
    job.setRowBold(9, true);  // no such row: nothing
    EXPECT_EQ(m.at("lv").rows[1].colour, kTitleGreen);
    EXPECT_TRUE(m.at("lv").rows[1].bold);
    EXPECT_FALSE(m.at("lv").rows[0].bold);
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
