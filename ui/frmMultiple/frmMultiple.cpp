#include "ui/frmMultiple/frmMultiple.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QGroupBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QStandardPaths>
#include <QTreeWidget>

#include "ui/common/look.h"
#include "ui/frmMigateAll/frmMigateAll.h"
#include "ui/frmStart/frmStart.h"
#include "ui/wizard/wizard.h"

namespace tavrin::ui {

namespace {
QColor rgb(unsigned c) { return QColor((c >> 16) & 0xFF, (c >> 8) & 0xFF, c & 0xFF); }
}  // namespace

frmMultiple::frmMultiple(Wizard& wizard, QWidget* parent) : QWidget(parent), wizard_(wizard), logic_(*this) {
    setObjectName(QStringLiteral("frmMultiple"));
    setWindowTitle(Q(wizard::MultipleLogic::kCaption));
    setWindowIcon(AppIcon());
    setFixedSize(Px(10590), Px(7080));

    new Band(this, Tw(0, 0, 10695, 855), Qt::white);
    MakeLabel(this, QStringLiteral("Multiple Folder Conversion"), Tw(240, 120, 6255, 375), Tahoma(14.25, true),
              kTitleGrey)
        ->setObjectName(QStringLiteral("lblTitle"));
    MakeLabel(this, QStringLiteral("Convert one by one all folders to respective Outlook .pst files"),
              Tw(240, 480, 6135, 255), Tahoma(8.25));

    auto* folderPicture = new QLabel(this);
    folderPicture->setGeometry(Tw(240, 1080, 240, 240));
    folderPicture->setPixmap(PicturePixmap(Picture::Folder));
    MakeLabel(this, QStringLiteral("Select top folder having all sub-folders inside it containing .msg files"),
              Tw(600, 1080, 5775, 360), Tahoma(9));
    cmdAddFolder_ = new QPushButton(QStringLiteral("Select..."), this);
    cmdAddFolder_->setObjectName(QStringLiteral("CmdAddFolder"));
    cmdAddFolder_->setGeometry(Tw(6720, 1000, 1455, 390));
    cmdAddFolder_->setFont(Tahoma(9));
    auto* help = new HelpLink(this, Tw(8280, 1080, 495, 240), Tahoma(9));
    help->setObjectName(QStringLiteral("lblSelectRootFolder"));

    auto* frame = new QGroupBox(QStringLiteral(" Select Folders"), this);
    frame->setGeometry(Tw(240, 1560, 10095, 4095));
    frame->setFont(Tahoma(9, true));
    chkSelectAll_ = new QCheckBox(Q(wizard::MultipleLogic::kCheckAll), frame);
    chkSelectAll_->setObjectName(QStringLiteral("chkSelectAll"));
    chkSelectAll_->setGeometry(Tw(340, 360, 3015, 255));
    chkSelectAll_->setFont(Tahoma(9));

    lv_ = new QTreeWidget(frame);
    lv_->setObjectName(QStringLiteral("lv"));
    lv_->setGeometry(Tw(240, 720, 9615, 3135));
    lv_->setFont(Tahoma(9));
    lv_->setColumnCount(2);
    lv_->setHeaderLabels({QStringLiteral("User"), QStringLiteral("Mailbox Folder")});
    lv_->setRootIsDecorated(false);
    lv_->setItemsExpandable(false);
    lv_->setUniformRowHeights(true);
    lv_->setSelectionBehavior(QAbstractItemView::SelectRows);
    lv_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lv_->setIconSize(QSize(16, 16));
    lv_->header()->setStretchLastSection(true);
    lv_->header()->setSectionsMovable(false);
    // "User" 200 pixels; "Mailbox Folder" takes the rest of the list's
    // width (about 440), and a long path is elided, the full one in its tooltip.
    lv_->setColumnWidth(0, Px(3000));
    lv_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    lv_->setTextElideMode(Qt::ElideMiddle);

    MakeLabel(this, QStringLiteral("Output Folder:"), Tw(240, 5880, 1575, 345), Tahoma(9));
    txtOutputFolder_ = new QLineEdit(this);
    txtOutputFolder_->setObjectName(QStringLiteral("txtOutputFolder"));
    txtOutputFolder_->setGeometry(Tw(1680, 5760, 7215, 405));
    txtOutputFolder_->setFont(Tahoma(9));
    txtOutputFolder_->setReadOnly(true);
    cmdChange_ = new QPushButton(QStringLiteral("Change..."), this);
    cmdChange_->setObjectName(QStringLiteral("cmdChange"));
    cmdChange_->setGeometry(Tw(9000, 5760, 1335, 390));
    cmdChange_->setFont(Tahoma(9));

    new Band(this, Tw(0, 6480, 10695, 855), Qt::white);
    cmdBack_ = new QPushButton(QStringLiteral("< Bac&k"), this);
    cmdBack_->setObjectName(QStringLiteral("cmdBack"));
    cmdBack_->setGeometry(Tw(7080, 6600, 1335, 390));
    cmdBack_->setFont(Tahoma(8.25));
    cmdNext_ = new QPushButton(QStringLiteral("&Next >"), this);
    cmdNext_->setObjectName(QStringLiteral("CmdNext"));
    cmdNext_->setGeometry(Tw(8640, 6600, 1695, 390));
    cmdNext_->setFont(Tahoma(8.25));

    setTabOrder(cmdNext_, lv_);
    setTabOrder(lv_, cmdAddFolder_);
    setTabOrder(cmdAddFolder_, chkSelectAll_);
    setTabOrder(chkSelectAll_, cmdChange_);
    setTabOrder(cmdChange_, txtOutputFolder_);
    setTabOrder(txtOutputFolder_, cmdBack_);

    connect(cmdAddFolder_, &QPushButton::clicked, this, [this] { logic_.CmdAddFolder_Click(); });
    // clicked fires only for the user's click, after the state changed;
    // the logic runs the handler itself when it changes the state.
    connect(chkSelectAll_, &QCheckBox::clicked, this, [this] { logic_.chkSelectAll_Click(); });
    connect(cmdChange_, &QPushButton::clicked, this, [this] { logic_.cmdChange_Click(); });
    connect(cmdBack_, &QPushButton::clicked, this, [this] { logic_.cmdBack_Click(); });
    connect(cmdNext_, &QPushButton::clicked, this, [this] { logic_.CmdNext_Click(); });
    connect(help, &HelpLink::clicked, this, [this] { logic_.lblSelectRootFolder_Click(); });

    logic_.Form_Load();
}

void frmMultiple::showModeless() {
    const bool first = !shownOnce_;
    shownOnce_ = true;
    if (first) {
        if (QScreen* s = screen()) {
            QRect r = frameGeometry();
            r.moveCenter(s->availableGeometry().center());
            move(r.topLeft());
        }
    }
    show();
    BringToFront(this);
    if (first) cmdNext_->setFocus();
}

std::string frmMultiple::rowText(int row) const {
    const QTreeWidgetItem* it = lv_->topLevelItem(row);
    return it ? S(it->text(0)) : std::string();
}

std::string frmMultiple::rowSubItemText(int row) const {
    const QTreeWidgetItem* it = lv_->topLevelItem(row);
    return it ? S(it->text(1)) : std::string();
}

void frmMultiple::setRowForeColor(int row, int red, int green, int blue) {
    if (QTreeWidgetItem* it = lv_->topLevelItem(row)) {
        for (int c = 0; c < 2; ++c) it->setForeground(c, QColor(red, green, blue));
    }
}

void frmMultiple::setRowBold(int row, bool bold) {
    if (QTreeWidgetItem* it = lv_->topLevelItem(row)) {
        for (int c = 0; c < 2; ++c) {
            QFont f = lv_->font();
            f.setBold(bold);
            it->setFont(c, f);
        }
    }
}

std::string frmMultiple::SpecialFolderPath() const {
    QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    if (desktop.isEmpty()) desktop = QDir::homePath();
    return S(QDir::toNativeSeparators(desktop));
}

std::string frmMultiple::outputFolder() const { return S(txtOutputFolder_->text()); }
void frmMultiple::setOutputFolder(const std::string& path) { txtOutputFolder_->setText(Q(path)); }
bool frmMultiple::selectAllTicked() const { return chkSelectAll_->isChecked(); }
void frmMultiple::setSelectAllTicked(bool ticked) { chkSelectAll_->setChecked(ticked); }
void frmMultiple::setSelectAllEnabled(bool enabled) { chkSelectAll_->setEnabled(enabled); }
void frmMultiple::setSelectAllCaption(const std::string& caption) { chkSelectAll_->setText(Q(caption)); }

void frmMultiple::clearRows() {
    lv_->clear();
    lv_->repaint();
}

void frmMultiple::addRow(const std::string& name, const std::string& fullPath) {
    auto* it = new QTreeWidgetItem(lv_);
    it->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable | Qt::ItemNeverHasChildren);
    it->setCheckState(0, Qt::Unchecked);
    it->setText(0, Q(name));
    it->setIcon(0, QIcon(PicturePixmap(Picture::Person)));
    it->setText(1, Q(fullPath));
    it->setIcon(1, QIcon(PicturePixmap(Picture::Folder)));
    it->setToolTip(1, Q(fullPath));
    it->setData(0, Qt::UserRole, QStringLiteral("|") + Q(fullPath));
    lv_->viewport()->update();
}

