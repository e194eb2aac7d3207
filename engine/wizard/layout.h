// The wizard's windows as data: each window's controls, declared once, from
// which both front ends build their windows. Places are in twips (1/1440
// inch; 15 to the pixel at 96 dots per inch), colours 24-bit 0xRRGGBB.
#pragma once

#include <span>
#include <string_view>

namespace tavrin::wizard {

// The wizard's colours.
inline constexpr unsigned kBlack = 0x000000;
inline constexpr unsigned kWhite = 0xFFFFFF;
inline constexpr unsigned kLightYellow = 0xFFFFC0;      // the hint box, every second list row
inline constexpr unsigned kBandBorder = 0xC0C0C0;       // the border of the bands and the hint box
inline constexpr unsigned kLinkBlue = 0x0000FF;
inline constexpr unsigned kTitleGreen = 0x008000;       // the start window's title, a row being converted
inline constexpr unsigned kTitleGrey = 0x808080;
inline constexpr unsigned kDescriptionGrey = 0x404040;
inline constexpr unsigned kDarkRed = 0x800000;
// The platform's own colour for that part (a window's face, a list's text).
inline constexpr unsigned kSystemColour = 0xFF000000;

struct Twips {
    int left = 0, top = 0, width = 0, height = 0;
    bool operator==(const Twips&) const = default;
};

enum class Face { Tahoma, Verdana };

struct FontSpec {
    Face face = Face::Tahoma;
    int centiPoints = 900;  // hundredths of a point
    bool bold = false;
    bool operator==(const FontSpec&) const = default;
};
constexpr FontSpec Tahoma(int centiPoints, bool bold = false) { return {Face::Tahoma, centiPoints, bold}; }
constexpr FontSpec Verdana(int centiPoints, bool bold = false) { return {Face::Verdana, centiPoints, bold}; }

enum class Kind {
    Band,          // a filled rectangle with a light-grey border, behind the controls
    Label,         // one line
    ElidedLabel,   // one line; a text too long for it loses its middle
    WrappedLabel,  // word-wrapped
    PathLabel,     // wrapped, and broken inside a long path
    HelpLink,      // " [ ? ]": blue, pointing hand, clickable
    Picture,       // a 16 x 16 picture
    Button,
    Option,        // option button
    CheckBox,
    Frame,         // group frame
    Edit,          // text box, filled by the window (not by typing)
    ListView,      // report view with a check box in front of every row
    Progress,
};

enum class Picture { None, Information, Folder, Person };

// A column of a list: its header, width (0: the rest of the list's width),
// the picture in front of every cell and whether a cell shows its text as
// its tooltip.
struct Column {
    const char* caption;
    int width;
    Picture picture;
    bool tooltip;
};

// One control. Where controls overlap, the one earlier in its window's
// table lies above; bands, last, lie behind everything.
struct Control {
    const char* name;               // "CmdNext"; a band's is empty
    Kind kind;
    const char* caption = "";       // "&" marks the access key
    Twips place{};                  // in the window, or in `frame`
    FontSpec font{};
    unsigned fore = kBlack;
    unsigned back = kSystemColour;  // a band's fill
    int tab = 0;                    // Tab visits the controls that have a number, in its order
    const char* tooltip = nullptr;
    const char* frame = nullptr;    // the group frame the control lies in
    // A help link placed right after this control's caption as measured in
    // the font it is drawn in (the design's left edge is then only a
    // fallback).
    const char* follows = nullptr;
    bool hidden = false;
    bool checked = false;           // an option button selected at start
    Picture picture = Picture::None;
    std::span<const Column> columns{};

    // The access key: the letter after the "&" of the caption (lower
    // case), or 0.
    char accessKey() const;
    bool clickable() const {
        return kind == Kind::Button || kind == Kind::Option || kind == Kind::CheckBox || kind == Kind::HelpLink;
    }
};

struct WindowLayout {
    const char* name;     // "frmStart"
    const char* caption;  // the title bar
    int width, height;    // the client area, in twips
    std::span<const Control> controls;
    // Shown modally: a dialog's frame without a minimise box, and Escape
    // closes it as the close box does.
    bool dialog = false;

    // The control of a name; null when the window has none.
    const Control* find(std::string_view control) const;
    // A control's place in the window (a frame's place added).
    Twips placeInWindow(const Control& c) const;
};

const WindowLayout& StartLayout();
const WindowLayout& SingleLayout();
const WindowLayout& MultipleLayout();
const WindowLayout& StatusLayout();

}  // namespace tavrin::wizard
