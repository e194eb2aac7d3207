#include "ui/form/form.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStandardPaths>
#include <QTreeWidget>

#include <algorithm>
#include <vector>

#include "ui/common/look.h"

namespace tavrin::ui {

namespace {

using wizard::Control;
using wizard::Kind;

bool IsLabel(Kind k) {
    return k == Kind::Label || k == Kind::ElidedLabel || k == Kind::WrappedLabel || k == Kind::PathLabel ||
           k == Kind::HelpLink || k == Kind::Picture;
}

// A wizard window of Qt Widgets: one child widget per control of the
// layout, named as the layout names it.
class QtForm final : public QWidget, public wizard::Form {
public:
    explicit QtForm(const wizard::WindowLayout& layout) : layout_(layout), widgets_(layout.controls.size()) {
        setObjectName(QString::fromLatin1(layout.name));
        setWindowTitle(QString::fromUtf8(layout.caption));
        setWindowIcon(AppIcon());
        Qt::WindowFlags flags = Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
        flags |= layout.dialog ? Qt::MSWindowsFixedSizeDialogHint : Qt::WindowMinimizeButtonHint;
        setWindowFlags(flags);
        setFixedSize(Px(layout.width), Px(layout.height));
        setAutoFillBackground(true);
        // Frames first: the controls inside them are their children.
        for (size_t i = 0; i < widgets_.size(); ++i)
            if (layout.controls[i].kind == Kind::Frame) make(i, this);
        for (size_t i = 0; i < widgets_.size(); ++i) {
            const Control& c = layout.controls[i];
            if (c.kind != Kind::Frame) make(i, c.frame ? widget(c.frame) : this);
        }
        // Where controls overlap, the one earlier in the table lies above;
        // the bands lie behind everything.
        for (size_t i = widgets_.size(); i-- > 0;) widgets_[i]->raise();
        for (size_t i = 0; i < widgets_.size(); ++i)
            if (layout.controls[i].kind == Kind::Band) widgets_[i]->lower();
        std::vector<const Control*> tabbed;
        for (const Control& c : layout.controls)
            if (c.tab > 0) tabbed.push_back(&c);
        std::sort(tabbed.begin(), tabbed.end(), [](const Control* a, const Control* b) { return a->tab < b->tab; });
        for (size_t i = 1; i < tabbed.size(); ++i) setTabOrder(widget(tabbed[i - 1]->name), widget(tabbed[i]->name));
        placeFollowers();
    }

    const wizard::WindowLayout& layout() const override { return layout_; }

    std::string text(std::string_view control) const override {
        QWidget* w = widget(control);
        if (auto* l = qobject_cast<QLabel*>(w)) return S(l->property("plainText").toString());
        if (auto* b = qobject_cast<QAbstractButton*>(w)) return S(b->text());
        if (auto* g = qobject_cast<QGroupBox*>(w)) return S(g->title());
        if (auto* e = qobject_cast<QLineEdit*>(w)) return S(e->text());
        return {};
    }
    void setText(std::string_view control, const std::string& text) override {
        if (const Control* c = layout_.find(control)) display(*c, widget(control), Q(text), false);
        placeFollowers();
    }
    bool isEnabled(std::string_view control) const override {
        QWidget* w = widget(control);
        return w && w->isEnabled();
    }
    void setEnabled(std::string_view control, bool enabled) override {
        if (QWidget* w = widget(control)) w->setEnabled(enabled);
    }
    bool isShown(std::string_view control) const override {
        QWidget* w = widget(control);
        return w && !w->isHidden();
    }
    void setShown(std::string_view control, bool shown) override {
        if (QWidget* w = widget(control)) w->setVisible(shown);
    }
    bool isChecked(std::string_view control) const override {
        auto* b = qobject_cast<QAbstractButton*>(widget(control));
        return b && b->isChecked();
    }
    void setChecked(std::string_view control, bool checked) override {
        if (auto* b = qobject_cast<QAbstractButton*>(widget(control))) b->setChecked(checked);
    }
    void setBold(std::string_view control, bool bold) override {
        const Control* c = layout_.find(control);
        if (!c) return;
        wizard::FontSpec f = c->font;
        f.bold = bold;
        widget(control)->setFont(Font(f));
        placeFollowers();
    }
    void setFocus(std::string_view control) override {
        if (QWidget* w = widget(control)) w->setFocus();
    }
    void setProgress(std::string_view control, int minimum, int maximum, int value) override {
        if (auto* p = qobject_cast<QProgressBar*>(widget(control))) {
            p->setRange(minimum, maximum);
            p->setValue(value);
        }
    }

