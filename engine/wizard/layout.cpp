#include "engine/wizard/layout.h"

#include <cctype>

namespace tavrin::wizard {

namespace {

constexpr const char* kLink = " [ ? ]";
constexpr const char* kLinkTip = "Click to Know More...";

// ---- frmStart ----------------------------------------------------------------

constexpr Control kStart[] = {
    {.name = "OptSingle", .kind = Kind::Option, .caption = "Single MSG Folder", .place = {240, 600, 2055, 495},
     .font = Tahoma(900, true), .tab = 1, .frame = "fraMode", .checked = true},
    {.name = "OptMultiple", .kind = Kind::Option, .caption = "Multiple Folders", .place = {240, 1800, 2055, 495},
     .tab = 2, .frame = "fraMode"},
    {.name = "CmdNext", .kind = Kind::Button, .caption = "&Next >", .place = {7320, 6600, 1695, 390},
     .back = kWhite, .tab = 3},
    {.name = "CmdHelp", .kind = Kind::Button, .caption = "&Help Manual", .place = {240, 6600, 1695, 390},
     .back = kWhite, .tab = 4},
    {.name = "lblTitle", .kind = Kind::Label, .caption = "Tavrin MSG to PST Converter", .place = {240, 120, 6255, 375},
     .font = Tahoma(1425, true), .fore = kTitleGreen, .back = kWhite},
    {.name = "lblDescription", .kind = Kind::WrappedLabel,
     .caption = "Software supports conversion of *.msg email messages to Outlook supported .pst files. Supports "
                "Outlook Version 2016 (32 Bit), 2013 (32 Bit), 2010 (32 Bit), 2007, 2003 for conversion.",
     .place = {240, 960, 8535, 600}, .font = Verdana(825)},
    {.name = "lblSingleHelp", .kind = Kind::HelpLink, .caption = kLink, .place = {2280, 720, 375, 240},
     .font = Tahoma(825), .fore = kLinkBlue, .tooltip = kLinkTip, .frame = "fraMode", .follows = "OptSingle"},
    // Three lines of Tahoma 9 pt need 660 twips, 60 more than the 600 of
    // the design, which clipped the last line's lower edge.
    {.name = "lblSingleDescription", .kind = Kind::WrappedLabel,
     .caption = "This option allows you to select a single folder having .msg messages and convert it to "
                "respective .pst file. To convert multiple folders, you need to select individual folders one "
                "after another.",
     .place = {480, 1080, 7935, 660}, .fore = kDescriptionGrey, .frame = "fraMode"},
    {.name = "lblMultipleHelp", .kind = Kind::HelpLink, .caption = kLink, .place = {2280, 1920, 375, 240},
     .font = Tahoma(825), .fore = kLinkBlue, .tooltip = kLinkTip, .frame = "fraMode", .follows = "OptMultiple"},
    {.name = "lblMultipleDescription", .kind = Kind::WrappedLabel,
     .caption = "This option allows you to select multiple folders and then convert them to respective Outlook "
                ".pst files. To convert multiple mailbox folders, you just need to to select top folder having "
                "all mailbox folders inside it.",
     .place = {480, 2640, 7935, 825}, .fore = kDescriptionGrey, .frame = "fraMode"},
    {.name = "fraMode", .kind = Kind::Frame, .caption = " I want to convert ", .place = {240, 1680, 8775, 3975},
     .font = Tahoma(900, true)},
    {.name = "", .kind = Kind::Band, .place = {0, 0, 10695, 855}, .back = kWhite},
    {.name = "", .kind = Kind::Band, .place = {-240, 6480, 10695, 855}, .back = kWhite},
};

// ---- frmSingle ---------------------------------------------------------------

constexpr Control kSingle[] = {
    {.name = "CmdAddFolder", .kind = Kind::Button, .caption = "Select...", .place = {6960, 2160, 1455, 390},
     .tab = 1},
    {.name = "CmdNext", .kind = Kind::Button, .caption = "&Next >", .place = {6720, 3240, 1695, 390},
     .font = Tahoma(825), .back = kWhite, .tab = 2},
    {.name = "txtSourceMailbox", .kind = Kind::Edit, .place = {240, 2160, 6615, 405}, .tab = 3},
    {.name = "lblTitle", .kind = Kind::Label, .caption = "Single Folder Conversion", .place = {240, 120, 6255, 375},
     .font = Tahoma(1425, true), .fore = kTitleGrey, .back = kWhite},
    {.name = "lblSubtitle", .kind = Kind::Label,
     .caption = "Convert single folder of messages to respective Outlook .pst file", .place = {240, 480, 6135, 255},
     .font = Tahoma(825), .back = kWhite},
    {.name = "imgHint", .kind = Kind::Picture, .place = {360, 1080, 240, 240}, .back = kLightYellow,
     .picture = Picture::Information},
    {.name = "lblHint", .kind = Kind::Label, .caption = "Make sure, folder you are trying to select is not hidden",
     .place = {720, 1080, 7095, 255}, .font = Tahoma(825), .back = kLightYellow},
    {.name = "imgFolder", .kind = Kind::Picture, .place = {240, 1750, 240, 240}, .picture = Picture::Folder},
    {.name = "lblPrompt", .kind = Kind::Label, .caption = "Select folder having all .msg message files",
     .place = {600, 1750, 5415, 360}},
    {.name = "lblSingleMailbox", .kind = Kind::HelpLink, .caption = kLink, .place = {6120, 1785, 495, 240},
     .fore = kLinkBlue, .tooltip = kLinkTip, .follows = "lblPrompt"},
    {.name = "", .kind = Kind::Band, .place = {0, 0, 10695, 855}, .back = kWhite},
    {.name = "", .kind = Kind::Band, .place = {240, 960, 8175, 495}, .back = kLightYellow},
    {.name = "", .kind = Kind::Band, .place = {-120, 3120, 10695, 855}, .back = kWhite},
};

// ---- frmMultiple -------------------------------------------------------------

// "User" and "Mailbox Folder", 200 and about 440 pixels at 96 dots per
// inch: together they fill the list's width.
constexpr Column kFolderColumns[] = {
    {"User", 3000, Picture::Person, false},
    {"Mailbox Folder", 0, Picture::Folder, true},
};

constexpr Control kMultiple[] = {
    {.name = "CmdNext", .kind = Kind::Button, .caption = "&Next >", .place = {8640, 6600, 1695, 390},
     .font = Tahoma(825), .back = kWhite, .tab = 1},
    {.name = "lv", .kind = Kind::ListView, .place = {240, 720, 9615, 3135}, .back = kWhite, .tab = 2,
     .frame = "fraFolders", .columns = kFolderColumns},
    {.name = "CmdAddFolder", .kind = Kind::Button, .caption = "Select...", .place = {6720, 1000, 1455, 390},
     .tab = 3},
    {.name = "chkSelectAll", .kind = Kind::CheckBox, .caption = "Check All", .place = {340, 360, 3015, 255},
     .tab = 4, .frame = "fraFolders"},
    {.name = "cmdChange", .kind = Kind::Button, .caption = "Change...", .place = {9000, 5760, 1335, 390}, .tab = 5},
    {.name = "txtOutputFolder", .kind = Kind::Edit, .place = {1680, 5760, 7215, 405}, .tab = 6},
    {.name = "cmdBack", .kind = Kind::Button, .caption = "< Bac&k", .place = {7080, 6600, 1335, 390},
     .font = Tahoma(825), .back = kWhite, .tab = 7},
    {.name = "lblTitle", .kind = Kind::Label, .caption = "Multiple Folder Conversion", .place = {240, 120, 6255, 375},
     .font = Tahoma(1425, true), .fore = kTitleGrey, .back = kWhite},
    {.name = "lblSubtitle", .kind = Kind::Label,
     .caption = "Convert one by one all folders to respective Outlook .pst files", .place = {240, 480, 6135, 255},
     .font = Tahoma(825), .back = kWhite},
    {.name = "imgFolder", .kind = Kind::Picture, .place = {240, 1080, 240, 240}, .picture = Picture::Folder},
    // Up to the "Select..." button and two lines high (the design's 5775 x
    // 360 held one): in a font wider than Tahoma, as a new wine prefix has
    // in its place, the caption wraps instead of losing its last word.
    {.name = "lblPrompt", .kind = Kind::WrappedLabel,
     .caption = "Select top folder having all sub-folders inside it containing .msg files",
     .place = {600, 1080, 6015, 450}},
    {.name = "lblSelectRootFolder", .kind = Kind::HelpLink, .caption = kLink, .place = {8280, 1080, 495, 240},
     .fore = kLinkBlue, .tooltip = kLinkTip},
    {.name = "lblOutput", .kind = Kind::Label, .caption = "Output Folder:", .place = {240, 5880, 1575, 345}},
    {.name = "fraFolders", .kind = Kind::Frame, .caption = " Select Folders", .place = {240, 1560, 10095, 4095},
     .font = Tahoma(900, true)},
    {.name = "", .kind = Kind::Band, .place = {0, 0, 10695, 855}, .back = kWhite},
    {.name = "", .kind = Kind::Band, .place = {0, 6480, 10695, 855}, .back = kWhite},
};

// ---- frmMigateAll ------------------------------------------------------------

constexpr Control kStatus[] = {
    // The stop button lies in the start button's place, above it, and is
    // shown instead of it while a folder is converted.
    {.name = "CmdStopMigration", .kind = Kind::Button, .caption = "S&top Conversion",
     .place = {3120, 3240, 2415, 555}, .font = Verdana(975), .back = kWhite, .tab = 1,
     .tooltip = "Stops Complete Conversion", .hidden = true},
    {.name = "CmdStartConversion", .kind = Kind::Button, .caption = "Sta&rt Conversion",
     .place = {3120, 3240, 2415, 555}, .font = Verdana(975), .back = kWhite, .tab = 2},
    {.name = "CmdSkip", .kind = Kind::Button, .caption = "X", .place = {8160, 240, 375, 315},
     .font = Tahoma(975, true), .back = kWhite, .tab = 3, .tooltip = "Cancel Conversion of Current Folder"},
    // The delete-option row is laid out, hidden, and never shown: source
    // files are only read.
    {.name = "ChkDelete", .kind = Kind::CheckBox, .caption = "Delete Source file(s), during conversion...",
     .place = {480, 2760, 3735, 255}, .fore = kDarkRed, .tab = 4, .hidden = true},
    {.name = "lblCount1", .kind = Kind::ElidedLabel, .caption = "Conversion Not Started Yet...",
     .place = {120, 120, 9375, 375}, .font = Tahoma(975, true), .back = kWhite},
    // 285 twips high, not 255: a line of Tahoma 11.25 pt needs 18 pixels at
    // 96 dots per inch and 28 at 144.
    {.name = "lblProgress", .kind = Kind::Label, .caption = "0% Complete", .place = {120, 600, 6015, 285},
     .font = Tahoma(1125), .back = kWhite},
    {.name = "ProgressBar1", .kind = Kind::Progress, .place = {120, 960, 8415, 255}},
    {.name = "LblCurrentDBX", .kind = Kind::PathLabel, .caption = "Converting Messages...",
     .place = {195, 285, 7815, 735}, .fore = kTitleGrey, .frame = "FrameConversion"},
    {.name = "Image1", .kind = Kind::Picture, .place = {120, 2760, 240, 240}, .hidden = true,
     .picture = Picture::Information},
    {.name = "lblDeleteHelp", .kind = Kind::HelpLink, .caption = kLink, .place = {4200, 2760, 495, 240},
     .fore = kLinkBlue, .tooltip = kLinkTip, .follows = "ChkDelete", .hidden = true},
    {.name = "FrameConversion", .kind = Kind::Frame, .caption = " Details ", .place = {120, 1440, 8415, 1215}},
    {.name = "", .kind = Kind::Band, .place = {-120, -120, 10695, 1455}, .back = kWhite},
    {.name = "", .kind = Kind::Band, .place = {-240, 3120, 10695, 1455}, .back = kWhite},
};

// The version comes from the build (the CMake project's version).
constexpr WindowLayout kStartLayout{"frmStart", "Tavrin MSG to PST Converter v" TAVRIN_CAPTION_VERSION, 9270, 7080,
                                   kStart};
constexpr WindowLayout kSingleLayout{"frmSingle", "Single Folder Conversion Mode", 8685, 3750, kSingle, true};
constexpr WindowLayout kMultipleLayout{"frmMultiple", "Multiple Folder Conversion Mode", 10590, 7080, kMultiple};
constexpr WindowLayout kStatusLayout{"frmMigateAll", "Conversion Status", 8670, 3915, kStatus, true};

}  // namespace

char Control::accessKey() const {
    for (const char* p = caption; *p; ++p) {
        if (*p != '&') continue;
        if (p[1] == '&') {
            ++p;
            continue;
        }
        return p[1] ? static_cast<char>(std::tolower(static_cast<unsigned char>(p[1]))) : 0;
    }
    return 0;
}

const Control* WindowLayout::find(std::string_view control) const {
    for (const Control& c : controls)
        if (!control.empty() && control == c.name) return &c;
    return nullptr;
}

Twips WindowLayout::placeInWindow(const Control& c) const {
    Twips t = c.place;
    if (c.frame) {
        if (const Control* f = find(c.frame)) {
            t.left += f->place.left;
            t.top += f->place.top;
        }
    }
    return t;
}

const WindowLayout& StartLayout() { return kStartLayout; }
const WindowLayout& SingleLayout() { return kSingleLayout; }
const WindowLayout& MultipleLayout() { return kMultipleLayout; }
const WindowLayout& StatusLayout() { return kStatusLayout; }

}  // namespace tavrin::wizard
