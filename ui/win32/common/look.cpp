#include "ui/win32/common/look.h"

#include <map>
#include <tuple>

#include "fs/win32_path.h"
#include "ui/win32/resources.h"

namespace tavrin::ui::win32 {

int Px(int twips, int dpi) { return ::MulDiv(twips, dpi, 1440); }

RECT PixelRect(const Twips& t, int dpi) {
    const int left = Px(t.left, dpi), top = Px(t.top, dpi);
    return RECT{left, top, left + Px(t.width, dpi), top + Px(t.height, dpi)};
}

namespace {

// Handles that live as long as the program: released when it ends.
template <class Key, class Handle>
struct Cache {
    std::map<Key, Handle> map;
    ~Cache() {
        for (auto& [key, handle] : map)
            if (handle) ::DeleteObject(handle);
    }
};

}  // namespace

HFONT Font(const wizard::FontSpec& font, int dpi) {
    static Cache<std::tuple<wizard::Face, int, bool, int>, HFONT> cache;
    const auto key = std::make_tuple(font.face, font.centiPoints, font.bold, dpi);
    auto it = cache.map.find(key);
    if (it != cache.map.end()) return it->second;
    // Character height in pixels: points / 72 inch at `dpi`.
    const int height = -::MulDiv(font.centiPoints, dpi, 7200);
    HFONT f = ::CreateFontW(height, 0, 0, 0, font.bold ? FW_BOLD : FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                            OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS,
                            font.face == wizard::Face::Verdana ? L"Verdana" : L"Tahoma");
    cache.map.emplace(key, f);
    return f;
}

COLORREF Colour(unsigned rgb) {
    if (rgb == wizard::kSystemColour) return ::GetSysColor(COLOR_BTNFACE);
    return RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
}

HBRUSH Brush(unsigned rgb) {
    if (rgb == wizard::kSystemColour) return ::GetSysColorBrush(COLOR_BTNFACE);
    static Cache<unsigned, HBRUSH> cache;
    auto it = cache.map.find(rgb);
    if (it != cache.map.end()) return it->second;
    HBRUSH b = ::CreateSolidBrush(Colour(rgb));
    cache.map.emplace(rgb, b);
    return b;
}

namespace {

struct IconCache {
    std::map<std::pair<int, int>, HICON> map;
    ~IconCache() {
        for (auto& [key, icon] : map)
            if (icon) ::DestroyIcon(icon);
    }
};

HICON LoadSized(int id, int size) {
    static IconCache cache;
    const auto key = std::make_pair(id, size);
    auto it = cache.map.find(key);
    if (it != cache.map.end()) return it->second;
    HICON icon = static_cast<HICON>(::LoadImageW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id), IMAGE_ICON, size,
                                                 size, LR_DEFAULTCOLOR));
    cache.map.emplace(key, icon);
    return icon;
}

}  // namespace

HICON PictureIcon(Picture picture, int size) {
    switch (picture) {
    case Picture::Information: return LoadSized(IDI_TAVRIN_INFORMATION, size);
    case Picture::Folder: return LoadSized(IDI_TAVRIN_FOLDER, size);
    case Picture::Person: return LoadSized(IDI_TAVRIN_PERSON, size);
    case Picture::None: break;
    }
    return nullptr;
}

HICON AppIcon(int size) { return LoadSized(IDI_TAVRIN_WINDOW, size); }

int DpiOf(HWND window) {
    // GetDpiForWindow arrived with Windows 10 (1607); earlier systems have
    // one setting for every screen.
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static const auto getDpiForWindow = reinterpret_cast<GetDpiForWindowFn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    if (getDpiForWindow && window) {
        if (const UINT dpi = getDpiForWindow(window)) return static_cast<int>(dpi);
    }
    HDC screen = ::GetDC(nullptr);
    const int dpi = screen ? ::GetDeviceCaps(screen, LOGPIXELSY) : 96;
    if (screen) ::ReleaseDC(nullptr, screen);
    return dpi > 0 ? dpi : 96;
}

std::wstring W(std::string_view utf8) { return fs::win32::widen(utf8); }
std::string U(std::wstring_view wide) { return fs::win32::narrow(wide); }

std::wstring EscapeAmpersands(std::wstring_view text) {
    std::wstring out;
    out.reserve(text.size());
    for (wchar_t c : text) {
        out += c;
        if (c == L'&') out += L'&';
    }
    return out;
}

}  // namespace tavrin::ui::win32
