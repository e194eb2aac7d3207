// The wizard's windows as a user meets them: start states, navigation,
// the folder choices, the list and its select-all box, and the status
// window's buttons through real runs. Every dialog is answered by
// FakeDialogs; modal windows are driven once they are shown.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QFile>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTreeWidget>

#include "engine/help_site.h"
#include "tests/ui/ui_fixture.h"
#include "ui/common/look.h"
#include "ui/frmMigateAll/frmMigateAll.h"
#include "ui/frmMultiple/frmMultiple.h"
#include "ui/frmSingle/frmSingle.h"
#include "ui/frmStart/frmStart.h"
#include "ui/wizard/wizard.h"

namespace tavrin::ui {
namespace {

using namespace tavrin::ui::testing;

class Windows : public ::testing::Test {
protected:
    void SetUp() override {
        wizard_ = std::make_unique<Wizard>(dialogs_);
        wizard_->onEndProgram = [this] { ++ended_; };
    }
    void TearDown() override { wizard_.reset(); }
    frmStart& start() { return wizard_->start(); }
    template <class T>
    static T* child(QWidget& w, const char* name) {
        T* c = w.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(c, nullptr) << name;
        return c;
    }

    FakeDialogs dialogs_;
    std::unique_ptr<Wizard> wizard_;
    int ended_ = 0;
};

// ---- Text that fits ---------------------------------------------------------

// Labels, buttons, option buttons and check boxes whose text does not fit
// their fixed rectangle in the window's fonts.
std::vector<std::string> Clipped(QWidget& window) {
    std::vector<std::string> out;
    for (QLabel* l : window.findChildren<QLabel*>()) {
        if (l->text().isEmpty() || l->pixmap().isNull() == false) continue;
        const QSize need = l->wordWrap() ? QSize(l->width(), l->heightForWidth(l->width())) : l->sizeHint();
        if (need.width() > l->width() + 1 || need.height() > l->height() + 1)
            out.push_back(l->text().left(40).toStdString() + " needs " + std::to_string(need.width()) + "x" +
                          std::to_string(need.height()) + " has " + std::to_string(l->width()) + "x" +
                          std::to_string(l->height()));
    }
    for (QAbstractButton* b : window.findChildren<QAbstractButton*>()) {
        if (b->text().isEmpty()) continue;
        QString t = b->text();
        t.remove(QLatin1Char('&'));
        const int textWidth = QFontMetrics(b->font()).horizontalAdvance(t);
        const int room = qobject_cast<QPushButton*>(b) ? b->width() - 8 : b->width() - 20;
        if (textWidth > room)
            out.push_back(t.toStdString() + " needs " + std::to_string(textWidth) + " has " + std::to_string(room));
    }
    return out;
}

TEST(ClippedCheck, FindsALabelAndAButtonThatAreTooSmall) {
    QWidget w;
    MakeLabel(&w, QStringLiteral("A caption far too long"), QRect(0, 0, 30, 20), Tahoma(9));
    MakeLabel(&w, QStringLiteral("Wrapped words that need several lines"), QRect(0, 0, 60, 14), Tahoma(9), Qt::black,
              true);
    (new QPushButton(QStringLiteral("&Long button caption"), &w))->setGeometry(0, 0, 40, 20);
    MakeLabel(&w, QStringLiteral("Fits"), QRect(0, 0, 100, 20), Tahoma(9));
    EXPECT_EQ(Clipped(w).size(), 3u);
}

TEST_F(Windows, EveryCaptionFitsItsControlInTahoma) {
    if (!QFile::exists(QStringLiteral("/usr/share/wine/fonts/tahoma.ttf"))) GTEST_SKIP() << "fonts-wine is not installed";
    std::vector<QWidget*> windows{&start(), &wizard_->single(), &wizard_->multiple(), &wizard_->status()};
    for (QWidget* w : windows) {
        for (const std::string& c : Clipped(*w)) ADD_FAILURE() << w->objectName().toStdString() << ": " << c;
    }
}

// ---- Start window ----------------------------------------------------------

TEST_F(Windows, StartWindowOpensWithSingleSelectedAndBoldAtItsSize) {
    frmStart& s = start();
    s.show();
    EXPECT_EQ(s.windowTitle(), QStringLiteral("Tavrin MSG to PST Converter v6.4"));
    EXPECT_EQ(s.size(), QSize(618, 472));
    auto* single = child<QRadioButton>(s, "OptSingle");
    auto* multiple = child<QRadioButton>(s, "OptMultiple");
    EXPECT_TRUE(single->isChecked());
    EXPECT_TRUE(single->font().bold());
    EXPECT_FALSE(multiple->font().bold());
    EXPECT_EQ(child<QPushButton>(s, "CmdNext")->text(), QStringLiteral("&Next >"));
    EXPECT_EQ(child<QPushButton>(s, "CmdHelp")->text(), QStringLiteral("&Help Manual"));
    auto* title = child<QLabel>(s, "lblTitle");
    EXPECT_EQ(title->palette().color(QPalette::WindowText), QColor(0, 128, 0));
    EXPECT_TRUE(title->font().bold());
    EXPECT_FALSE(s.windowIcon().isNull());
}

// The named controls that take the focus, in tab order from `first`.
std::vector<QString> FocusOrder(QWidget* first, int count) {
    std::vector<QString> order;
    QWidget* w = first;
    for (int i = 0; i < count && w; ++i) {
        order.push_back(w->objectName());
        do w = w->nextInFocusChain();
        while (w != first && (w->focusPolicy() == Qt::NoFocus || w->objectName().isEmpty() ||
                              w->objectName().startsWith(QLatin1String("qt_"))));
    }
    return order;
}

TEST_F(Windows, StartFocusRunsFromTheOptionsToNextThenHelp) {
    frmStart& s = start();
    EXPECT_EQ(FocusOrder(child<QRadioButton>(s, "OptSingle"), 4),
              (std::vector<QString>{"OptSingle", "OptMultiple", "CmdNext", "CmdHelp"}));
}

TEST_F(Windows, SingleFocusRunsSelectNextFolderBox) {
    frmSingle& f = wizard_->single();
    EXPECT_EQ(FocusOrder(Button(f, "CmdAddFolder"), 3),
              (std::vector<QString>{"CmdAddFolder", "CmdNext", "txtSourceMailbox"}));
}

TEST_F(Windows, ChoosingAnOptionOnlyMovesTheBoldAndClickingItAgainKeepsIt) {
    frmStart& s = start();
    auto* single = child<QRadioButton>(s, "OptSingle");
    auto* multiple = child<QRadioButton>(s, "OptMultiple");
    multiple->click();
    EXPECT_TRUE(multiple->font().bold());
    EXPECT_FALSE(single->font().bold());
    multiple->click();
    EXPECT_TRUE(multiple->isChecked());
    EXPECT_TRUE(multiple->font().bold());
    EXPECT_FALSE(single->font().bold());
    EXPECT_EQ(wizard_->singleIfCreated(), nullptr);
    EXPECT_EQ(wizard_->multipleIfCreated(), nullptr);
}

TEST_F(Windows, AltNOnTheStartWindowPressesNext) {
    frmStart& s = start();
    s.show();
    QApplication::setActiveWindow(&s);
    if (!QTest::qWaitForWindowActive(&s, 2000)) GTEST_SKIP() << "the platform activates no window";
    bool seen = false;
    WhenModal<frmSingle>([&](frmSingle& f) {
        seen = true;
        f.close();
    });
    QTest::keyClick(&s, Qt::Key_N, Qt::AltModifier);
    // A button's access key clicks it after a short animation.
    for (int i = 0; i < 100 && !seen; ++i) QTest::qWait(10);
    EXPECT_TRUE(seen);
}

TEST_F(Windows, HelpLinksAreBlueHandsWithTheTooltipAndOpenTheirPages) {
    engine::SetHelpSite("file:///opt/help");
    frmStart& s = start();
    s.show();
    auto links = s.findChildren<HelpLink*>();
    ASSERT_EQ(links.size(), 2);
    for (HelpLink* l : links) {
        EXPECT_EQ(l->text(), QStringLiteral(" [ ? ]"));
        EXPECT_EQ(l->cursor().shape(), Qt::PointingHandCursor);
        EXPECT_EQ(l->toolTip(), QStringLiteral("Click to Know More..."));
        EXPECT_EQ(l->palette().color(QPalette::WindowText), QColor(0, 0, 255));
    }
    QTest::mouseClick(child<HelpLink>(s, "lblSingleHelp"), Qt::LeftButton);
    QTest::mouseClick(child<HelpLink>(s, "lblMultipleHelp"), Qt::LeftButton);
    Click(s, "CmdHelp");
    engine::SetHelpSite("");
    EXPECT_EQ(dialogs_.urls, (std::vector<std::string>{"file:///opt/help/h/msg-to-pst/index.html#single-folder",
                                                        "file:///opt/help/h/msg-to-pst/index.html#multiple-folders",
                                                        "file:///opt/help/msg-to-pst/index.html"}));
}

TEST_F(Windows, ClosingTheStartWindowAsksAndNoKeepsItOpen) {
    frmStart& s = start();
    s.show();
    dialogs_.answer = [](const Box&) { return MsgResult::No; };
    EXPECT_FALSE(s.close());
    EXPECT_TRUE(s.isVisible());
    EXPECT_EQ(ended_, 0);
    ASSERT_EQ(dialogs_.boxes.size(), 1u);
    EXPECT_EQ(dialogs_.boxes[0].text, "Are you sure you want to exit now?");
    EXPECT_EQ(dialogs_.boxes[0].title, "Tavrin MSG to PST Converter");
    EXPECT_EQ(dialogs_.boxes[0].buttons, MsgButtons::YesNo);
    EXPECT_EQ(dialogs_.boxes[0].icon, MsgIcon::Question);
}

TEST_F(Windows, YesEndsTheProgramWithTheMultipleWindowLoaded) {
    frmStart& s = start();
    s.show();
    child<QRadioButton>(s, "OptMultiple")->click();
    Click(s, "CmdNext");
    frmMultiple* m = wizard_->multipleIfCreated();
    ASSERT_NE(m, nullptr);
    m->showStart();  // as "< Bac&k" does, but with the list window left open
    EXPECT_TRUE(s.close());
    EXPECT_EQ(ended_, 1);
    EXPECT_FALSE(m->isVisible());
    EXPECT_FALSE(s.isVisible());
    EXPECT_EQ(dialogs_.boxes.size(), 1u);  // closing the list window asked nothing
}

TEST_F(Windows, NextWithoutTouchingTheOptionsOpensTheSingleWindowModallyOverTheStart) {
    frmStart& s = start();
    s.show();
    bool seen = false;
    WhenModal<frmSingle>([&](frmSingle& f) {
        seen = true;
        EXPECT_TRUE(s.isVisible());
        EXPECT_EQ(f.parentWidget(), &s);
        EXPECT_EQ(f.windowTitle(), QStringLiteral("Single Folder Conversion Mode"));
        EXPECT_EQ(f.size(), QSize(579, 250));
        f.close();
    });
    Click(s, "CmdNext");
    EXPECT_TRUE(seen);
    EXPECT_TRUE(s.isVisible());
    EXPECT_TRUE(child<QRadioButton>(s, "OptSingle")->isChecked());
}

TEST_F(Windows, MultipleThenBackKeepsTheChoiceAndTheSameListWindow) {
    TempDir dir("back");
    fsys::create_directories(dir.path() / "Root" / "Alice");
    fsys::create_directories(dir.path() / "Root" / "Bob");
    frmStart& s = start();
    s.show();
    child<QRadioButton>(s, "OptMultiple")->click();
    Click(s, "CmdNext");
    frmMultiple* m = wizard_->multipleIfCreated();
    ASSERT_NE(m, nullptr);
    EXPECT_TRUE(m->isVisible());
    EXPECT_FALSE(s.isVisible());
    EXPECT_EQ(m->parentWidget(), nullptr);
    dialogs_.folders = {(dir.path() / "Root").string(), (dir.path() / "Out").string()};
    Click(*m, "CmdAddFolder");
    Click(*m, "cmdChange");
    m->setRowChecked(1, true);
    Click(*m, "cmdBack");
    EXPECT_TRUE(s.isVisible());
    EXPECT_FALSE(m->isVisible());
    EXPECT_TRUE(child<QRadioButton>(s, "OptMultiple")->isChecked());
    EXPECT_TRUE(child<QRadioButton>(s, "OptMultiple")->font().bold());
    Click(s, "CmdNext");
    EXPECT_EQ(wizard_->multipleIfCreated(), m);
    EXPECT_TRUE(m->isVisible());
    ASSERT_EQ(m->rowCount(), 2);
    EXPECT_FALSE(m->rowChecked(0));
    EXPECT_TRUE(m->rowChecked(1));
    EXPECT_EQ(m->outputFolder(), (dir.path() / "Out").string());
}

TEST_F(Windows, ClosingTheListWindowGoesBackToTheStartWindow) {
    frmStart& s = start();
    s.show();
    child<QRadioButton>(s, "OptMultiple")->click();
    Click(s, "CmdNext");
    frmMultiple* m = wizard_->multipleIfCreated();
    ASSERT_NE(m, nullptr);
    m->close();
    EXPECT_TRUE(s.isVisible());
    EXPECT_TRUE(dialogs_.boxes.empty());
}

// ---- Single-folder window --------------------------------------------------

TEST_F(Windows, SingleNextIsDisabledUntilAFolderIsChosenAndACancelKeepsTheChoice) {
    TempDir dir("single");
    fsys::create_directories(dir.path() / "Mail");
    frmSingle& f = wizard_->single();
    f.show();
    auto* next = child<QPushButton>(f, "CmdNext");
    auto* box = child<QLineEdit>(f, "txtSourceMailbox");
    EXPECT_FALSE(next->isEnabled());
    EXPECT_TRUE(box->text().isEmpty());
    Click(f, "CmdNext");  // disabled: nothing happens
    EXPECT_EQ(wizard_->statusIfCreated(), nullptr);
    Click(f, "CmdAddFolder");  // cancelled
    EXPECT_FALSE(next->isEnabled());
    const std::string mail = (dir.path() / "Mail").string();
    dialogs_.folders = {mail};
    Click(f, "CmdAddFolder");
    EXPECT_TRUE(next->isEnabled());
    EXPECT_EQ(box->text().toStdString(), mail);
    Click(f, "CmdAddFolder");  // cancelled again
    EXPECT_TRUE(next->isEnabled());
    EXPECT_EQ(box->text().toStdString(), mail);
    EXPECT_EQ(dialogs_.prompts, (std::vector<std::string>(3, "Choose Source Folder...")));
    EXPECT_EQ(dialogs_.browseOwners.back(), &f);
    f.close();
}

TEST_F(Windows, ARootFolderIsShownWithItsSeparator) {
    frmSingle& f = wizard_->single();
    dialogs_.folders = {"/"};
    Click(f, "CmdAddFolder");
    EXPECT_EQ(child<QLineEdit>(f, "txtSourceMailbox")->text(), QStringLiteral("/"));
}

TEST_F(Windows, ReopeningTheSingleWindowShowsItsInitialState) {
    frmStart& s = start();
    s.show();
    dialogs_.folders = {"/tmp"};
    int round = 0;
    std::function<void(frmSingle&)> step = [&](frmSingle& f) {
        auto* next = child<QPushButton>(f, "CmdNext");
        auto* box = child<QLineEdit>(f, "txtSourceMailbox");
        EXPECT_FALSE(next->isEnabled()) << round;
        EXPECT_TRUE(box->text().isEmpty()) << round;
        if (round++ == 0) Click(f, "CmdAddFolder");
        f.close();
    };
    WhenModal<frmSingle>(step);
    Click(s, "CmdNext");
    WhenModal<frmSingle>(step);
    Click(s, "CmdNext");
    EXPECT_EQ(round, 2);
}

// ---- Multiple-folder window ------------------------------------------------

class ListWindow : public Windows {
protected:
    void SetUp() override {
        Windows::SetUp();
        dir_ = std::make_unique<TempDir>("list");
        for (const char* n : {"Carol", "Alice", "Bob"}) fsys::create_directories(dir_->path() / "Root" / n);
        std::ofstream(dir_->path() / "Root" / "loose.msg") << "x";
        fsys::create_directories(dir_->path() / "Empty");
        m_ = &wizard_->multiple();
        m_->showModeless();
    }
    QCheckBox* selectAll() { return child<QCheckBox>(*m_, "chkSelectAll"); }
    QTreeWidget* lv() { return child<QTreeWidget>(*m_, "lv"); }
    void list(const fsys::path& root) {
        dialogs_.folders = {root.string()};
        Click(*m_, "CmdAddFolder");
    }
    std::unique_ptr<TempDir> dir_;
    frmMultiple* m_ = nullptr;
};

TEST_F(ListWindow, OpensWithTheDesktopAsOutputAndTheSelectAllBoxDisabled) {
    EXPECT_EQ(m_->windowTitle(), QStringLiteral("Multiple Folder Conversion Mode"));
    EXPECT_EQ(m_->size(), QSize(706, 472));
    EXPECT_FALSE(m_->outputFolder().empty());
    EXPECT_NE(m_->outputFolder().back(), '/');
    EXPECT_FALSE(selectAll()->isEnabled());
    EXPECT_FALSE(selectAll()->isChecked());
    EXPECT_EQ(selectAll()->text(), QStringLiteral("Check All"));
    EXPECT_EQ(lv()->topLevelItemCount(), 0);
    EXPECT_EQ(lv()->headerItem()->text(0), QStringLiteral("User"));
    EXPECT_EQ(lv()->headerItem()->text(1), QStringLiteral("Mailbox Folder"));
    EXPECT_EQ(lv()->columnWidth(0), 200);
    EXPECT_EQ(QApplication::focusWidget() == nullptr || QApplication::focusWidget() == Button(*m_, "CmdNext"), true);
}

TEST_F(ListWindow, AltKGoesBack) {
    QApplication::setActiveWindow(m_);
    if (!QTest::qWaitForWindowActive(m_, 2000)) GTEST_SKIP() << "the platform activates no window";
    QTest::keyClick(m_, Qt::Key_K, Qt::AltModifier);
    for (int i = 0; i < 100 && m_->isVisible(); ++i) QTest::qWait(10);
    EXPECT_FALSE(m_->isVisible());
    EXPECT_TRUE(start().isVisible());
}

TEST_F(ListWindow, FocusOrderRunsNextListSelectBoxChangeOutputBack) {
    EXPECT_EQ(FocusOrder(Button(*m_, "CmdNext"), 7), (std::vector<QString>{"CmdNext", "lv", "CmdAddFolder", "chkSelectAll", "cmdChange",
                                           "txtOutputFolder", "cmdBack"}));
}

TEST_F(ListWindow, ListsDirectSubFoldersWithIconsPathsTooltipsUnticked) {
    list(dir_->path() / "Root");
    ASSERT_EQ(m_->rowCount(), 3);
    const std::string root = (dir_->path() / "Root").string() + "/";
    std::vector<std::string> names;
    for (int i = 0; i < 3; ++i) {
        QTreeWidgetItem* it = lv()->topLevelItem(i);
        names.push_back(it->text(0).toStdString());
        EXPECT_EQ(it->text(1).toStdString(), root + names.back());
        EXPECT_EQ(it->toolTip(1), it->text(1));
        EXPECT_EQ(it->checkState(0), Qt::Unchecked);
        EXPECT_FALSE(it->icon(0).isNull());
        EXPECT_FALSE(it->icon(1).isNull());
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Alice", "Bob", "Carol"}));
    EXPECT_TRUE(selectAll()->isEnabled());
    EXPECT_TRUE(lv()->alternatingRowColors());
    EXPECT_EQ(lv()->palette().color(QPalette::Base), QColor(255, 255, 255));
    EXPECT_EQ(lv()->palette().color(QPalette::AlternateBase), QColor(255, 255, 192));
}

TEST_F(ListWindow, ARootWithATrailingSeparatorIsNotDoubled) {
    list(dir_->path() / "Root" / "");
    ASSERT_EQ(m_->rowCount(), 3);
    EXPECT_EQ(m_->rowSubItemText(0), (dir_->path() / "Root" / "Alice").string());
}

TEST_F(ListWindow, CheckAllTicksEveryRowAndTheCaptionFollows) {
    list(dir_->path() / "Root");
    selectAll()->click();
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(m_->rowChecked(i));
    EXPECT_EQ(selectAll()->text(), QStringLiteral("Uncheck All"));
    selectAll()->click();
    for (int i = 0; i < 3; ++i) EXPECT_FALSE(m_->rowChecked(i));
    EXPECT_EQ(selectAll()->text(), QStringLiteral("Check All"));
}

TEST_F(ListWindow, ListingAnewWhileTickedUnticksAndResetsTheCaption) {
    list(dir_->path() / "Root");
    selectAll()->click();
    m_->setRowChecked(0, true);
    list(dir_->path() / "Root");
    EXPECT_FALSE(selectAll()->isChecked());
    EXPECT_EQ(selectAll()->text(), QStringLiteral("Check All"));
    for (int i = 0; i < m_->rowCount(); ++i) EXPECT_FALSE(m_->rowChecked(i));
}

TEST_F(ListWindow, AnotherRootReplacesTheRowsAndACancelKeepsThem) {
    list(dir_->path() / "Root");
    m_->setRowChecked(2, true);
    Click(*m_, "CmdAddFolder");  // cancelled
    EXPECT_EQ(m_->rowCount(), 3);
    EXPECT_TRUE(m_->rowChecked(2));
    fsys::create_directories(dir_->path() / "Other" / "Zed");
    list(dir_->path() / "Other");
    ASSERT_EQ(m_->rowCount(), 1);
    EXPECT_EQ(m_->rowText(0), "Zed");
    EXPECT_FALSE(m_->rowChecked(0));
}

TEST_F(ListWindow, AnEmptyRootKeepsTheCaptionAndNextSaysNoFoldersSelected) {
    list(dir_->path() / "Empty");
    EXPECT_EQ(m_->rowCount(), 0);
    EXPECT_TRUE(selectAll()->isEnabled());
    selectAll()->click();
    EXPECT_TRUE(selectAll()->isChecked());
    EXPECT_EQ(selectAll()->text(), QStringLiteral("Check All"));
    Click(*m_, "CmdNext");
    ASSERT_EQ(dialogs_.boxes.size(), 1u);
    EXPECT_EQ(dialogs_.boxes[0].text, "No Folders Selected !\r\nPlease Select alteast one folder to convert.");
    EXPECT_EQ(dialogs_.boxes[0].title, "Select Folder(s) to Convert");
    EXPECT_EQ(dialogs_.boxes[0].icon, MsgIcon::Information);
    EXPECT_EQ(dialogs_.boxes[0].owner, m_);
    EXPECT_EQ(wizard_->statusIfCreated(), nullptr);
}

TEST_F(ListWindow, RowsButNoneTickedAlsoSaysNoFoldersSelected) {
    list(dir_->path() / "Root");
    Click(*m_, "CmdNext");
    ASSERT_EQ(dialogs_.boxes.size(), 1u);
    EXPECT_EQ(dialogs_.boxes[0].title, "Select Folder(s) to Convert");
}

TEST_F(ListWindow, ATickedRowOpensTheStatusWindowOwnedByTheList) {
    list(dir_->path() / "Root");
    m_->setRowChecked(2, true);
    bool seen = false;
    WhenModal<frmMigateAll>([&](frmMigateAll& st) {
        seen = true;
        EXPECT_EQ(st.parentWidget(), m_);
        st.close();
    });
    Click(*m_, "CmdNext");
    EXPECT_TRUE(seen);
    EXPECT_TRUE(dialogs_.boxes.empty());
}

TEST_F(ListWindow, ChangeSetsTheOutputFolderAsReturnedAndACancelKeepsIt) {
    const std::string before = m_->outputFolder();
    Click(*m_, "cmdChange");
    EXPECT_EQ(m_->outputFolder(), before);
    dialogs_.folders = {"/"};
    Click(*m_, "cmdChange");
    EXPECT_EQ(m_->outputFolder(), "/");
    EXPECT_EQ(dialogs_.prompts.back(), "Choose Output Folder...");
}

// ---- Status window ---------------------------------------------------------

// The buttons' states, sampled while a run yields.
struct ButtonStates {
    bool startEnabled, skipEnabled, stopVisible, stopEnabled;
    bool operator==(const ButtonStates&) const = default;
};

ButtonStates StatesOf(frmMigateAll& st) {
    return {Button(st, "CmdStartConversion")->isEnabled(), Button(st, "CmdSkip")->isEnabled(),
            Button(st, "CmdStopMigration")->isVisible(), Button(st, "CmdStopMigration")->isEnabled()};
}

class StatusWindow : public Windows {
protected:
    void SetUp() override {
        Windows::SetUp();
        dir_ = std::make_unique<TempDir>("status");
        for (int i = 0; i < 6; ++i) WriteMsg(dir_->path() / "Mail" / ("m" + std::to_string(i) + ".msg"), "s");
        dialogs_.folders = {(dir_->path() / "Mail").string()};
        wizard_->single();
        Click(wizard_->single(), "CmdAddFolder");
        dialogs_.savePath = (dir_->path() / "out.pst").string();
    }
    // Opens the status window modally from the single-folder window and
    // runs `step` in it.
    void inStatus(std::function<void(frmMigateAll&)> step) {
        bool seen = false;
        WhenModal<frmMigateAll>([&](frmMigateAll& st) {
            seen = true;
            st.engine().setYieldInterval(std::chrono::microseconds(0));
            step(st);
            if (st.isVisible()) st.close();
        });
        Click(wizard_->single(), "CmdNext");
        EXPECT_TRUE(seen);
    }
    std::unique_ptr<TempDir> dir_;
};

TEST_F(StatusWindow, StartStateAndTheStopButtonOverTheStartButton) {
    inStatus([&](frmMigateAll& st) {
        EXPECT_EQ(st.windowTitle(), QStringLiteral("Conversion Status"));
        EXPECT_EQ(st.size(), QSize(578, 261));
        EXPECT_EQ(st.parentWidget(), nullptr);
        EXPECT_EQ(child<QLabel>(st, "lblCount1")->text(), QStringLiteral("Conversion Not Started Yet..."));
        EXPECT_EQ(child<QLabel>(st, "lblProgress")->text(), QStringLiteral("0% Complete"));
        EXPECT_EQ(child<QLabel>(st, "LblCurrentDBX")->text(), QStringLiteral("Converting Messages..."));
        EXPECT_EQ(child<QGroupBox>(st, "FrameConversion")->title(), QStringLiteral(" Details "));
        EXPECT_EQ(child<QProgressBar>(st, "ProgressBar1")->value(), 0);
        EXPECT_EQ(StatesOf(st), (ButtonStates{true, false, false, true}));
        EXPECT_EQ(Button(st, "CmdStopMigration")->geometry(), Button(st, "CmdStartConversion")->geometry());
        EXPECT_EQ(Button(st, "CmdStartConversion")->text(), QStringLiteral("Sta&rt Conversion"));
        EXPECT_EQ(Button(st, "CmdStopMigration")->text(), QStringLiteral("S&top Conversion"));
        EXPECT_EQ(Button(st, "CmdStopMigration")->toolTip(), QStringLiteral("Stops Complete Conversion"));
        EXPECT_EQ(Button(st, "CmdSkip")->toolTip(), QStringLiteral("Cancel Conversion of Current Folder"));
        // The delete-option row is laid out but hidden.
        EXPECT_FALSE(child<QCheckBox>(st, "ChkDelete")->isVisible());
        EXPECT_FALSE(child<QCheckBox>(st, "ChkDelete")->isChecked());
        EXPECT_FALSE(child<QLabel>(st, "Image1")->isVisible());
        EXPECT_FALSE(child<QLabel>(st, "lblDeleteHelp")->isVisible());
    });
}

TEST_F(StatusWindow, ButtonStatesThroughARunAndAfterIt) {
    std::vector<ButtonStates> seen;
    inStatus([&](frmMigateAll& st) {
        QTimer sampler;
        sampler.setInterval(0);
        QObject::connect(&sampler, &QTimer::timeout, [&] {
            const ButtonStates s = StatesOf(st);
            if (seen.empty() || !(seen.back() == s)) seen.push_back(s);
        });
        ButtonStates atSave{}, atEnd{};
        dialogs_.onSave = [&] { atSave = StatesOf(st); };
        dialogs_.answer = [&](const Box& b) {
            if (b.title == "Completed") atEnd = StatesOf(st);
            return MsgResult::Ok;
        };
        sampler.start();
        Click(st, "CmdStartConversion");
        sampler.stop();
        // Queued: start and skip disabled, stop not yet shown.
        EXPECT_EQ(atSave, (ButtonStates{false, false, false, true}));
        // Converting: start disabled, skip enabled, stop shown over start.
        EXPECT_NE(std::find(seen.begin(), seen.end(), ButtonStates{false, true, true, true}), seen.end());
        // After the folder conversion, before the completion box closes.
        EXPECT_EQ(atEnd, (ButtonStates{true, true, true, true}));
        // After the run: start enabled, skip disabled, stop disabled and hidden.
        EXPECT_EQ(StatesOf(st), (ButtonStates{true, false, false, false}));
        EXPECT_TRUE(st.isVisible());
        EXPECT_EQ(child<QLabel>(st, "lblProgress")->text(), QStringLiteral("100% Complete"));
        EXPECT_EQ(child<QProgressBar>(st, "ProgressBar1")->value(), 100);
        // The frame caption carries a literal "&", doubled for the group frame.
        EXPECT_EQ(child<QGroupBox>(st, "FrameConversion")->title(),
                  QStringLiteral("Reading Messages && Email Metadata - (6 of 6) File(s)"));
    });
    ASSERT_FALSE(dialogs_.boxes.empty());
    EXPECT_EQ(dialogs_.boxes.back().title, "Completed");
    EXPECT_EQ(dialogs_.saveFilters, (std::vector<std::string>{"Outlook Data File(s) (*.pst)|*.pst"}));
    ASSERT_EQ(dialogs_.saveProposals.size(), 1u);
    EXPECT_EQ(dialogs_.saveProposals[0].rfind("Mail", 0), 0u);
    EXPECT_EQ(dialogs_.saveProposals[0].substr(dialogs_.saveProposals[0].size() - 4), ".pst");
}

// A run in which a file was not converted says so in the window's label
// and in the completion box (under a warning icon), which names the report
// the wizard wrote beside the file; a complete run keeps its label.
TEST_F(StatusWindow, TheOutcomeIsToldInTheLabelAndTheBoxAndTheReportWritten) {
    inStatus([&](frmMigateAll& st) {
        Click(st, "CmdStartConversion");
        EXPECT_EQ(child<QLabel>(st, "lblCount1")->text().toStdString().rfind("Migrating 6 items from ", 0), 0u);
        std::ofstream(dir_->path() / "Mail" / "bad.msg") << "not a message file";
        dialogs_.savePath = (dir_->path() / "second.pst").string();
        Click(st, "CmdStartConversion");
        EXPECT_EQ(child<QLabel>(st, "lblCount1")->text(), QStringLiteral("6 of 7 message file(s) were converted."));
    });
    ASSERT_EQ(dialogs_.boxes.size(), 2u);
    EXPECT_EQ(dialogs_.boxes[0].icon, MsgIcon::Information);
    EXPECT_EQ(dialogs_.boxes[1].title, "Completed");
    EXPECT_EQ(dialogs_.boxes[1].icon, MsgIcon::Warning);
    const fsys::path report = dir_->path() / "second report.csv";
    EXPECT_TRUE(fsys::exists(report));
    EXPECT_NE(dialogs_.boxes[1].text.find("The report of every file is in " + report.string() + "."),
              std::string::npos)
        << dialogs_.boxes[1].text;
}

TEST_F(StatusWindow, ACancelledSaveClosesTheWindowWithoutAStop) {
    dialogs_.savePath.reset();
    inStatus([&](frmMigateAll& st) {
        Click(st, "CmdStartConversion");
        EXPECT_FALSE(st.isVisible());
        EXPECT_FALSE(st.engine().stopRequested());
        EXPECT_TRUE(st.engine().lastRun().cancelled);
        EXPECT_FALSE(st.engine().lastRun().stopped);
    });
    EXPECT_FALSE(fsys::exists(dir_->path() / "out.pst"));
    for (const Box& b : dialogs_.boxes) EXPECT_NE(b.title, "Confirm Stop");
}

TEST_F(StatusWindow, StopWhileASkipIsPendingClosesAtOnceAndLeavesTheStopSet) {
    inStatus([&](frmMigateAll& st) {
        bool pressed = false, closedAtOnce = false;
        QTimer t;
        t.setInterval(0);
        QObject::connect(&t, &QTimer::timeout, [&] {
            if (pressed || !Button(st, "CmdStopMigration")->isVisible() || !Button(st, "CmdSkip")->isEnabled()) return;
            pressed = true;
            Click(st, "CmdSkip");
            Click(st, "CmdStopMigration");
            closedAtOnce = !st.isVisible();
        });
        t.start();
        Click(st, "CmdStartConversion");
        t.stop();
        EXPECT_TRUE(pressed);
        EXPECT_TRUE(closedAtOnce);
        EXPECT_TRUE(st.engine().stopRequested());
    });
    for (const Box& b : dialogs_.boxes) {
        EXPECT_NE(b.title, "Confirm Skip");
        EXPECT_NE(b.title, "Confirm Stop");
    }
}

TEST_F(StatusWindow, TheCloseBoxDuringARunAsksNothingAndEndsTheRun) {
    inStatus([&](frmMigateAll& st) {
        bool closed = false;
        QTimer t;
        t.setInterval(0);
        QObject::connect(&t, &QTimer::timeout, [&] {
            if (closed || !Button(st, "CmdSkip")->isEnabled()) return;
            closed = true;
            st.close();
        });
        t.start();
        Click(st, "CmdStartConversion");
        t.stop();
        EXPECT_TRUE(closed);
        EXPECT_FALSE(st.isVisible());
        EXPECT_TRUE(st.engine().lastRun().stopped);
        EXPECT_FALSE(st.engine().isRunning());
    });
    for (const Box& b : dialogs_.boxes) EXPECT_NE(b.buttons, MsgButtons::YesNo) << b.title;
}

TEST_F(StatusWindow, AltRStartsTheConversion) {
    inStatus([&](frmMigateAll& st) {
        QApplication::setActiveWindow(&st);
        if (!QTest::qWaitForWindowActive(&st, 2000)) return;
        QTest::keyClick(&st, Qt::Key_R, Qt::AltModifier);
        for (int i = 0; i < 200 && dialogs_.boxes.empty(); ++i) QTest::qWait(10);
        ASSERT_FALSE(dialogs_.boxes.empty());
        EXPECT_EQ(dialogs_.boxes.back().title, "Completed");
    });
    EXPECT_TRUE(fsys::exists(dir_->path() / "out.pst"));
}

TEST_F(StatusWindow, EscapeDuringARunClosesLikeTheCloseBox) {
    inStatus([&](frmMigateAll& st) {
        bool pressed = false;
        QTimer t;
        t.setInterval(0);
        QObject::connect(&t, &QTimer::timeout, [&] {
            if (pressed || !Button(st, "CmdSkip")->isEnabled()) return;
            pressed = true;
            QTest::keyClick(&st, Qt::Key_Escape);
        });
        t.start();
        Click(st, "CmdStartConversion");
        t.stop();
        EXPECT_TRUE(pressed);
        EXPECT_FALSE(st.isVisible());
        EXPECT_TRUE(st.engine().lastRun().stopped);
    });
    for (const Box& b : dialogs_.boxes) EXPECT_NE(b.buttons, MsgButtons::YesNo) << b.title;
}

TEST_F(StatusWindow, ASecondShowingStartsFromTheStartStateAgain) {
    inStatus([&](frmMigateAll& st) { Click(st, "CmdStartConversion"); });
    inStatus([&](frmMigateAll& st) {
        EXPECT_EQ(child<QLabel>(st, "lblCount1")->text(), QStringLiteral("Conversion Not Started Yet..."));
        EXPECT_EQ(StatesOf(st), (ButtonStates{true, false, false, true}));
        EXPECT_EQ(child<QProgressBar>(st, "ProgressBar1")->value(), 0);
    });
}

TEST_F(StatusWindow, APathWithMarkupCharactersIsShownAsWritten) {
    // A file name that a rich-text label would draw as bold "plan" and
    // "&amp;" as "&".
    const fsys::path odd = dir_->path() / "Mail" / "R&amp;D <b>plan</b>.msg";
    WriteMsg(odd, "s");
    std::string shown;
    Qt::TextFormat format = Qt::AutoText;
    inStatus([&](frmMigateAll& st) {
        QLabel* dbx = child<QLabel>(st, "LblCurrentDBX");
        QTimer sampler;
        sampler.setInterval(0);
        QObject::connect(&sampler, &QTimer::timeout, [&] {
            if (dbx->text().contains(QStringLiteral("<b>"))) {
                shown = S(dbx->text());
                format = dbx->textFormat();
            }
        });
        sampler.start();
        Click(st, "CmdStartConversion");
        sampler.stop();
        if (shown.empty() && dbx->text().contains(QStringLiteral("<b>"))) {
            shown = S(dbx->text());
            format = dbx->textFormat();
        }
    });
    EXPECT_EQ(shown, "Converting Messages... from (" + odd.string() + ")");
    EXPECT_EQ(format, Qt::PlainText);
}

}  // namespace
}  // namespace tavrin::ui
