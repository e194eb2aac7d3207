// How the Qt toolkit draws the wizard's windows from their layouts: every
// control where its table puts it, in its font and colours, reaching its
// handler; captions that fit at 96 and 144 dots per inch, with each help
// link after its caption; Tab and the access keys; modal showing, the close
// box and Escape; the list, the bar and the labels as drawn.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTreeWidget>

#include <cmath>

#include "engine/wizard/windows.h"
#include "engine/wizard/wizard.h"
#include "tests/ui/ui_fixture.h"
#include "ui/common/look.h"

namespace tavrin::ui {
namespace {

using namespace tavrin::ui::testing;
using wizard::Control;
using wizard::Kind;

class QtWindows : public ::testing::Test {
protected:
    QtWindows() { wizard_.onEndProgram = [] {}; }
    std::vector<wizard::Form*> forms() {
        return {&wizard_.start().form(), &wizard_.single().form(), &wizard_.multiple().form(),
                &wizard_.status().form()};
    }
    std::unique_ptr<wizard::Toolkit> toolkit_ = MakeToolkit();
    FakeDialogs dialogs_;
    wizard::Wizard wizard_{*toolkit_, dialogs_};
};

// Where a control is in its window.
QRect PlaceOf(QWidget& window, QWidget* c) { return QRect(c->mapTo(&window, QPoint(0, 0)), c->size()); }

bool MovesWithItsCaption(const wizard::WindowLayout& layout, const Control& c) {
    if (c.follows) return true;
    for (const Control& o : layout.controls)
        if (o.follows && std::string_view(o.follows) == c.name) return true;
    return false;
}

TEST_F(QtWindows, EveryControlIsBuiltFromItsTableAndReachesItsHandler) {
    for (wizard::Form* f : forms()) {
        const wizard::WindowLayout& layout = f->layout();
        QWidget& w = W(*f);
        EXPECT_EQ(w.windowTitle(), QString::fromUtf8(layout.caption));
        EXPECT_EQ(w.size(), QSize(Px(layout.width), Px(layout.height)));
        w.show();
        std::vector<std::string> clicked, clickable;
        f->onClick = [&](std::string_view c) { clicked.emplace_back(c); };
        for (const Control& c : layout.controls) {
            if (c.kind == Kind::Band) continue;
            QWidget* x = Child(w, c.name);
            if (!x) continue;
            const QRect want = Tw(layout.placeInWindow(c)), got = PlaceOf(w, x);
            if (MovesWithItsCaption(layout, c)) {
                EXPECT_EQ(got.y(), want.y()) << c.name;
            } else {
                EXPECT_EQ(got, want) << c.name;
            }
            EXPECT_EQ(x->font().pixelSize(), std::lround(c.font.centiPoints * 96.0 / 7200)) << c.name;
            EXPECT_EQ(x->font().bold(), c.font.bold) << c.name;
            EXPECT_EQ(x->font().family(), c.font.face == wizard::Face::Verdana ? "Verdana" : "Tahoma") << c.name;
            EXPECT_EQ(x->palette().color(QPalette::WindowText), Colour(c.fore)) << c.name;
            if (c.back != wizard::kSystemColour && x->autoFillBackground()) {
                EXPECT_EQ(x->palette().color(QPalette::Window), Colour(c.back)) << c.name;
            }
            EXPECT_EQ(x->toolTip(), QString::fromUtf8(c.tooltip ? c.tooltip : "")) << c.name;
            EXPECT_EQ(x->isHidden(), c.hidden) << c.name;
            if (auto* b = qobject_cast<QAbstractButton*>(x)) {
                EXPECT_EQ(b->text(), QString::fromUtf8(c.caption));
            }
            if (!c.clickable()) continue;
            clickable.push_back(c.name);
            x->show();
            x->setEnabled(true);
            if (auto* b = qobject_cast<QAbstractButton*>(x)) b->click();
            else QTest::mouseClick(x, Qt::LeftButton);
        }
        EXPECT_EQ(clicked, clickable) << layout.name;
        w.hide();
    }
}

// ---- Captions that fit ---------------------------------------------------------

// Labels, buttons, option buttons and check boxes whose text does not fit
// their rectangle in their font.
std::vector<std::string> Clipped(QWidget& window) {
    std::vector<std::string> out;
    for (QLabel* l : window.findChildren<QLabel*>()) {
        if (l->text().isEmpty() || !l->pixmap().isNull()) continue;
        const QSize need = l->wordWrap() ? QSize(l->width(), l->heightForWidth(l->width())) : l->sizeHint();
        if (need.width() > l->width() + 1 || need.height() > l->height() + 1)
            out.push_back(l->objectName().toStdString() + " needs " + std::to_string(need.width()) + "x" +
                          std::to_string(need.height()) + " has " + std::to_string(l->width()) + "x" +
                          std::to_string(l->height()));
    }
    for (QAbstractButton* b : window.findChildren<QAbstractButton*>()) {
        if (b->text().isEmpty()) continue;
        QString t = b->text();
        t.remove(QLatin1Char('&'));
        const bool push = qobject_cast<QPushButton*>(b) != nullptr;
        const int need = push ? QFontMetrics(b->font()).horizontalAdvance(t) + 8 : b->sizeHint().width();
        if (need > b->width() + 1)
            out.push_back(b->objectName().toStdString() + " needs " + std::to_string(need) + " has " +
                          std::to_string(b->width()));
    }
    return out;
}

// Every control's font and place multiplied, as a screen of more dots per
// inch draws them.
void Scale(QWidget& window, double factor) {
    for (QWidget* c : window.findChildren<QWidget*>()) {
        QFont f = c->font();
        if (f.pixelSize() > 0) f.setPixelSize(static_cast<int>(std::lround(f.pixelSize() * factor)));
        else f.setPointSizeF(f.pointSizeF() * factor);
        c->setFont(f);
        const QRect g = c->geometry();
        c->setGeometry(QRect(QPoint(static_cast<int>(g.x() * factor), static_cast<int>(g.y() * factor)),
                             QSize(static_cast<int>(g.width() * factor), static_cast<int>(g.height() * factor))));
    }
}

TEST(ClippedCheck, FindsALabelAndButtonsThatAreTooSmall) {
    QWidget w;
    auto label = [&](const char* text, QRect r, bool wrap) {
        auto* l = new QLabel(QString::fromLatin1(text), &w);
        l->setFont(Font(wizard::Tahoma(900)));
        l->setGeometry(r);
        l->setWordWrap(wrap);
    };
    label("A caption far too long", QRect(0, 0, 30, 20), false);
    label("Wrapped words that need several lines", QRect(0, 0, 60, 14), true);
    label("Fits", QRect(0, 0, 100, 20), false);
    (new QPushButton(QStringLiteral("&Long button caption"), &w))->setGeometry(0, 0, 40, 20);
    (new QRadioButton(QStringLiteral("Single MSG Folder"), &w))->setGeometry(0, 0, 60, 20);
    EXPECT_EQ(Clipped(w).size(), 4u);
}

TEST_F(QtWindows, EveryCaptionFitsAt96And144DotsPerInchAndEveryLinkFollowsItsCaption) {
    if (!QFontInfo(Font(wizard::Tahoma(900))).family().contains(QLatin1String("Tahoma")))
        GTEST_SKIP() << "fonts-wine is not installed";
    for (wizard::Form* f : forms()) {
        QWidget& w = W(*f);
        for (const Control& c : f->layout().controls) {
            if (!c.follows) continue;
            QWidget* owner = Child(w, c.follows);
            // The caption ends where the link starts: neither covers the other.
            EXPECT_EQ(Child(w, c.name)->x(), owner->x() + owner->sizeHint().width()) << c.name;
        }
        for (const std::string& c : Clipped(w)) ADD_FAILURE() << f->layout().name << " at 96 dpi: " << c;
        Scale(w, 1.5);
        for (const std::string& c : Clipped(w)) ADD_FAILURE() << f->layout().name << " at 144 dpi: " << c;
    }
}

TEST_F(QtWindows, ALinkMovesWithTheEndOfItsCaptionWhenTheBoldMoves) {
    QWidget& s = W(wizard_.start().form());
    Click(s, "OptMultiple");
    for (auto [link, option] : {std::pair{"lblSingleHelp", "OptSingle"}, std::pair{"lblMultipleHelp", "OptMultiple"}})
        EXPECT_EQ(Child(s, link)->x(), Child(s, option)->x() + Child(s, option)->sizeHint().width()) << link;
}

// ---- The keyboard ----------------------------------------------------------------

// The controls that Tab visits from `first`, by name.
std::vector<std::string> FocusOrder(QWidget* first, int count) {
    std::vector<std::string> order;
    QWidget* w = first;
    for (int i = 0; i < count && w; ++i) {
        order.push_back(w->objectName().toStdString());
        do w = w->nextInFocusChain();
        while (w != first && (w->focusPolicy() == Qt::NoFocus || w->objectName().isEmpty() ||
                              w->objectName().startsWith(QLatin1String("qt_"))));
    }
    return order;
}

TEST_F(QtWindows, TabFollowsTheTableAndEveryAccessKeyPressesItsControl) {
    for (wizard::Form* f : forms()) {
        std::vector<const Control*> tabbed;
        for (const Control& c : f->layout().controls)
            if (c.tab > 0) tabbed.push_back(&c);
        std::sort(tabbed.begin(), tabbed.end(), [](auto* a, auto* b) { return a->tab < b->tab; });
        std::vector<std::string> want;
        for (const Control* c : tabbed) want.push_back(c->name);
        QWidget& w = W(*f);
        EXPECT_EQ(FocusOrder(Child(w, tabbed[0]->name), static_cast<int>(want.size())), want);

        w.show();
        QApplication::setActiveWindow(&w);
        if (!QTest::qWaitForWindowActive(&w, 2000)) GTEST_SKIP() << "the platform activates no window";
        std::vector<std::string> clicked, keyed;
        f->onClick = [&](std::string_view c) { clicked.emplace_back(c); };
        for (const Control& c : f->layout().controls) {
            if (!c.accessKey() || c.hidden || !f->isEnabled(c.name)) continue;
            keyed.push_back(c.name);
            const size_t before = clicked.size();
            QTest::keyClick(&w, static_cast<char>(c.accessKey()), Qt::AltModifier);
            // A button's access key clicks it after a short animation.
            for (int i = 0; i < 100 && clicked.size() == before; ++i) QTest::qWait(10);
        }
        EXPECT_EQ(clicked, keyed) << f->layout().name;
        w.hide();
    }
}

// ---- Modal windows, the close box and Escape ---------------------------------------

TEST_F(QtWindows, AModalWindowIsInFrontOfItsOwnerAndItsCloseBoxAndEscapeAskItsLogic) {
    auto owner = toolkit_->makeForm(wizard::StartLayout());
    auto dialog = toolkit_->makeForm(wizard::StatusLayout());
    owner->showModeless();
    int asked = 0;
    bool keep = true;
    dialog->onClose = [&] {
        ++asked;
        return !keep;
    };
    WhenModal<QWidget>(
        [&](QWidget& d) {
            EXPECT_EQ(d.parentWidget(), &W(*owner));
            EXPECT_FALSE(d.close());  // the logic keeps it open
            keep = false;
            QTest::keyClick(&d, Qt::Key_Escape);
        },
        "frmMigateAll");
    dialog->showModal(owner.get());
    EXPECT_EQ(asked, 2);
    EXPECT_FALSE(dialog->isShown());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    // Escape does nothing in a window that is not a dialog.
    owner->onClose = [&] { return ++asked > 0; };
    QTest::keyClick(&W(*owner), Qt::Key_Escape);
    EXPECT_EQ(asked, 2);
    EXPECT_TRUE(owner->isShown());
    owner->hide();
}

TEST_F(QtWindows, TheSingleWindowIsModalOverTheStartWindow) {
    wizard_.start().show();
    bool seen = false;
    WhenModal<QWidget>(
        [&](QWidget& f) {
            seen = true;
            EXPECT_EQ(f.parentWidget(), &W(wizard_.start().form()));
            EXPECT_TRUE(W(wizard_.start().form()).isVisible());
            f.close();
        },
        "frmSingle");
    Click(W(wizard_.start().form()), "CmdNext");
    EXPECT_TRUE(seen);
}

// ---- The list, the bar and the labels as drawn ----------------------------------------

TEST_F(QtWindows, ListRowsShowTheirPicturesTheirPathAsTooltipAndTheirLook) {
    wizard::Form& m = wizard_.multiple().form();
    auto* lv = Child<QTreeWidget>(W(m), "lv");
    EXPECT_EQ(lv->headerItem()->text(0), QStringLiteral("User"));
    EXPECT_EQ(lv->headerItem()->text(1), QStringLiteral("Mailbox Folder"));
    EXPECT_EQ(lv->columnWidth(0), 200);
    m.addRow("lv", {"Alice", "/mail/Alice"});
    m.addRow("lv", {"Bob", "/mail/Bob"});
    QTreeWidgetItem* it = lv->topLevelItem(0);
    EXPECT_EQ(it->checkState(0), Qt::Unchecked);
    EXPECT_FALSE(it->icon(0).isNull());
    EXPECT_FALSE(it->icon(1).isNull());
    EXPECT_EQ(it->toolTip(1), QStringLiteral("/mail/Alice"));
    EXPECT_EQ(it->toolTip(0), QString());
    m.setAlternatingRows("lv", wizard::kWhite, wizard::kLightYellow);
    EXPECT_TRUE(lv->alternatingRowColors());
    EXPECT_EQ(lv->palette().color(QPalette::Base), QColor(255, 255, 255));
    EXPECT_EQ(lv->palette().color(QPalette::AlternateBase), QColor(255, 255, 192));
    m.setRowLook("lv", 1, wizard::kTitleGreen, true);
    EXPECT_EQ(lv->topLevelItem(1)->foreground(0).color(), QColor(0, 128, 0));
    EXPECT_TRUE(lv->topLevelItem(1)->font(1).bold());
    EXPECT_FALSE(lv->topLevelItem(0)->font(0).bold());
    m.clearRows("lv");
    EXPECT_EQ(m.rowCount("lv"), 0);
}

TEST_F(QtWindows, TheStatusWindowShowsTextsAsWrittenAndTheStopButtonOverTheStart) {
    wizard::Form& st = wizard_.status().form();
    QWidget& w = W(st);
    // A file name that a rich-text label would draw as bold "plan" and
    // "&amp;" as "&".
    const std::string odd = "Converting Messages... from (/m/R&amp;D <b>plan</b>.msg)";
    st.setText("LblCurrentDBX", odd);
    EXPECT_EQ(Child<QLabel>(w, "LblCurrentDBX")->textFormat(), Qt::PlainText);
    EXPECT_EQ(st.text("LblCurrentDBX"), odd);
    // A group frame draws one "&" from "&&".
    st.setText("FrameConversion", "Reading Messages & Email Metadata");
    EXPECT_EQ(Child<QGroupBox>(w, "FrameConversion")->title(), QStringLiteral("Reading Messages && Email Metadata"));
    st.setProgress("ProgressBar1", 0, 40, 12);
    EXPECT_EQ(Child<QProgressBar>(w, "ProgressBar1")->maximum(), 40);
    EXPECT_EQ(Child<QProgressBar>(w, "ProgressBar1")->value(), 12);
    QWidget* start = Child(w, "CmdStartConversion");
    st.setShown("CmdStopMigration", true);
    EXPECT_EQ(w.childAt(start->geometry().center()), Child(w, "CmdStopMigration"));
    st.setShown("CmdStopMigration", false);
    EXPECT_EQ(w.childAt(start->geometry().center()), start);
}

}  // namespace
}  // namespace tavrin::ui
