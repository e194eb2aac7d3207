#include "ui/frmMigateAll/frmMigateAll.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include <algorithm>
#include <cmath>

#include "ui/common/look.h"
#include "ui/wizard/wizard.h"

namespace tavrin::ui {

using engine::Button;

frmMigateAll::frmMigateAll(Wizard& wizard)
    : QDialog(nullptr, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                           Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      wizard_(wizard) {
    InitCommonControlsLibrary();
    setObjectName(QStringLiteral("frmMigateAll"));
    setWindowIcon(AppIcon());
    setFixedSize(Px(8670), Px(3915));

    new Band(this, Tw(-120, -120, 10695, 1455), Qt::white);
    lblCount1_ = MakeLabel(this, QStringLiteral("Conversion Not Started Yet..."), Tw(120, 120, 9375, 375),
                           Tahoma(9.75, true));
    lblCount1_->setObjectName(QStringLiteral("lblCount1"));
    lblCount1_->setAutoFillBackground(true);
    {
        QPalette pal = lblCount1_->palette();
        pal.setColor(QPalette::Window, Qt::white);
        lblCount1_->setPalette(pal);
    }
    cmdSkip_ = new QPushButton(QStringLiteral("X"), this);
    cmdSkip_->setObjectName(QStringLiteral("CmdSkip"));
    cmdSkip_->setGeometry(Tw(8160, 240, 375, 315));
    cmdSkip_->setFont(Tahoma(9.75, true));
    cmdSkip_->setToolTip(QStringLiteral("Cancel Conversion of Current Folder"));
    cmdSkip_->setAutoDefault(false);
    lblProgress_ = MakeLabel(this, QStringLiteral("0% Complete"), Tw(120, 600, 6015, 255), Tahoma(11.25));
    lblProgress_->setObjectName(QStringLiteral("lblProgress"));
    progressBar1_ = new QProgressBar(this);
    progressBar1_->setObjectName(QStringLiteral("ProgressBar1"));
    progressBar1_->setGeometry(Tw(120, 960, 8415, 255));
    progressBar1_->setRange(0, 100);
    progressBar1_->setValue(0);
    progressBar1_->setTextVisible(false);

    frameConversion_ = new QGroupBox(QStringLiteral(" Details "), this);
    frameConversion_->setObjectName(QStringLiteral("FrameConversion"));
    frameConversion_->setGeometry(Tw(120, 1440, 8415, 1215));
    frameConversion_->setFont(Tahoma(9));
    lblCurrentDbx_ = MakeLabel(frameConversion_, QStringLiteral("Converting Messages..."), Tw(195, 285, 7815, 735),
                               Tahoma(9), kTitleGrey, true);
    lblCurrentDbx_->setObjectName(QStringLiteral("LblCurrentDBX"));
    // Its captions carry file and folder paths, which may hold "<" or "&":
    // they are shown as they are, never read as markup.
    lblCurrentDbx_->setTextFormat(Qt::PlainText);
    lblCurrentDbx_->setText(QStringLiteral("Converting Messages..."));

    // The delete-option row: laid out, hidden, and never shown (source
    // files are only read).
    image1_ = new QLabel(this);
    image1_->setObjectName(QStringLiteral("Image1"));
    image1_->setGeometry(Tw(120, 2760, 240, 240));
    image1_->setPixmap(PicturePixmap(Picture::Information));
    image1_->hide();
    chkDelete_ = new QCheckBox(QStringLiteral("Delete Source file(s), during conversion..."), this);
    chkDelete_->setObjectName(QStringLiteral("ChkDelete"));
    chkDelete_->setGeometry(Tw(480, 2760, 3735, 255));
    chkDelete_->setFont(Tahoma(9));
    {
        QPalette pal = chkDelete_->palette();
        pal.setColor(QPalette::WindowText, QColor(128, 0, 0));
        chkDelete_->setPalette(pal);
    }
    chkDelete_->hide();
    lblDeleteHelp_ = new HelpLink(this, Tw(4200, 2760, 495, 240), Tahoma(9));
    lblDeleteHelp_->setObjectName(QStringLiteral("lblDeleteHelp"));
    lblDeleteHelp_->hide();

    new Band(this, Tw(-240, 3120, 10695, 1455), Qt::white);
    cmdStartConversion_ = new QPushButton(QStringLiteral("Sta&rt Conversion"), this);
    cmdStartConversion_->setObjectName(QStringLiteral("CmdStartConversion"));
    cmdStartConversion_->setGeometry(Tw(3120, 3240, 2415, 555));
    cmdStartConversion_->setFont(Verdana(9.75));
    cmdStartConversion_->setAutoDefault(false);
    // Created after the start button, so it is drawn over it.
    cmdStopMigration_ = new QPushButton(QStringLiteral("S&top Conversion"), this);
    cmdStopMigration_->setObjectName(QStringLiteral("CmdStopMigration"));
    cmdStopMigration_->setGeometry(cmdStartConversion_->geometry());
    cmdStopMigration_->setFont(Verdana(9.75));
    cmdStopMigration_->setToolTip(QStringLiteral("Stops Complete Conversion"));
    cmdStopMigration_->setAutoDefault(false);
    cmdStopMigration_->raise();
    cmdStopMigration_->hide();

    setTabOrder(cmdStartConversion_, cmdStopMigration_);
    setTabOrder(cmdStopMigration_, cmdSkip_);

    engine_ = std::make_unique<engine::ConversionEngine>(*this, wizard_.job(), *this);
    connect(cmdStartConversion_, &QPushButton::clicked, this, [this] { engine_->CmdStartConversion_Click(); });
    connect(cmdSkip_, &QPushButton::clicked, this, [this] { engine_->CmdSkip_Click(); });
    connect(cmdStopMigration_, &QPushButton::clicked, this, [this] { engine_->CmdStopMigration_Click(); });
    designState();
}

frmMigateAll::~frmMigateAll() = default;

void frmMigateAll::designState() {
    QDialog::setWindowTitle(QStringLiteral("Conversion Status"));
    cmdStartConversion_->setEnabled(true);
    cmdStartConversion_->show();
    cmdSkip_->setEnabled(true);
    cmdStopMigration_->setEnabled(true);
    cmdStopMigration_->hide();
    chkDelete_->setChecked(false);
    progressBar1_->setRange(0, 100);
}

void frmMigateAll::showModal(QWidget* owner) {
    if (engine_->isRunning()) return;
    if (parentWidget() != owner) setParent(owner, windowFlags());
    designState();
    loaded_ = true;
    selfClose_ = false;
    engine_->Form_Load();
    cmdStartConversion_->setFocus();
    exec();
    loaded_ = false;
}

void frmMigateAll::setCount1(const std::string& caption) { lblCount1_->setText(Q(caption)); }
std::string frmMigateAll::count1() const { return S(lblCount1_->text()); }
void frmMigateAll::setCurrentDbx(const std::string& caption) { lblCurrentDbx_->setText(Q(caption)); }
void frmMigateAll::setProgressLabel(const std::string& caption) { lblProgress_->setText(Q(caption)); }
std::string frmMigateAll::progressLabel() const { return S(lblProgress_->text()); }
// A group frame's title draws "&" as an access-key mark; one literal "&" is "&&".
void frmMigateAll::setFrameCaption(const std::string& caption) {
    frameConversion_->setTitle(EscapeAmpersands(Q(caption)));
}
void frmMigateAll::setProgressRange(int minimum, int maximum) { progressBar1_->setRange(minimum, maximum); }
void frmMigateAll::setProgressValue(float value) {
    progressValue_ = value;
    const int v = static_cast<int>(std::floor(value));
    progressBar1_->setValue(std::clamp(v, progressBar1_->minimum(), progressBar1_->maximum()));
}
float frmMigateAll::progressValue() const { return progressValue_; }

QPushButton* frmMigateAll::button(Button b) const {
    switch (b) {
    case Button::StartConversion: return cmdStartConversion_;
    case Button::Skip: return cmdSkip_;
    case Button::StopMigration: return cmdStopMigration_;
    }
    return cmdStartConversion_;
}

void frmMigateAll::setButtonEnabled(Button b, bool enabled) { button(b)->setEnabled(enabled); }
void frmMigateAll::setButtonVisible(Button b, bool visible) {
    button(b)->setVisible(visible);
    if (b == Button::StopMigration && visible) cmdStopMigration_->raise();
}
void frmMigateAll::setWindowTitle(const std::string& title) { QDialog::setWindowTitle(Q(title)); }
bool frmMigateAll::deleteSourceTicked() const { return chkDelete_->isChecked(); }

void frmMigateAll::unload() {
    if (!loaded_) return;
    loaded_ = false;
    selfClose_ = true;
    close();
}

bool frmMigateAll::isLoaded() const { return loaded_; }

void frmMigateAll::yield() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

engine::MsgResult frmMigateAll::messageBox(const engine::MsgBox& box) {
    return wizard_.dialogs().messageBox(isVisible() ? this : parentWidget(), box.text, box.title, box.buttons, box.icon);
}

std::optional<std::string> frmMigateAll::saveDialog(const std::string& filter, const std::string& proposedName,
                                                    bool& replaceConfirmed) {
    return wizard_.dialogs().saveFile(this, filter, proposedName, replaceConfirmed);
}

void frmMigateAll::reject() { close(); }

void frmMigateAll::closeEvent(QCloseEvent* e) {
    // A close by the user (close box, system menu, Escape) is never
    // cancelled and asks nothing; during a run the engine ends it as a
    // confirmed stop does.
    if (!selfClose_ && loaded_) engine_->Form_QueryUnload();
    loaded_ = false;
    selfClose_ = false;
    QDialog::done(QDialog::Rejected);
    e->accept();
}

}  // namespace tavrin::ui
