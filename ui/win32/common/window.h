// The native wizard's windows: a top-level window built from its layout,
// with a fixed client area in twips, its controls placed in twips and
// placed anew when the window moves to a screen of other dots per inch, the
// bands painted behind them, label colours, help links with the hand
// pointer after their captions, tooltips, lists with check boxes and
// alternating rows, and modal showing; and the toolkit that makes them.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <commctrl.h>

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "engine/wizard/form.h"
#include "ui/win32/common/look.h"

namespace tavrin::ui::win32 {

using wizard::Kind;

struct ControlInfo {
    HWND hwnd = nullptr;
    std::string name;
    const wizard::Control* control = nullptr;
    Twips twips{};          // in the window
    wizard::FontSpec font{};
};

class Window : public wizard::Form {
public:
    explicit Window(const wizard::WindowLayout& layout);
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;
    ~Window() override;

    HWND hwnd() const { return hwnd_; }
    const std::string& name() const { return name_; }
    // A control by its name in the layout; null when there is none.
    HWND control(std::string_view name) const;
    const ControlInfo* info(HWND control) const;
    const std::vector<ControlInfo>& controls() const { return controls_; }
    int dpi() const { return dpi_; }
    // The tooltip of a control (empty when it has none).
    std::wstring tooltipOf(HWND control) const;

    // How a list's row is drawn: its text colour and weight, and its
    // background.
    struct RowLook {
        COLORREF text;
        COLORREF background;
        bool bold;
    };
    RowLook rowLook(std::string_view list, int row) const;
    // The tooltip of a list at a point of its client area: the text of the
    // cell under it when its column shows its texts as tooltips.
    std::string cellTooltip(std::string_view list, POINT point) const;
    HWND listTooltip(std::string_view list) const;
    HIMAGELIST imageList(std::string_view list) const;

    // True for a top-level window of the wizard (not for message boxes,
    // tooltips or the system's dialogs).
    static bool IsWizardWindow(HWND window);
    // The windows shown modally now, the innermost last.
    static const std::vector<Window*>& ModalWindows();

    // Form
    const wizard::WindowLayout& layout() const override { return layout_; }
    std::string text(std::string_view control) const override;
    void setText(std::string_view control, const std::string& text) override;
    bool isEnabled(std::string_view control) const override;
    void setEnabled(std::string_view control, bool enabled) override;
    bool isShown(std::string_view control) const override;
    void setShown(std::string_view control, bool shown) override;
    bool isChecked(std::string_view control) const override;
    void setChecked(std::string_view control, bool checked) override;
    void setBold(std::string_view control, bool bold) override;
    void setFocus(std::string_view control) override;
    void setProgress(std::string_view control, int minimum, int maximum, int value) override;
    void clearRows(std::string_view list) override;
    void addRow(std::string_view list, const std::vector<std::string>& cells) override;
    int rowCount(std::string_view list) const override;
    std::string cell(std::string_view list, int row, int column) const override;
    bool isRowChecked(std::string_view list, int row) const override;
    void setRowChecked(std::string_view list, int row, bool checked) override;
    void setRowLook(std::string_view list, int row, unsigned colour, bool bold) override;
    void setAlternatingRows(std::string_view list, unsigned first, unsigned second) override;
    std::string title() const override;
    void setTitle(const std::string& title) override;
    bool isShown() const override;
    void showModeless() override;
    void showModal(wizard::Form* owner) override;
    void hide() override;
    void centreOn(const wizard::Form* other) override;

private:
    // What a list keeps beside its control: the look of its rows, its
    // pictures and the tooltip of its cells.
    struct List {
        std::vector<std::pair<unsigned, bool>> rows;  // colour, bold
        bool alternate = false;
        unsigned first = wizard::kWhite, second = wizard::kWhite;
        HIMAGELIST images = nullptr;
        HWND tip = nullptr;
        std::wstring tipText;
        POINT lastCell{-1, -1};
    };

    static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK ListProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                     DWORD_PTR self);
    LRESULT onMessage(UINT message, WPARAM wParam, LPARAM lParam);
    bool onNotify(NMHDR* header, LRESULT& result);
    void close();
    void add(const wizard::Control& c, DWORD extraStyle, DWORD droppedStyle);
    void makeList(ControlInfo& c);
    void placeControl(const ControlInfo& c);
    void placeFollowers();
    void placeList(HWND lv);
    void placeColumns(HWND lv);
    int captionWidth(const ControlInfo& c) const;
    void relayout(int dpi, const RECT* suggested);
    SIZE frameSize() const;
    void enableDisabled();
    ControlInfo* find(std::string_view name);
    const ControlInfo* find(std::string_view name) const;
    List* list(std::string_view name);
    const List* list(std::string_view name) const;

    const wizard::WindowLayout& layout_;
    HWND hwnd_ = nullptr;
    std::string name_;
    DWORD style_ = 0;
    int dpi_ = 96;
    std::vector<ControlInfo> controls_;
    std::map<HWND, List> lists_;
    HWND tooltip_ = nullptr;
    HWND lastFocus_ = nullptr;
    bool modal_ = false;
    std::vector<HWND> disabledByModal_;
};

// The native toolkit: its windows, the yield, and WM_QUIT, which ends every
// message loop, as the end of the program.
std::unique_ptr<wizard::Toolkit> MakeToolkit();

// A control's id in its window: 1000 and its place in the layout's table.
int ControlId(const wizard::WindowLayout& layout, const wizard::Control& c);

// The window of a form that Win32Toolkit made (null for none or another).
Window* WindowOf(const wizard::Form* form);

}  // namespace tavrin::ui::win32
