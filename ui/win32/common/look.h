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

#include "engine/wizard/layout.h"

namespace tavrin::ui::win32 {

using wizard::Picture;
using wizard::Twips;

// 1440 twips make one inch: 15 twips one pixel at 96 dots per inch.
int Px(int twips, int dpi);
RECT PixelRect(const Twips& t, int dpi);

// A font of the wizard at a number of dots per inch; kept for the
// program's life.
HFONT Font(const wizard::FontSpec& font, int dpi);

// A colour of the layout (0xRRGGBB) as a Windows colour; the system's
// colour of a window's face for wizard::kSystemColour.
COLORREF Colour(unsigned rgb);
// A solid brush of a colour of the layout; kept for the program's life.
HBRUSH Brush(unsigned rgb);

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
