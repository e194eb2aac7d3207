// The wizard's entry point: it creates and shows the start window and runs
// the event loop. There is no other start-up code.
#include <QApplication>

#include "engine/help_site.h"
#include "ui/common/help_folder.h"
#include "ui/common/look.h"
#include "ui/dialogs/dialogs.h"
#include "ui/frmStart/frmStart.h"
#include "ui/wizard/wizard.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tavrin MSG to PST Converter"));
    QApplication::setDesktopFileName(QStringLiteral("tavrin-msg-to-pst"));
    QApplication::setWindowIcon(tavrin::ui::AppIcon());
    // Closing the start window asks first; the program ends on Yes only.
    QApplication::setQuitOnLastWindowClosed(false);
    tavrin::ui::LoadWizardFonts();
    const QString help = tavrin::ui::FindHelpFolder(QCoreApplication::applicationDirPath());
    if (!help.isEmpty()) tavrin::engine::SetHelpSite(tavrin::ui::HelpSiteFor(help));

    tavrin::ui::QtDialogs dialogs;
    tavrin::ui::Wizard wizard(dialogs);
    wizard.start().show();
    return app.exec();
}
