// The native wizard's shell helpers: the path that the folder browser's
// answer becomes and the folder it opens at, the save dialog's filter, the
// help folder beside the program and its address, and the message box
// styles.
#include <gtest/gtest.h>

#include "engine/help_site.h"
#include "fs/win32_path.h"
#include "tests/ui/win32/win32_fixture.h"
#include "ui/win32/dialogs/dialogs.h"
#include "ui/win32/registry/registry.h"

#include <ole2.h>

namespace tavrin::ui::win32 {
namespace {

using namespace tavrin::ui::win32::testing;

// The shell item of a path, as the folder browser hands it back.
std::string PathOfItem(const std::wstring& path) {
    PIDLIST_ABSOLUTE item = nullptr;
    if (FAILED(::SHParseDisplayName(path.c_str(), nullptr, &item, 0, nullptr)) || !item) return "<no item>";
    std::string out = FolderPathFromIdList(item);
    ::CoTaskMemFree(item);
    return out;
}

TEST(FolderBrowser, AFolderComesBackWithoutAndADriveRootWithItsBackslash) {
    TempDir dir("browse");
    fsys::create_directories(dir.path() / "Mail");
    EXPECT_EQ(PathOfItem(W((dir.path() / "Mail").string())), (dir.path() / "Mail").string());
    EXPECT_EQ(PathOfItem(L"C:\\"), "C:\\");
}

TEST(FolderBrowser, ItemsThatAreNoFileSystemFolderGiveTheEmptyText) {
    PIDLIST_ABSOLUTE computer = nullptr;
    ASSERT_TRUE(SUCCEEDED(::SHGetSpecialFolderLocation(nullptr, CSIDL_DRIVES, &computer)));
    EXPECT_EQ(FolderPathFromIdList(computer), "");
    ::CoTaskMemFree(computer);
    EXPECT_EQ(FolderPathFromIdList(nullptr), "");
    // A file is no folder either.
    TempDir dir("browse-file");
    std::ofstream(dir.path() / "a.msg") << "x";
    EXPECT_EQ(PathOfItem(W((dir.path() / "a.msg").string())), "");
}

// The text of the item selected in the tree of this thread's open folder
// browser (empty while there is none).
std::wstring SelectedInBrowser(HWND& dialog) {
    dialog = nullptr;
    ::EnumThreadWindows(
        ::GetCurrentThreadId(),
        [](HWND w, LPARAM p) -> BOOL {
            wchar_t cls[16] = {};
            ::GetClassNameW(w, cls, 16);
            if (std::wstring_view(cls) != L"#32770" || !::IsWindowVisible(w)) return TRUE;
            *reinterpret_cast<HWND*>(p) = w;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&dialog));
    HWND tree = nullptr;
    if (dialog) {
        ::EnumChildWindows(
            dialog,
            [](HWND w, LPARAM p) -> BOOL {
                wchar_t cls[32] = {};
                ::GetClassNameW(w, cls, 32);
                if (std::wstring_view(cls) != WC_TREEVIEWW) return TRUE;
                *reinterpret_cast<HWND*>(p) = w;
                return FALSE;
            },
            reinterpret_cast<LPARAM>(&tree));
    }
    HTREEITEM item = tree ? TreeView_GetSelection(tree) : nullptr;
    if (!item) return {};
    wchar_t text[MAX_PATH] = {};
    TVITEMW tv{};
    tv.mask = TVIF_TEXT;
    tv.hItem = item;
    tv.pszText = text;
    tv.cchTextMax = MAX_PATH;
    TreeView_GetItem(tree, &tv);
    return text;
}

TEST(FolderBrowser, OpensWithItsStartFolderSelected) {
    TAVRIN_NEED_DISPLAY();
    (void)::OleInitialize(nullptr);
    TempDir dir("browse-start");
    fsys::create_directories(dir.path() / "Mail Archive" / "Alice");
    std::wstring selected;
    int ticks = 0;
    const UINT_PTR t = EveryTick([&] {
        HWND dialog = nullptr;
        selected = SelectedInBrowser(dialog);
        if (!dialog || (selected != L"Mail Archive" && ++ticks < 2000)) return false;
        ::PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
        return true;
    });
    EXPECT_EQ(BrowseForFolder(nullptr, "Choose Source Folder...", (dir.path() / "Mail Archive").string()), "");
    StopTick(t);
    EXPECT_EQ(selected, L"Mail Archive");
}

TEST(SaveDialog, TheFilterPairsAreSeparatedAndEndedByNulCharacters) {
    using namespace std::string_literals;
    EXPECT_EQ(SaveDialogFilter("Outlook Data File(s) (*.pst)|*.pst"), L"Outlook Data File(s) (*.pst)\0*.pst\0\0"s);
}

TEST(Folders, DesktopAndDocumentsAreFolders) {
    EXPECT_TRUE(fsys::is_directory(fsys::u8path(DesktopFolder()))) << DesktopFolder();
    EXPECT_TRUE(fsys::is_directory(fsys::u8path(DocumentsFolder()))) << DocumentsFolder();
    EXPECT_NE(DesktopFolder(), DocumentsFolder());
    // The save dialog opens in Documents.
    EXPECT_EQ(SaveDialogStartFolder(), DocumentsFolder());
}

TEST(HelpPages, TheBuildPutsThemBesideTheProgramAndEveryLinkFindsItsPage) {
    const std::string program = ProgramFolder();
    ASSERT_FALSE(program.empty());
    const std::string help = FindHelpFolder(program);
    ASSERT_EQ(help, program + "\\help");
    for (const std::string& path : engine::HelpPaths()) {
        const engine::HelpTarget t = engine::ResolveHelpPath(path);
        std::string file = help + "\\" + t.file;
        for (char& c : file)
            if (c == '/') c = '\\';
        EXPECT_TRUE(fsys::exists(fsys::u8path(file))) << path;
    }
    EXPECT_EQ(FindHelpFolder(program + "\\nowhere"), "");
    EXPECT_EQ(FindHelpFolder(""), "");
}

TEST(HelpPages, TheSiteIsTheFolderAsAFileAddress) {
    EXPECT_EQ(HelpSiteFor("C:\\Program Files\\Tavrin MSG to PST Converter\\help"),
              "file:///C:/Program%20Files/Tavrin%20MSG%20to%20PST%20Converter/help");
    engine::SetHelpSite(HelpSiteFor("C:\\Program Files\\Tavrin\\help"));
    EXPECT_EQ(engine::HelpAddress(engine::kHelpSelectFolder),
              "file:///C:/Program%20Files/Tavrin/help/h/msg-to-pst/index.html#select-folder");
    engine::SetHelpSite("");
}

TEST(MessageBoxes, ButtonsAndIconsAsTheCallerAsks) {
    EXPECT_EQ(MessageBoxStyle(MsgButtons::YesNo, MsgIcon::Question), static_cast<UINT>(MB_YESNO | MB_ICONQUESTION));
    EXPECT_EQ(MessageBoxStyle(MsgButtons::Ok, MsgIcon::Information), static_cast<UINT>(MB_OK | MB_ICONINFORMATION));
    EXPECT_EQ(MessageBoxStyle(MsgButtons::Ok, MsgIcon::Warning), static_cast<UINT>(MB_OK | MB_ICONWARNING));
    EXPECT_EQ(MessageBoxStyle(MsgButtons::AddReplaceCancel, MsgIcon::Warning), static_cast<UINT>(MB_YESNOCANCEL | MB_ICONWARNING));
    for (const auto& [pressed, want] : {std::pair{IDYES, MsgResult::Add}, {IDNO, MsgResult::Replace}, {IDCANCEL, MsgResult::Cancel}})
        EXPECT_EQ(MessageBoxAnswer(MsgButtons::AddReplaceCancel, pressed), want) << pressed;
}

}  // namespace
}  // namespace tavrin::ui::win32
