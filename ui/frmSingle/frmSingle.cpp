#include "ui/frmSingle/frmSingle.h"

#include <QCoreApplication>
#include <QLineEdit>
#include <QPushButton>

#include "ui/common/look.h"
#include "ui/frmMigateAll/frmMigateAll.h"
#include "ui/wizard/wizard.h"

namespace tavrin::ui {

frmSingle::frmSingle(Wizard& wizard, QWidget* owner)
    : QDialog(owner, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                         Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      wizard_(wizard),
      logic_(*this) {
    InitCommonControlsLibrary();
    setObjectName(QStringLiteral("frmSingle"));
    setWindowTitle(Q(wizard::SingleLogic::kCaption));
    setWindowIcon(AppIcon());
    setFixedSize(Px(8685), Px(3750));
    setSizeGripEnabled(false);

    new Band(this, Tw(0, 0, 10695, 855), Qt::white);
    MakeLabel(this, QStringLiteral("Single Folder Conversion"), Tw(240, 120, 6255, 375), Tahoma(14.25, true),
              kTitleGrey)
        ->setObjectName(QStringLiteral("lblTitle"));
    MakeLabel(this, QStringLiteral("Convert single folder of messages to respective Outlook .pst file"),
              Tw(240, 480, 6135, 255), Tahoma(8.25));

    new Band(this, Tw(240, 960, 8175, 495), kHintYellow);
    auto* hintPicture = new QLabel(this);
    hintPicture->setGeometry(Tw(360, 1080, 240, 240));
    hintPicture->setPixmap(PicturePixmap(Picture::Information));
    MakeLabel(this, QStringLiteral("Make sure, folder you are trying to select is not hidden"),
              Tw(720, 1080, 7095, 255), Tahoma(8.25));

    auto* folderPicture = new QLabel(this);
    folderPicture->setGeometry(Tw(240, 1750, 240, 240));
    folderPicture->setPixmap(PicturePixmap(Picture::Folder));
    MakeLabel(this, QStringLiteral("Select folder having all .msg message files"), Tw(600, 1750, 5415, 360),
              Tahoma(9));
    auto* help = new HelpLink(this, Tw(6120, 1785, 495, 240), Tahoma(9));
    help->setObjectName(QStringLiteral("lblSingleMailbox"));

    txtSourceMailbox_ = new QLineEdit(this);
    txtSourceMailbox_->setObjectName(QStringLiteral("txtSourceMailbox"));
    txtSourceMailbox_->setGeometry(Tw(240, 2160, 6615, 405));
    txtSourceMailbox_->setFont(Tahoma(9));
    // Filled only from the folder browser, so that "&Next >" is enabled
    // exactly when a folder was chosen.
    txtSourceMailbox_->setReadOnly(true);
    cmdAddFolder_ = new QPushButton(QStringLiteral("Select..."), this);
    cmdAddFolder_->setObjectName(QStringLiteral("CmdAddFolder"));
    cmdAddFolder_->setGeometry(Tw(6960, 2160, 1455, 390));
    cmdAddFolder_->setFont(Tahoma(9));
    cmdAddFolder_->setAutoDefault(false);

    new Band(this, Tw(-120, 3120, 10695, 855), Qt::white);
    cmdNext_ = new QPushButton(QStringLiteral("&Next >"), this);
    cmdNext_->setObjectName(QStringLiteral("CmdNext"));
    cmdNext_->setGeometry(Tw(6720, 3240, 1695, 390));
    cmdNext_->setFont(Tahoma(8.25));
    cmdNext_->setAutoDefault(false);

    setTabOrder(cmdAddFolder_, cmdNext_);
    setTabOrder(cmdNext_, txtSourceMailbox_);

    connect(cmdAddFolder_, &QPushButton::clicked, this, [this] { logic_.CmdAddFolder_Click(); });
    connect(cmdNext_, &QPushButton::clicked, this, [this] { logic_.CmdNext_Click(); });
    connect(help, &HelpLink::clicked, this, [this] { logic_.lblSingleMailbox_Click(); });

    logic_.Form_Load();
}

void frmSingle::showModal() {
    logic_.Form_Load();
    cmdAddFolder_->setFocus();
    exec();
}

std::string frmSingle::sourceMailbox() const { return S(txtSourceMailbox_->text()); }
void frmSingle::setSourceMailbox(const std::string& path) { txtSourceMailbox_->setText(Q(path)); }
void frmSingle::setNextEnabled(bool enabled) { cmdNext_->setEnabled(enabled); }
void frmSingle::showStatusModal() { wizard_.status().showModal(nullptr); }
void frmSingle::yield() { QCoreApplication::processEvents(); }
void frmSingle::openUrl(const std::string& address) { wizard_.dialogs().openUrl(address); }
std::string frmSingle::browseForFolder(const std::string& prompt) {
    return wizard_.dialogs().browseForFolder(this, prompt);
}
wizard::MsgResult frmSingle::messageBox(const std::string& text, const std::string& title,
                                        wizard::MsgButtons buttons, wizard::MsgIcon icon) {
    return wizard_.dialogs().messageBox(this, text, title, buttons, icon);
}

}  // namespace tavrin::ui
