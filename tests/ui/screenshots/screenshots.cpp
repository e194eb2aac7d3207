// Saves a PNG of each wizard window, driven as a user would over a small
// generated mailbox folder: wizard_screenshots OUTPUT_FOLDER. Dialogs are
// answered by the test fakes, so nothing waits for input.
#include <QApplication>
#include <QDir>
#include <QProgressBar>
#include <QTimer>

#include <cstdio>

#include "engine/wizard/windows.h"
#include "engine/wizard/wizard.h"
#include "tests/ui/ui_fixture.h"
#include "ui/common/look.h"

using namespace tavrin::ui;
using namespace tavrin::ui::testing;

namespace {

QString g_out;
int g_failures = 0;

void settle() {
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
}

void save(QWidget& w, const char* name) {
    settle();
    const QString path = g_out + QLatin1Char('/') + QLatin1String(name) + QStringLiteral(".png");
    if (!w.grab().save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        ++g_failures;
    } else {
        std::printf("%s\n", qPrintable(path));
    }
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    if (argc < 2) {
        std::fprintf(stderr, "usage: wizard_screenshots OUTPUT_FOLDER\n");
        return 2;
    }
    g_out = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(g_out);
    LoadWizardFonts();

    // A fixed folder name, so that the pictures do not change from run to run.
    const fsys::path base = fsys::temp_directory_path() / "Mail Archive";
    fsys::remove_all(base);
    struct Cleanup {
        fsys::path p;
        ~Cleanup() { fsys::remove_all(p); }
    } cleanup{base};
    const fsys::path root = base / "Mailboxes";
    const char* people[] = {"Alice Smith", "Bob Jones", "Carol White", "Sales Team"};
    int k = 0;
    for (const char* p : people)
        for (int i = 0; i < 60; ++i) WriteMsg(root / p / ("message " + std::to_string(++k) + ".msg"), "Subject");
    const fsys::path out = base / "Converted";
    fsys::create_directories(out);

    const auto toolkit = MakeToolkit();
    FakeDialogs dialogs;
    tavrin::wizard::Wizard wizard(*toolkit, dialogs);
    wizard.onEndProgram = [] {};
    wizard.start().show();
    QWidget& start = W(wizard.start().form());
    save(start, "start");

    // Single-folder mode up to the status window's start state.
    dialogs.folders = {(root / "Alice Smith").string()};
    WhenModal<QWidget>(
        [&](QWidget& single) {
            Click(single, "CmdAddFolder");
            save(single, "single");
            WhenModal<QWidget>(
                [&](QWidget& status) {
                    save(status, "status-start");
                    status.close();
                },
                "frmMigateAll");
            Click(single, "CmdNext");
            single.close();
        },
        "frmSingle");
    Click(start, "CmdNext");

    // Multiple-folder mode through a run.
    Click(start, "OptMultiple");
    Click(start, "CmdNext");
    QWidget& list = W(wizard.multiple().form());
    dialogs.folders = {root.string(), out.string()};
    Click(list, "CmdAddFolder");
    Click(list, "cmdChange");
    for (int r : {0, 2, 3}) wizard.multiple().setRowChecked(r, true);
    save(list, "multiple");
    WhenModal<QWidget>([&](QWidget& status) {
        wizard.status().engine().setYieldInterval(std::chrono::microseconds(0));
        bool taken = false;
        QTimer sampler;
        sampler.setInterval(0);
        QObject::connect(&sampler, &QTimer::timeout, [&] {
            auto* bar = status.findChild<QProgressBar*>(QStringLiteral("ProgressBar1"));
            auto* frame = status.findChild<QWidget*>(QStringLiteral("FrameConversion"));
            if (taken || !bar || bar->value() < 30 || bar->value() > 90 || !frame ||
                !frame->property("title").toString().startsWith(QLatin1String("Reading")) ||
                !status.windowTitle().contains(QLatin1String("3 of")))
                return;
            taken = true;
            save(status, "status-running");
            save(list, "multiple-running");
        });
        sampler.start();
        Click(status, "CmdStartConversion");
        sampler.stop();
        if (!taken) {
            std::fprintf(stderr, "the run ended before a running picture was taken\n");
            ++g_failures;
        }
        save(status, "status-done");
        status.close();
    }, "frmMigateAll");
    Click(list, "CmdNext");
    return g_failures == 0 ? 0 : 1;
}
