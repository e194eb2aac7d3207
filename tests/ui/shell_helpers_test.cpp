// The shell helpers and the small pieces of the look: the folder browser's
// answer, OpenUrl, the save filter, ampersands in captions, the fixed
// XPStyle control and the twips grid.
#include <gtest/gtest.h>

#include <QDesktopServices>
#include <QDir>
#include <QUrl>

#include "tests/ui/ui_fixture.h"
#include "ui/XPStyle/XPStyle.h"
#include "ui/common/look.h"
#include "ui/dialogs/dialogs.h"
#include "ui/registry/registry.h"

namespace tavrin::ui {
namespace {

using namespace tavrin::ui::testing;

class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> urls;
public slots:
    void open(const QUrl& u) { urls.push_back(u); }
};

TEST(FolderResult, DriveRootKeepsItsSeparatorOtherFoldersHaveNone) {
    TempDir dir("browse");
    fsys::create_directories(dir.path() / "Mail");
    const std::string mail = (dir.path() / "Mail").string();
    EXPECT_EQ(FolderResult(QString::fromStdString(mail + "/")), QDir::toNativeSeparators(QString::fromStdString(mail)).toStdString());
    EXPECT_EQ(FolderResult(QString::fromStdString(mail)), QDir::toNativeSeparators(QString::fromStdString(mail)).toStdString());
    const std::string root = QDir::toNativeSeparators(QDir::rootPath()).toStdString();
    EXPECT_EQ(FolderResult(QDir::rootPath()), root);
    EXPECT_EQ(root.back(), QDir::separator().toLatin1());
}

TEST(FolderResult, NothingChosenOrNoFolderGivesTheEmptyText) {
    TempDir dir("browse2");
    std::ofstream(dir.path() / "file.msg") << "x";
    EXPECT_EQ(FolderResult(QString()), "");
    EXPECT_EQ(FolderResult(QString::fromStdString((dir.path() / "file.msg").string())), "");
    EXPECT_EQ(FolderResult(QString::fromStdString((dir.path() / "missing").string())), "");
}

TEST(OpenUrl, HandsTheAddressToTheDesktopAndAnEmptyTextStartsNothing) {
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "open");
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &catcher, "open");
    OpenUrl("");
    EXPECT_TRUE(catcher.urls.isEmpty());
    OpenUrl("https://example.invalid/h/msg-to-pst/#single-folder");
    OpenUrl("file:///tmp/help/h/msg-to-pst/index.html#select-folder");
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    ASSERT_EQ(catcher.urls.size(), 2);
    EXPECT_EQ(catcher.urls[0].fragment(), QStringLiteral("single-folder"));
    EXPECT_EQ(catcher.urls[1].toLocalFile(), QStringLiteral("/tmp/help/h/msg-to-pst/index.html"));
    EXPECT_EQ(catcher.urls[1].fragment(), QStringLiteral("select-folder"));
}

TEST(SaveFilter, TheNameAndPatternPairBecomesQtsNameFilter) {
    EXPECT_EQ(QtNameFilters("Outlook Data File(s) (*.pst)|*.pst"), QStringLiteral("Outlook Data File(s) (*.pst)"));
    EXPECT_EQ(QtNameFilters("A (*.a)|*.a|B (*.b)|*.b"), QStringLiteral("A (*.a);;B (*.b)"));
}

TEST(Captions, OneLiteralAmpersandIsDoubledForQt) {
    EXPECT_EQ(EscapeAmpersands(QStringLiteral("Reading Messages & Email Metadata")),
              QStringLiteral("Reading Messages && Email Metadata"));
    EXPECT_EQ(EscapeAmpersands(QStringLiteral("none")), QStringLiteral("none"));
}

TEST(XPStyleControl, StaysFiftyFourPixelsSquareWhateverItIsResizedTo) {
    XPStyle x;
    EXPECT_EQ(x.size(), QSize(54, 54));
    x.resize(200, 10);
    EXPECT_EQ(x.size(), QSize(54, 54));
    x.setGeometry(5, 5, 1, 1);
    EXPECT_EQ(x.size(), QSize(54, 54));
}

TEST(Twips, FifteenToThePixelRounded) {
    EXPECT_EQ(Px(9270), 618);
    EXPECT_EQ(Px(7080), 472);
    EXPECT_EQ(Px(3915), 261);
    EXPECT_EQ(Px(-240), -16);
    EXPECT_EQ(Px(255), 17);
    EXPECT_EQ(Tw({240, 120, 6255, 375}), QRect(16, 8, 417, 25));
}

}  // namespace
}  // namespace tavrin::ui

#include "shell_helpers_test.moc"
