#include "ui/win32/registry/registry.h"

#include <commdlg.h>
#include <knownfolders.h>
#include <shellapi.h>
#include <shlwapi.h>

#include <vector>

#include "engine/wizard/save_location.h"
#include "fs/mod_files.h"
#include "ui/win32/common/look.h"

namespace tavrin::ui::win32 {

namespace {

// Long enough for any path Windows can name (extended-length paths).
constexpr DWORD kLongPath = 32768;

std::string KnownFolder(REFKNOWNFOLDERID id) {
    PWSTR path = nullptr;
    std::string out;
    if (SUCCEEDED(::SHGetKnownFolderPath(id, 0, nullptr, &path)) && path) out = U(path);
    ::CoTaskMemFree(path);
    return out;
}

}  // namespace

void OpenUrl(const std::string& address) {
    if (address.empty()) return;
    // No message when nothing could open the address.
    (void)::ShellExecuteW(nullptr, L"open", W(address).c_str(), L"", L"", SW_SHOWNORMAL);
}

std::string FolderPathFromIdList(PCIDLIST_ABSOLUTE item) {
    if (!item) return {};
    std::wstring buffer(kLongPath, L'\0');
    // SHGetPathFromIDListEx (Windows Vista and later) takes paths past 260
    // characters; the older call stops at 260.
    using ExFn = BOOL(WINAPI*)(PCIDLIST_ABSOLUTE, PWSTR, DWORD, int);
    static const auto getPathEx = reinterpret_cast<ExFn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"shell32.dll"), "SHGetPathFromIDListEx")));
    BOOL ok = FALSE;
    if (getPathEx) ok = getPathEx(item, buffer.data(), kLongPath, 0);
    if (!ok) ok = ::SHGetPathFromIDListW(item, buffer.data());
    if (!ok) return {};
    std::wstring path(buffer.c_str());  // cut at the first NUL
    // No trailing "\" except on a drive root ("D:\").
    while (path.size() > 3 && path.back() == L'\\') path.pop_back();
    if (path.size() == 2 && path[1] == L':') path += L'\\';
    std::string out = U(path);
    if (out.empty() || !fs::FolderExists(out)) return {};
    return out;
}

namespace {
// Selects (and so opens) the start folder once the browser is shown.
int CALLBACK SelectStart(HWND dialog, UINT message, LPARAM, LPARAM start) {
    if (message == BFFM_INITIALIZED && start) ::SendMessageW(dialog, BFFM_SETSELECTIONW, TRUE, start);
    return 0;
}
}  // namespace

std::string BrowseForFolder(HWND ownerWindow, const std::string& prompt, const std::string& startFolder) {
    const std::wstring title = W(prompt);
    const std::wstring start = fs::FolderExists(startFolder) ? W(startFolder) : std::wstring();
    wchar_t displayName[MAX_PATH] = {};
    BROWSEINFOW bi{};
    bi.hwndOwner = ownerWindow;
    bi.pidlRoot = nullptr;  // the top of the shell namespace: the Desktop
    bi.pszDisplayName = displayName;
    bi.lpszTitle = title.c_str();
    // Only file-system folders can be confirmed; the resizable dialog,
    // which can also make a new folder (for the output folder).
    bi.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
    bi.lpfn = &SelectStart;
    bi.lParam = start.empty() ? 0 : reinterpret_cast<LPARAM>(start.c_str());
    PIDLIST_ABSOLUTE item = ::SHBrowseForFolderW(&bi);
    if (!item) return {};
    std::string path = FolderPathFromIdList(item);
    ::CoTaskMemFree(item);
    return path;
}

std::wstring SaveDialogFilter(const std::string& filter) {
    std::wstring w = W(filter);
    for (wchar_t& c : w)
        if (c == L'|') c = L'\0';
    w.push_back(L'\0');
    w.push_back(L'\0');
    return w;
}

std::optional<std::string> SaveFileDialog(HWND owner, const std::string& filter, const std::string& proposedName) {
    const std::wstring filterText = SaveDialogFilter(filter);
    std::wstring file(kLongPath, L'\0');
    const std::wstring proposed = W(proposedName);
    file.replace(0, std::min<size_t>(proposed.size(), kLongPath - 1), proposed, 0, kLongPath - 1);
    const std::wstring documents = W(SaveDialogStartFolder());
    OPENFILENAMEW ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = owner;
    ofn.lpstrFilter = filterText.c_str();
    ofn.nFilterIndex = 1;
    ofn.lpstrFile = file.data();
    ofn.nMaxFile = kLongPath;
    ofn.lpstrInitialDir = documents.empty() ? nullptr : documents.c_str();
    ofn.lpstrDefExt = L"pst";
    ofn.Flags = OFN_EXPLORER | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR |
                OFN_ENABLESIZING;
    if (!::GetSaveFileNameW(&ofn)) return std::nullopt;
    const std::string chosen = U(file.c_str());
    if (chosen.empty()) return std::nullopt;
    return chosen;
}

std::string DesktopFolder() { return KnownFolder(FOLDERID_Desktop); }
std::string DocumentsFolder() { return KnownFolder(FOLDERID_Documents); }

std::string SaveDialogStartFolder() {
    if (const std::string documents = DocumentsFolder(); !documents.empty() && fs::FolderExists(documents))
        return documents;
    return wizard::SaveDialogFolder();
}

std::string ProgramFolder() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return {};
        if (n < buffer.size()) break;
        if (buffer.size() >= kLongPath) return {};
        buffer.resize(buffer.size() * 2);
    }
    std::wstring path(buffer.data());
    const size_t cut = path.find_last_of(L'\\');
    if (cut == std::wstring::npos) return {};
    path.erase(cut);
    return U(path);
}

std::string FindHelpFolder(const std::string& programFolder) {
    if (programFolder.empty()) return {};
    const std::string candidate = programFolder + "\\help";
    return fs::GetPathAttributes(candidate + "\\msg-to-pst\\index.html") != -1 ? candidate : std::string();
}

std::string HelpSiteFor(const std::string& folder) {
    std::wstring url(kLongPath, L'\0');
    DWORD size = kLongPath;
    if (FAILED(::UrlCreateFromPathW(W(folder).c_str(), url.data(), &size, 0))) return {};
    url.resize(size);
    std::string out = U(url);
    while (!out.empty() && out.back() == '/') out.pop_back();
    return out;
}

}  // namespace tavrin::ui::win32