int frmMultiple::rowCount() const { return lv_->topLevelItemCount(); }

bool frmMultiple::rowChecked(int row) const {
    const QTreeWidgetItem* it = lv_->topLevelItem(row);
    return it && it->checkState(0) == Qt::Checked;
}

void frmMultiple::setRowChecked(int row, bool checked) {
    if (QTreeWidgetItem* it = lv_->topLevelItem(row)) it->setCheckState(0, checked ? Qt::Checked : Qt::Unchecked);
}

void frmMultiple::setAlternatingBackground(unsigned first, unsigned second) {
    QPalette pal = lv_->palette();
    pal.setColor(QPalette::Base, rgb(first));
    pal.setColor(QPalette::AlternateBase, rgb(second));
    lv_->setPalette(pal);
    lv_->setAlternatingRowColors(true);
}

void frmMultiple::showStatusModal() { wizard_.status().showModal(this); }
void frmMultiple::showStart() {
    frmStart& s = wizard_.start();
    s.show();
    BringToFront(&s);
}
void frmMultiple::hideWindow() { hide(); }
void frmMultiple::yield() { QCoreApplication::processEvents(); }
void frmMultiple::openUrl(const std::string& address) { wizard_.dialogs().openUrl(address); }
std::string frmMultiple::browseForFolder(const std::string& prompt) {
    return wizard_.dialogs().browseForFolder(this, prompt);
}
wizard::MsgResult frmMultiple::messageBox(const std::string& text, const std::string& title,
                                          wizard::MsgButtons buttons, wizard::MsgIcon icon) {
    return wizard_.dialogs().messageBox(this, text, title, buttons, icon);
}

void frmMultiple::closeEvent(QCloseEvent* e) {
    if (!wizard_.ending()) logic_.Form_Close();
    e->accept();
}

}  // namespace tavrin::ui