    void clearRows(std::string_view control) override {
        if (QTreeWidget* lv = list(control)) {
            lv->clear();
            lv->repaint();
        }
    }
    void addRow(std::string_view control, const std::vector<std::string>& cells) override {
        QTreeWidget* lv = list(control);
        if (!lv) return;
        const auto columns = layout_.find(control)->columns;
        auto* it = new QTreeWidgetItem(lv);
        it->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable | Qt::ItemNeverHasChildren);
        it->setCheckState(0, Qt::Unchecked);
        for (size_t i = 0; i < cells.size() && i < columns.size(); ++i) {
            const int col = static_cast<int>(i);
            it->setText(col, Q(cells[i]));
            if (columns[i].picture != wizard::Picture::None)
                it->setIcon(col, QIcon(PicturePixmap(columns[i].picture)));
            if (columns[i].tooltip) it->setToolTip(col, Q(cells[i]));
        }
        lv->viewport()->update();
    }
    int rowCount(std::string_view control) const override {
        QTreeWidget* lv = list(control);
        return lv ? lv->topLevelItemCount() : 0;
    }
    std::string cell(std::string_view control, int row, int column) const override {
        QTreeWidgetItem* it = item(control, row);
        return it ? S(it->text(column)) : std::string();
    }
    bool isRowChecked(std::string_view control, int row) const override {
        QTreeWidgetItem* it = item(control, row);
        return it && it->checkState(0) == Qt::Checked;
    }
    void setRowChecked(std::string_view control, int row, bool checked) override {
        if (QTreeWidgetItem* it = item(control, row)) it->setCheckState(0, checked ? Qt::Checked : Qt::Unchecked);
    }
    void setRowLook(std::string_view control, int row, unsigned colour, bool bold) override {
        QTreeWidgetItem* it = item(control, row);
        if (!it) return;
        QFont f = list(control)->font();
        f.setBold(bold);
        for (int c = 0; c < it->columnCount(); ++c) {
            it->setForeground(c, colour == wizard::kSystemColour ? QBrush() : QBrush(Colour(colour)));
            it->setFont(c, f);
        }
    }
    void setAlternatingRows(std::string_view control, unsigned first, unsigned second) override {
        QTreeWidget* lv = list(control);
        if (!lv) return;
        QPalette pal = lv->palette();
        pal.setColor(QPalette::Base, Colour(first));
        pal.setColor(QPalette::AlternateBase, Colour(second));
        lv->setPalette(pal);
        lv->setAlternatingRowColors(true);
    }

