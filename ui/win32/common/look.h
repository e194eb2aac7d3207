// The native wizard's look, shared by its windows: geometry in twips scaled
// to the window's dots per inch, the Tahoma and Verdana fonts, the colours
// of the bands, hint box and help links, and the small pictures.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <string>
#include <string_view>

namespace tavrin::ui::win32 {

// 1440 twips make one inch: 15 twips one pixel at 96 dots per inch.
struct Twips {
    int left, top, width, height;
};
int Px(int twips, int dpi);
RECT PixelRect(const Twips& t, int dpi);

// A font of the wizard: face, size in hundredths of a point, weight.
struct FontSpec {
    const wchar_t* face = L"Tahoma";
    int centiPoints = 900;
    bool bold = false;
    bool operator==(const FontSpec&) const = default;
};
inline FontSpec Tahoma(int centiPoints, bool bold = false) { return {L"Tahoma", centiPoints, bold}; }
inline FontSpec Verdana(int centiPoints, bool bold = false) { return {L"Verdana", centiPoints, bold}; }
// The font at a number of dots per inch; kept for the program's life.
HFONT Font(const FontSpec& font, int dpi);

inline constexpr COLORREF kBlack = RGB(0, 0, 0);
inline constexpr COLORREF kWhite = RGB(255, 255, 255);
inline constexpr COLORREF kBandBorder = RGB(192, 192, 192);
inline constexpr COLORREF kHintYellow = RGB(255, 255, 192);
inline constexpr COLORREF kLinkBlue = RGB(0, 0, 255);
inline constexpr COLORREF kTitleGreen = RGB(0, 128, 0);
inline constexpr COLORREF kTitleGrey = RGB(128, 128, 128);
inline constexpr COLORREF kDescriptionGrey = RGB(64, 64, 64);
inline constexpr COLORREF kDarkRed = RGB(128, 0, 0);
// A control drawn on the window's own face colour.
inline constexpr COLORREF kFace = CLR_INVALID;
// 0xRRGGBB as a Windows colour.
constexpr COLORREF FromRgb(unsigned rgb) { return RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF); }
// A solid brush of a colour (kFace: the system's face brush); kept for the
// program's life.
HBRUSH Brush(COLORREF colour);

enum class Picture { Information, Folder, Person };
// A picture or the application icon at a size in pixels (16 at 96 dots per
// inch); kept for the program's life.
HICON PictureIcon(Picture picture, int size);
HICON AppIcon(int size);

// The window's dots per inch (the system's before Windows 10).
int DpiOf(HWND window);

// UTF-8 <-> UTF-16.
std::wstring W(std::string_view utf8);
std::string U(std::wstring_view wide);

// A caption with every "&" doubled, for controls that read "&" as the mark
// of an access key (group frames, buttons).
std::wstring EscapeAmpersands(std::wstring_view text);

}  // namespace tavrin::ui::win32
