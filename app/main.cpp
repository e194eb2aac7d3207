// The wizard's entry point: it creates and shows the start window and runs
// the event loop. There is no other start-up code.
#include <QApplication>

#include "engine/help_site.h"
#include "engine/wizard/windows.h"
#include "engine/wizard/wizard.h"
#include "ui/common/help_folder.h"
#include "ui/common/look.h"
#include "ui/dialogs/dialogs.h"
#include "ui/form/form.h"

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

    const auto toolkit = tavrin::ui::MakeToolkit();
    const auto dialogs = tavrin::ui::MakeDialogs();
    tavrin::wizard::Wizard wizard(*toolkit, *dialogs);
    wizard.start().show();
    return app.exec();
}