    std::string title() const override { return S(windowTitle()); }
    void setTitle(const std::string& title) override { setWindowTitle(Q(title)); }
    bool isShown() const override { return isVisible(); }
    void showModeless() override {
        show();
        BringToFront(this);
    }
    void showModal(wizard::Form* owner) override {
        QWidget* o = WidgetOf(owner);
        if (parentWidget() != o) setParent(o, windowFlags());
        setWindowModality(Qt::ApplicationModal);
        show();
        BringToFront(this);
        QEventLoop loop;
        loop_ = &loop;
        if (isVisible()) loop.exec(QEventLoop::DialogExec);
        loop_ = nullptr;
        setWindowModality(Qt::NonModal);
    }
    void hide() override { QWidget::hide(); }
    void centreOn(const wizard::Form* other) override {
        QRect area;
        if (QWidget* o = WidgetOf(other); o && o->isVisible()) area = o->frameGeometry();
        else if (QScreen* s = screen()) area = s->availableGeometry();
        else return;
        QRect r = frameGeometry();
        r.moveCenter(area.center());
        move(r.topLeft());
    }

protected:
    void closeEvent(QCloseEvent* e) override {
        if (onClose && !onClose()) e->ignore();
        else e->accept();
    }
    void hideEvent(QHideEvent* e) override {
        QWidget::hideEvent(e);
        if (loop_) loop_->quit();
    }
    void keyPressEvent(QKeyEvent* e) override {
        if (layout_.dialog && e->key() == Qt::Key_Escape && e->modifiers() == Qt::NoModifier) close();
        else QWidget::keyPressEvent(e);
    }

private:
    QWidget* widget(std::string_view control) const {
        for (size_t i = 0; i < widgets_.size(); ++i)
            if (!control.empty() && control == layout_.controls[i].name) return widgets_[i];
        return nullptr;
    }
    QTreeWidget* list(std::string_view control) const { return qobject_cast<QTreeWidget*>(widget(control)); }
    QTreeWidgetItem* item(std::string_view control, int row) const {
        QTreeWidget* lv = list(control);
        return lv ? lv->topLevelItem(row) : nullptr;
    }
    void clicked(const char* control) {
        if (onClick) onClick(control);
    }

    void make(size_t i, QWidget* parent) {
        const Control& c = layout_.controls[i];
        QWidget* w = nullptr;
        switch (c.kind) {
        case Kind::Band: w = new Band(parent, Tw(c.place), Colour(c.back)); break;
        case Kind::Label:
        case Kind::ElidedLabel:
        case Kind::WrappedLabel:
        case Kind::PathLabel:
        case Kind::Picture: w = new QLabel(parent); break;
        case Kind::HelpLink: {
            auto* l = new HelpLink(parent);
            connect(l, &HelpLink::clicked, this, [this, name = c.name] { clicked(name); });
            w = l;
            break;
        }
        case Kind::Button: w = new QPushButton(parent); break;
        case Kind::Option: w = new QRadioButton(parent); break;
        case Kind::CheckBox: w = new QCheckBox(parent); break;
        case Kind::Frame: w = new QGroupBox(parent); break;
        case Kind::Edit: w = new QLineEdit(parent); break;
        case Kind::ListView: w = makeList(c, parent); break;
        case Kind::Progress: {
            auto* p = new QProgressBar(parent);
            p->setRange(0, 100);
            p->setValue(0);
            p->setTextVisible(false);
            w = p;
            break;
        }
        }
        widgets_[i] = w;
        if (c.kind == Kind::Band) return;
        w->setObjectName(QString::fromLatin1(c.name));
        w->setGeometry(Tw(c.place));
        w->setFont(Font(c.font));
        QPalette pal = w->palette();
        pal.setColor(QPalette::WindowText, Colour(c.fore));
        if (c.back != wizard::kSystemColour && (IsLabel(c.kind) || c.kind == Kind::Option || c.kind == Kind::CheckBox)) {
            pal.setColor(QPalette::Window, Colour(c.back));
            w->setAutoFillBackground(true);
        }
        w->setPalette(pal);
        if (c.tooltip) w->setToolTip(QString::fromUtf8(c.tooltip));
        if (auto* b = qobject_cast<QAbstractButton*>(w)) {
            b->setChecked(c.checked);
            connect(b, &QAbstractButton::clicked, this, [this, name = c.name] { clicked(name); });
        }
        if (auto* e = qobject_cast<QLineEdit*>(w)) e->setReadOnly(true);
        if (c.kind == Kind::Picture) static_cast<QLabel*>(w)->setPixmap(PicturePixmap(c.picture));
        else display(c, w, QString::fromUtf8(c.caption), true);
        if (c.hidden) w->hide();
    }

