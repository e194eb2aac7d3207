// The base of the native wizard's windows: a top-level window with a fixed
// client area in twips, its controls placed in twips and re-placed when the
// window moves to a screen of other dots per inch, the white bands painted
// behind them, label colours, help links with the hand pointer, tooltips,
// and modal showing.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <commctrl.h>

#include <string>
#include <string_view>
#include <vector>

#include "ui/win32/common/look.h"

namespace tavrin::ui::win32 {

enum class Kind {
    Label,         // one line
    WrappedLabel,  // word-wrapped
    PathLabel,     // wrapped, and breaks inside a long path
    HelpLink,      // " [ ? ]": blue, hand pointer, clickable
    Picture,       // a 16 x 16 picture
    Button,
    Option,        // option button
    CheckBox,
    Frame,         // group frame
    Edit,          // text box (filled by the window, not by typing)
    ListView,
    Progress,
};

struct ControlInfo {
    HWND hwnd = nullptr;
    std::string name;
    Kind kind = Kind::Label;
    Twips twips{};
    FontSpec font{};
    COLORREF fore = kBlack;
    COLORREF back = kFace;
    Picture picture = Picture::Information;
};

class Window {
public:
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;
    virtual ~Window();

    HWND hwnd() const { return hwnd_; }
    const std::string& name() const { return name_; }
    // A control by the name the window gave it ("CmdNext", "lv"); null when
    // the window has none of that name.
    HWND control(std::string_view name) const;
    const ControlInfo* info(HWND control) const;
    const std::vector<ControlInfo>& controls() const { return controls_; }
    bool isVisible() const;
    // True while the window is shown modally.
    bool isModal() const { return modal_; }
    int dpi() const { return dpi_; }
    // The tooltip of a control (empty when it has none).
    std::wstring tooltipOf(HWND control) const;
    // The client area's size in twips, as the window was created.
    SIZE clientTwips() const { return clientTwips_; }
    // Hides the window without any question or event (the program ends).
    void closeForEnd() { hide(); }

    // True for a top-level window of the wizard (not for message boxes,
    // tooltips or the system's dialogs).
    static bool IsWizardWindow(HWND window);
    // The windows shown modally now, the innermost last.
    static const std::vector<Window*>& ModalWindows();

protected:
    Window() = default;

    // Creates the window, hidden, with a client area of the given twips.
    // `owner`: the window it stays in front of (none: a window of its own).
    void createWindow(std::string name, const std::wstring& caption, int clientWidth, int clientHeight,
                      DWORD style, HWND owner);
    // Adds a control. Controls that take the focus are visited by Tab in the
    // order in which they are added. Where controls overlap, the one added
    // first lies above and the others never paint over it; so group frames,
    // which lie behind the controls inside them, are added last.
    HWND add(Kind kind, std::string name, const std::wstring& text, const Twips& where, const FontSpec& font,
             COLORREF fore = kBlack, COLORREF back = kFace, DWORD extraStyle = 0);
    HWND addPicture(std::string name, Picture picture, const Twips& where, COLORREF back = kFace);
    // A filled rectangle with a light-grey border, painted behind the controls.
    void addBand(const Twips& where, COLORREF fill);
    void setFont(HWND control, const FontSpec& font);
    void addTooltip(HWND control, const std::wstring& text);
    // Centres the window on another one, or on its screen's work area.
    void centreOn(HWND other);

    // Shows the window modally: every other wizard window of the program
    // takes no input until this one is hidden or the program ends. `owner`
    // (when given) is the window it stays in front of.
    void runModal(HWND owner);
    // Hides the window; a modal showing ends (the windows it disabled take
    // input again first, so that the owner becomes the active window).
    void hide();
    void present();

    virtual LRESULT onMessage(UINT message, WPARAM wParam, LPARAM lParam);
    virtual void onCommand(HWND control, WORD code) {
        (void)control;
        (void)code;
    }
    // Escape (IsDialogMessage's IDCANCEL).
    virtual void onCancel() {}
    virtual bool onNotify(NMHDR* header, LRESULT& result) {
        (void)header;
        (void)result;
        return false;
    }
    // The close box or the system menu's Close.
    virtual void onClose() { hide(); }
    // After the window moved to other dots per inch and its controls were
    // placed anew.
    virtual void onLayout() {}
    LRESULT defaultProc(UINT message, WPARAM wParam, LPARAM lParam);

private:
    static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    void placeControl(const ControlInfo& c);
    void setIcons();
    void relayout(int dpi, const RECT* suggested);
    SIZE frameSize() const;
    void enableDisabled();

    HWND hwnd_ = nullptr;
    std::string name_;
    DWORD style_ = 0;
    SIZE clientTwips_{};
    int dpi_ = 96;
    std::vector<ControlInfo> controls_;
    struct Band {
        Twips where;
        COLORREF fill;
    };
    std::vector<Band> bands_;
    HWND tooltip_ = nullptr;
    HWND lastFocus_ = nullptr;
    bool modal_ = false;
    std::vector<HWND> disabledByModal_;
    int nextId_ = 1000;
};

}  // namespace tavrin::ui::win32
