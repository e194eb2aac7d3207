#include "ui/frmStart/frmStart.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>

#include "ui/common/look.h"
#include "ui/frmMultiple/frmMultiple.h"
#include "ui/frmSingle/frmSingle.h"
#include "ui/wizard/wizard.h"

namespace tavrin::ui {

frmStart::frmStart(Wizard& wizard, QWidget* parent) : QWidget(parent), wizard_(wizard), logic_(*this) {
    setObjectName(QStringLiteral("frmStart"));
    setWindowTitle(Q(wizard::StartLogic::kCaption));
    setWindowIcon(AppIcon());
    setFixedSize(Px(9270), Px(7080));
    setAutoFillBackground(true);

    new Band(this, Tw(0, 0, 10695, 855), Qt::white);
    MakeLabel(this, QStringLiteral("Tavrin MSG to PST Converter"), Tw(240, 120, 6255, 375), Tahoma(14.25, true),
              kTitleGreen)
        ->setObjectName(QStringLiteral("lblTitle"));
    MakeLabel(this,
              QStringLiteral("Software supports conversion of *.msg email messages to Outlook supported .pst files. "
                             "Supports Outlook Version 2016 (32 Bit), 2013 (32 Bit), 2010 (32 Bit), 2007, 2003 for "
                             "conversion."),
              Tw(240, 960, 8535, 600), Verdana(8.25), Qt::black, true);

    auto* frame = new QGroupBox(QStringLiteral(" I want to convert "), this);
    frame->setGeometry(Tw(240, 1680, 8775, 3975));
    frame->setFont(Tahoma(9, true));

    optSingle_ = new QRadioButton(QStringLiteral("Single MSG Folder"), frame);
    optSingle_->setObjectName(QStringLiteral("OptSingle"));
    optSingle_->setGeometry(Tw(240, 600, 2055, 495));
    optSingle_->setFont(Tahoma(9, true));
    optSingle_->setChecked(true);
    auto* singleHelp = new HelpLink(frame, Tw(2280, 720, 375, 240), Tahoma(8.25));
    singleHelp->setObjectName(QStringLiteral("lblSingleHelp"));
    MakeLabel(frame,
              QStringLiteral("This option allows you to select a single folder having .msg messages and convert it to "
                             "respective .pst file. To convert multiple folders, you need to select individual folders "
                             "one after another."),
              Tw(480, 1080, 7935, 600), Tahoma(9), kDescriptionGrey, true);

    optMultiple_ = new QRadioButton(QStringLiteral("Multiple Folders"), frame);
    optMultiple_->setObjectName(QStringLiteral("OptMultiple"));
    optMultiple_->setGeometry(Tw(240, 1800, 2055, 495));
    optMultiple_->setFont(Tahoma(9));
    auto* multipleHelp = new HelpLink(frame, Tw(2280, 1920, 375, 240), Tahoma(8.25));
    multipleHelp->setObjectName(QStringLiteral("lblMultipleHelp"));
    MakeLabel(frame,
              QStringLiteral("This option allows you to select multiple folders and then convert them to respective "
                             "Outlook .pst files. To convert multiple mailbox folders, you just need to to select top "
                             "folder having all mailbox folders inside it."),
              Tw(480, 2640, 7935, 825), Tahoma(9), kDescriptionGrey, true);

    new Band(this, Tw(-240, 6480, 10695, 855), Qt::white);
    cmdHelp_ = new QPushButton(QStringLiteral("&Help Manual"), this);
    cmdHelp_->setObjectName(QStringLiteral("CmdHelp"));
    cmdHelp_->setGeometry(Tw(240, 6600, 1695, 390));
    cmdHelp_->setFont(Tahoma(9));
    cmdNext_ = new QPushButton(QStringLiteral("&Next >"), this);
    cmdNext_->setObjectName(QStringLiteral("CmdNext"));
    cmdNext_->setGeometry(Tw(7320, 6600, 1695, 390));
    cmdNext_->setFont(Tahoma(9));

    setTabOrder(optSingle_, optMultiple_);
    setTabOrder(optMultiple_, cmdNext_);
    setTabOrder(cmdNext_, cmdHelp_);

    // clicked, not toggled: clicking the selected option runs its handler
    // again and leaves the fonts as they are.
    connect(optSingle_, &QRadioButton::clicked, this, [this] { logic_.OptSingle_Click(); });
    connect(optMultiple_, &QRadioButton::clicked, this, [this] { logic_.OptMultiple_Click(); });
    connect(cmdNext_, &QPushButton::clicked, this, [this] { logic_.CmdNext_Click(); });
    connect(cmdHelp_, &QPushButton::clicked, this, [this] { logic_.CmdHelp_Click(); });
    connect(singleHelp, &HelpLink::clicked, this, [this] { logic_.lblSingleHelp_Click(); });
    connect(multipleHelp, &HelpLink::clicked, this, [this] { logic_.lblMultipleHelp_Click(); });

    logic_.Form_Load();
}

bool frmStart::optSingle() const { return optSingle_->isChecked(); }

void frmStart::setOptionsBold(bool singleBold, bool multipleBold) {
    optSingle_->setFont(Tahoma(9, singleBold));
    optMultiple_->setFont(Tahoma(9, multipleBold));
}

void frmStart::showSingleModal() { wizard_.single().showModal(); }

void frmStart::showMultipleModeless() { wizard_.multiple().showModeless(); }

void frmStart::hideWindow() { hide(); }

void frmStart::endProgram() { wizard_.endProgram(); }

void frmStart::yield() { QCoreApplication::processEvents(); }

void frmStart::openUrl(const std::string& address) { wizard_.dialogs().openUrl(address); }

std::string frmStart::browseForFolder(const std::string& prompt) {
    return wizard_.dialogs().browseForFolder(this, prompt);
}

wizard::MsgResult frmStart::messageBox(const std::string& text, const std::string& title,
                                       wizard::MsgButtons buttons, wizard::MsgIcon icon) {
    return wizard_.dialogs().messageBox(this, text, title, buttons, icon);
}

void frmStart::closeEvent(QCloseEvent* e) {
    if (wizard_.ending()) {
        e->accept();
        return;
    }
    if (logic_.Form_Unload()) e->ignore();
    else e->accept();
}

void frmStart::showEvent(QShowEvent* e) {
    QWidget::showEvent(e);
    if (centred_) return;
    centred_ = true;
    if (QScreen* s = screen()) {
        QRect frame = frameGeometry();
        frame.moveCenter(s->availableGeometry().center());
        move(frame.topLeft());
    }
}

}  // namespace tavrin::ui
