// The QApplication every wizard test runs in, on the offscreen platform
// unless the caller chose another one.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QFontInfo>

#include "ui/common/look.h"

namespace {

class QtEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "test_ui";
        static char* argv[] = {name, nullptr};
        app_ = new QApplication(argc, argv);
        QApplication::setQuitOnLastWindowClosed(false);
        tavrin::ui::LoadWizardFonts();
    }
    void TearDown() override {
        delete app_;
        app_ = nullptr;
    }

private:
    QApplication* app_ = nullptr;
};

[[maybe_unused]] ::testing::Environment* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

TEST(WizardFonts, TahomaFromFontsWineWhenInstalledAndSizesInPixelsAt96Dpi) {
    const bool wine = QFile::exists(QStringLiteral("/usr/share/wine/fonts/tahoma.ttf"));
    using tavrin::ui::Font;
    const QFont f = Font(tavrin::wizard::Tahoma(900));
    EXPECT_EQ(f.pixelSize(), 12);
    EXPECT_EQ(Font(tavrin::wizard::Tahoma(1425, true)).pixelSize(), 19);
    EXPECT_EQ(Font(tavrin::wizard::Verdana(975)).pixelSize(), 13);
    EXPECT_EQ(Font(tavrin::wizard::Tahoma(825)).pixelSize(), 11);
    if (!wine) GTEST_SKIP() << "fonts-wine is not installed";
    EXPECT_EQ(QFontInfo(f).family(), QStringLiteral("Tahoma"));
}

}  // namespace
