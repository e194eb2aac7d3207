// Every help address the program opens resolves to a page that ships with
// it, in the source tree and beside the built program, with its anchor; the
// session-error document is a well-formed PDF.
#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QUrl>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "engine/help_site.h"
#include "ui/common/help_folder.h"

namespace tavrin::ui {
namespace {

namespace fsys = std::filesystem;

std::string ReadAll(const fsys::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

const fsys::path kSourceHelp = fsys::path(TAVRIN_SOURCE_DIR) / "docs" / "help";
const fsys::path kBuiltHelp = fsys::path(TAVRIN_BIN_DIR) / "help";

TEST(HelpPages, EveryHelpAddressResolvesToAShippedFileWithItsAnchor) {
    ASSERT_EQ(engine::HelpPaths().size(), 6u);
    for (const fsys::path& base : {kSourceHelp, kBuiltHelp}) {
        for (const std::string& p : engine::HelpPaths()) {
            const engine::HelpTarget t = engine::ResolveHelpPath(p);
            const fsys::path file = base / t.file;
            ASSERT_TRUE(fsys::is_regular_file(file)) << p << " -> " << file;
            EXPECT_GT(fsys::file_size(file), 500u) << file;
            if (!t.anchor.empty()) {
                EXPECT_NE(ReadAll(file).find("id=\"" + t.anchor + "\""), std::string::npos) << p;
            }
        }
    }
}

TEST(HelpPages, LinksBetweenThePagesPointAtShippedFiles) {
    for (const auto& e : fsys::recursive_directory_iterator(kSourceHelp)) {
        if (e.path().extension() != ".html") continue;
        const std::string html = ReadAll(e.path());
        const std::regex href("(href)=\"([^\"#]+)(#[^\"]*)?\"");
        for (auto it = std::sregex_iterator(html.begin(), html.end(), href); it != std::sregex_iterator(); ++it) {
            const fsys::path target = e.path().parent_path() / (*it)[2].str();
            EXPECT_TRUE(fsys::exists(target)) << e.path() << " links to " << (*it)[2].str();
        }
    }
}

TEST(HelpPages, TheSessionErrorDocumentIsAWellFormedPdf) {
    const std::string pdf = ReadAll(kSourceHelp / "help" / "downgrade-office-2010-to-32-bit.pdf");
    ASSERT_EQ(pdf.rfind("%PDF-1.", 0), 0u);
    ASSERT_NE(pdf.find("%%EOF"), std::string::npos);
    const size_t sx = pdf.rfind("startxref");
    ASSERT_NE(sx, std::string::npos);
    const size_t xref = std::stoul(pdf.substr(sx + 9));
    ASSERT_LT(xref, pdf.size());
    ASSERT_EQ(pdf.compare(xref, 4, "xref"), 0);
    // Every in-use entry of the cross-reference table points at its object.
    std::istringstream table(pdf.substr(xref + 4));
    int first = 0, count = 0;
    table >> first >> count;
    ASSERT_GT(count, 3);
    for (int n = first; n < first + count; ++n) {
        std::string offset, gen, kind;
        table >> offset >> gen >> kind;
        if (kind != "n") continue;
        const size_t at = std::stoul(offset);
        const std::string head = std::to_string(n) + " 0 obj";
        EXPECT_EQ(pdf.compare(at, head.size(), head), 0) << "object " << n;
    }
    // It explains our case: no Outlook needed, and what to do.
    EXPECT_NE(pdf.find("You do not need Outlook"), std::string::npos);
    EXPECT_NE(pdf.find("What to do"), std::string::npos);
}

TEST(HelpPages, APdfReaderOpensTheSessionErrorDocument) {
    if (std::system("command -v pdfinfo >/dev/null 2>&1") != 0) GTEST_SKIP() << "pdfinfo (poppler-utils) is not installed";
    const fsys::path pdf = kSourceHelp / "help" / "downgrade-office-2010-to-32-bit.pdf";
    const fsys::path out = fsys::temp_directory_path() / ("tavrin-pdfinfo-" + std::to_string(::getpid()));
    const std::string cmd = "pdfinfo '" + pdf.string() + "' > '" + out.string() + "' 2>&1";
    EXPECT_EQ(std::system(cmd.c_str()), 0);
    const std::string info = ReadAll(out);
    fsys::remove(out);
    EXPECT_NE(info.find("Pages:"), std::string::npos) << info;
    EXPECT_EQ(info.find("Syntax Error"), std::string::npos) << info;
}

TEST(HelpFolder, FoundBesideTheProgramAndAddressedAsAFileUrl) {
    const QString found = FindHelpFolder(QString::fromUtf8(TAVRIN_BIN_DIR));
    ASSERT_FALSE(found.isEmpty());
    EXPECT_EQ(QDir(found).canonicalPath(), QDir(QString::fromStdString(kBuiltHelp.string())).canonicalPath());
    const std::string site = HelpSiteFor(found);
    EXPECT_EQ(site.rfind("file:///", 0), 0u);
    EXPECT_NE(site.back(), '/');
    engine::SetHelpSite(site);
    const QUrl url(QString::fromStdString(engine::HelpAddress(engine::kHelpSelectRootFolder)));
    engine::SetHelpSite("");
    EXPECT_TRUE(QFileInfo::exists(url.toLocalFile())) << url.toString().toStdString();
    EXPECT_EQ(url.fragment(), QStringLiteral("select-root-folder"));
    EXPECT_TRUE(FindHelpFolder(QStringLiteral("/nonexistent-folder")).isEmpty());
}

TEST(HelpFolder, AFolderWithBlanksAndAccentsStaysOneFileUrl) {
    engine::SetHelpSite(HelpSiteFor(QStringLiteral("/opt/Tavrin Tools/aide \u00e9t\u00e9/help")));
    const QUrl url(QString::fromStdString(engine::HelpAddress(engine::kHelpMain)), QUrl::TolerantMode);
    engine::SetHelpSite("");
    EXPECT_EQ(url.toLocalFile(), QStringLiteral("/opt/Tavrin Tools/aide \u00e9t\u00e9/help/msg-to-pst/index.html"));
}

TEST(HelpFolder, AnInstalledProgramFindsTheDataFolder) {
    const fsys::path prefix = fsys::temp_directory_path() / ("tavrin-help-prefix-" + std::to_string(::getpid()));
    fsys::remove_all(prefix);
    fsys::create_directories(prefix / "bin");
    fsys::create_directories(prefix / "share" / "tavrin-msg-to-pst" / "help" / "msg-to-pst");
    std::ofstream(prefix / "share" / "tavrin-msg-to-pst" / "help" / "msg-to-pst" / "index.html") << "<html></html>";
    const QString found = FindHelpFolder(QString::fromStdString((prefix / "bin").string()));
    EXPECT_EQ(found.toStdString(), (prefix / "share" / "tavrin-msg-to-pst" / "help").string());
    fsys::remove_all(prefix);
}

}  // namespace
}  // namespace tavrin::ui
