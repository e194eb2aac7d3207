// The real Qt dialogs behind the Dialogs interface, answered through their
// own widgets once they are shown: the message box's buttons and result,
// the folder browser's title, start and folders-only mode, and the save
// dialog's filter and proposed name.
#include <gtest/gtest.h>

#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>

#include "tests/ui/ui_fixture.h"
#include "ui/dialogs/dialogs.h"

namespace tavrin::ui {
namespace {

using namespace tavrin::ui::testing;

TEST(QtDialogsTest, MessageBoxShowsTheTitleTextAndIconAndReportsTheButton) {
    const auto d = MakeDialogs();
    QString text, title;
    QMessageBox::Icon icon{};
    WhenModal<QMessageBox>([&](QMessageBox& b) {
        text = b.text();
        title = b.windowTitle();
        icon = b.icon();
        b.button(QMessageBox::No)->click();
    });
    EXPECT_EQ(d->messageBox(nullptr, "Line one\r\nLine two", "Confirm Stop", MsgButtons::YesNo, MsgIcon::Question),
              MsgResult::No);
    EXPECT_EQ(text, QStringLiteral("Line one\nLine two"));
    EXPECT_EQ(title, QStringLiteral("Confirm Stop"));
    EXPECT_EQ(icon, QMessageBox::Question);
    WhenModal<QMessageBox>([&](QMessageBox& b) { b.button(QMessageBox::Yes)->click(); });
    EXPECT_EQ(d->messageBox(nullptr, "q", "t", MsgButtons::YesNo, MsgIcon::None), MsgResult::Yes);
    bool onlyOk = false;
    WhenModal<QMessageBox>([&](QMessageBox& b) {
        onlyOk = b.buttons().size() == 1 && b.button(QMessageBox::Ok) != nullptr;
        b.button(QMessageBox::Ok)->click();
    });
    EXPECT_EQ(d->messageBox(nullptr, "done", "Completed", MsgButtons::Ok, MsgIcon::Information), MsgResult::Ok);
    EXPECT_TRUE(onlyOk);
}

TEST(QtDialogsTest, FolderBrowserHasThePromptAsTitleOpensAtItsStartAndTakesOnlyFolders) {
    TempDir dir("qtbrowse");
    fsys::create_directories(dir.path() / "Mail");
    const auto d = MakeDialogs();
    QString title, start;
    bool dirsOnly = false;
    WhenModal<QFileDialog>([&](QFileDialog& f) {
        title = f.windowTitle();
        start = f.directory().absolutePath();
        dirsOnly = f.fileMode() == QFileDialog::Directory && f.testOption(QFileDialog::ShowDirsOnly);
        f.setDirectory(QString::fromStdString(dir.path().string()));
        f.selectFile(QStringLiteral("Mail"));
        static_cast<QDialog&>(f).accept();  // as the dialog's own button does
    });
    const std::string chosen = d->browseForFolder(nullptr, "Choose Source Folder...", dir.path().string());
    EXPECT_EQ(title, QStringLiteral("Choose Source Folder..."));
    EXPECT_EQ(start.toStdString(), dir.path().string());
    EXPECT_TRUE(dirsOnly);
    EXPECT_EQ(chosen, (dir.path() / "Mail").string());
    // Without a start folder (or with one that has gone): the top of the tree.
    WhenModal<QFileDialog>([&](QFileDialog& f) {
        start = f.directory().absolutePath();
        f.reject();
    });
    EXPECT_EQ(d->browseForFolder(nullptr, "Choose Output Folder...", (dir.path() / "gone").string()), "");
    EXPECT_EQ(start, QDir::rootPath());
}

TEST(QtDialogsTest, SaveDialogOffersThePstFilterAndTheProposedNameInTheDocumentsFolder) {
    TempDir dir("qtsave");
    // A home whose documents folder user-dirs.dirs names.
    fsys::create_directories(dir.path() / "home" / ".config");
    fsys::create_directories(dir.path() / "home" / "Papers");
    std::ofstream(dir.path() / "home" / ".config" / "user-dirs.dirs") << "XDG_DOCUMENTS_DIR=\"$HOME/Papers\"\n";
    const QByteArray oldHome = qgetenv("HOME"), oldConfig = qgetenv("XDG_CONFIG_HOME");
    qputenv("HOME", QByteArray::fromStdString((dir.path() / "home").string()));
    qunsetenv("XDG_CONFIG_HOME");
    const auto d = MakeDialogs();
    QStringList filters;
    QString proposed, start;
    bool asks = true;
    WhenModal<QFileDialog>([&](QFileDialog& f) {
        asks = !f.testOption(QFileDialog::DontConfirmOverwrite);
        filters = f.nameFilters();
        start = f.directory().absolutePath();
        if (auto* name = f.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))) proposed = name->text();
        f.setDirectory(QString::fromStdString(dir.path().string()));
        f.selectFile(QString::fromStdString((dir.path() / "Inbox6.12.26 1.49.28.pst").string()));
        static_cast<QDialog&>(f).accept();  // as the dialog's own button does
    });
    const auto chosen = d->saveFile(nullptr, "Outlook Data File(s) (*.pst)|*.pst", "Inbox6.12.26 1.49.28.pst");
    qputenv("HOME", oldHome);
    if (!oldConfig.isEmpty()) qputenv("XDG_CONFIG_HOME", oldConfig);
    EXPECT_EQ(filters, QStringList{QStringLiteral("Outlook Data File(s) (*.pst)")});
    EXPECT_EQ(proposed, QStringLiteral("Inbox6.12.26 1.49.28.pst"));
    EXPECT_EQ(start.toStdString(), (dir.path() / "home" / "Papers").string());
    ASSERT_TRUE(chosen.has_value());
    EXPECT_EQ(*chosen, (dir.path() / "Inbox6.12.26 1.49.28.pst").string());
    EXPECT_FALSE(asks);  // the engine asks about an existing file
    WhenModal<QFileDialog>([&](QFileDialog& f) { f.reject(); });
    EXPECT_FALSE(d->saveFile(nullptr, "Outlook Data File(s) (*.pst)|*.pst", "x.pst").has_value());
}

}  // namespace
}  // namespace tavrin::ui