    QTreeWidget* makeList(const Control& c, QWidget* parent) {
        auto* lv = new QTreeWidget(parent);
        lv->setColumnCount(static_cast<int>(c.columns.size()));
        QStringList headers;
        for (const wizard::Column& col : c.columns) headers << QString::fromUtf8(col.caption);
        lv->setHeaderLabels(headers);
        lv->setRootIsDecorated(false);
        lv->setItemsExpandable(false);
        lv->setUniformRowHeights(true);
        lv->setSelectionBehavior(QAbstractItemView::SelectRows);
        lv->setEditTriggers(QAbstractItemView::NoEditTriggers);
        lv->setIconSize(QSize(16, 16));
        lv->header()->setStretchLastSection(true);
        lv->header()->setSectionsMovable(false);
        // A column without a width takes the rest of the list's; a long
        // text is elided in the middle, whole in its tooltip.
        for (size_t i = 0; i < c.columns.size(); ++i)
            if (c.columns[i].width > 0) lv->setColumnWidth(static_cast<int>(i), Px(c.columns[i].width));
        lv->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        lv->setTextElideMode(Qt::ElideMiddle);
        return lv;
    }

    // A caption from the layout (`marked`: "&" marks the access key) or a
    // text shown as it is.
    static void display(const Control& c, QWidget* w, const QString& text, bool marked) {
        if (auto* l = qobject_cast<QLabel*>(w)) {
            l->setProperty("plainText", text);
            l->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            l->setWordWrap(c.kind == Kind::WrappedLabel || c.kind == Kind::PathLabel);
            if (c.kind == Kind::WrappedLabel) {
                // Tahoma's own line spacing is tight; wrapped descriptions
                // get a little more, as the platform's label draws them.
                l->setTextFormat(Qt::RichText);
                l->setText(QStringLiteral("<div style=\"line-height:112%\">") + text.toHtmlEscaped() +
                           QStringLiteral("</div>"));
            } else {
                // Paths may hold "<" or "&": shown as they are, never as markup.
                l->setTextFormat(Qt::PlainText);
                l->setText(text);
            }
        } else if (auto* b = qobject_cast<QAbstractButton*>(w)) {
            b->setText(marked ? text : EscapeAmpersands(text));
        } else if (auto* g = qobject_cast<QGroupBox*>(w)) {
            g->setTitle(marked ? text : EscapeAmpersands(text));
        } else if (auto* e = qobject_cast<QLineEdit*>(w)) {
            e->setText(text);
        }
    }

    // A help link that follows a caption starts where the caption ends in
    // the font it is drawn in; the caption's control ends there too, so
    // that it neither clips its text nor covers the link.
    void placeFollowers() {
        for (const Control& c : layout_.controls) {
            if (!c.follows) continue;
            const Control* owner = layout_.find(c.follows);
            QWidget* o = widget(c.follows);
            QWidget* link = widget(c.name);
            if (!owner || !o || !link) continue;
            QRect r = Tw(owner->place);
            r.setWidth(o->sizeHint().width());
            o->setGeometry(r);
            QRect l = Tw(c.place);
            l.moveLeft(r.right() + 1);
            l.setWidth(std::max(l.width(), link->sizeHint().width()));
            link->setGeometry(l);
        }
    }

    const wizard::WindowLayout& layout_;
    std::vector<QWidget*> widgets_;  // in the order of the layout's controls
    QEventLoop* loop_ = nullptr;     // while shown modally
};

class QtToolkit : public wizard::Toolkit {
public:
    std::unique_ptr<wizard::Form> makeForm(const wizard::WindowLayout& layout) override {
        return std::make_unique<QtForm>(layout);
    }
    void yield() override { QCoreApplication::processEvents(); }
    void quit() override { QCoreApplication::exit(0); }
    std::string desktopFolder() override {
        QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
        if (desktop.isEmpty()) desktop = QDir::homePath();
        return S(QDir::toNativeSeparators(desktop));
    }
};

}  // namespace

std::unique_ptr<wizard::Toolkit> MakeToolkit() { return std::make_unique<QtToolkit>(); }

QWidget* WidgetOf(const wizard::Form* form) {
    return dynamic_cast<QtForm*>(const_cast<wizard::Form*>(form));
}

}  // namespace tavrin::ui
