// A front end made up for tests: forms that keep each control of their
// layout as state, a toolkit that makes them and plays a modal showing from
// a script, and dialogs that answer from what the test put in; and the
// generated message folders the wizard is driven over. The Qt and Win32
// tests use the dialogs and the folders too.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "engine/wizard/form.h"
#include "store/core/tags.h"
#include "store/msg/msg_builder.h"

namespace tavrin::wizard::testing {

namespace fsys = std::filesystem;

// A message file with a subject, and the folders above it.
inline void WriteMsg(const fsys::path& p, const std::string& subject) {
    fsys::create_directories(p.parent_path());
    tavrin::testing::MessageBuilder m;
    m.unicode(store::makeTag(store::tags::PidTagSubject, store::PT_UNICODE), subject);
    const store::Bytes b = m.file();
    std::ofstream(p, std::ios::binary)
        .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

// A temporary folder of the test, removed afterwards.
class TempDir {
public:
    explicit TempDir(const std::string& tag)
        : path_(fsys::temp_directory_path() /
                ("tavrin-" + tag + "-" +
                 std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()))) {
        fsys::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ec;
        fsys::remove_all(path_, ec);
    }
    const fsys::path& path() const { return path_; }

private:
    fsys::path path_;
};

struct Box {
    std::string text, title;
    MsgButtons buttons;
    MsgIcon icon;
    const Form* owner;
};

// Answers every dialog at once.
struct FakeDialogs : Dialogs {
    std::deque<std::string> folders;  // browseForFolder answers in turn; none left: cancelled
    std::vector<std::string> prompts, startFolders;
    std::vector<const Form*> browseOwners;
    std::vector<Box> boxes;
    std::function<MsgResult(const Box&)> answer;  // default: Yes to a question
    std::optional<std::string> savePath;          // nullopt: the save dialog is cancelled
    std::vector<std::string> saveFilters, saveProposals;
    std::vector<const Form*> saveOwners;
    std::function<void()> onSave;
    std::vector<std::string> urls;

    MsgResult messageBox(Form* owner, const std::string& text, const std::string& title, MsgButtons buttons,
                         MsgIcon icon) override {
        boxes.push_back({text, title, buttons, icon, owner});
        if (answer) return answer(boxes.back());
        if (buttons == MsgButtons::AddReplaceCancel) return MsgResult::Add;
        return buttons == MsgButtons::YesNo ? MsgResult::Yes : MsgResult::Ok;
    }
    std::string browseForFolder(Form* owner, const std::string& prompt, const std::string& startFolder) override {
        prompts.push_back(prompt);
        startFolders.push_back(startFolder);
        browseOwners.push_back(owner);
        if (folders.empty()) return {};
        std::string f = folders.front();
        folders.pop_front();
        return f;
    }
    std::optional<std::string> saveFile(Form* owner, const std::string& filter, const std::string& proposedName) override {
        saveOwners.push_back(owner);
        saveFilters.push_back(filter);
        saveProposals.push_back(proposedName);
        if (onSave) onSave();
        return savePath;
    }
    void openUrl(const std::string& address) override { urls.push_back(address); }
};

class FakeToolkit;

// A form as the user sees it: each control's state, named as in the layout.
class FakeForm : public Form {
public:
    struct Row {
        std::vector<std::string> cells;
        bool checked = false;
        unsigned colour = kSystemColour;
        bool bold = false;
    };
    struct State {
        std::string text;
        bool enabled = true, shown = true, checked = false, bold = false;
        int minimum = 0, maximum = 100, value = 0;
        std::vector<Row> rows;
        unsigned first = kSystemColour, second = kSystemColour;
    };

    FakeForm(FakeToolkit& toolkit, const WindowLayout& layout) : toolkit_(toolkit), layout_(layout) {
        for (const Control& c : layout.controls) {
            if (!*c.name) continue;
            State& s = controls_[c.name];
            s.text = c.caption;
            s.shown = !c.hidden;
            s.checked = c.checked;
            s.bold = c.font.bold;
        }
    }

    // The state of a control; the test fails when the layout has none.
    State& at(std::string_view control) {
        auto it = controls_.find(control);
        if (it != controls_.end()) return it->second;
        ADD_FAILURE() << layout_.name << " has no control " << control;
        static State none;
        return none = State{};
    }
    const State& at(std::string_view control) const { return const_cast<FakeForm*>(this)->at(control); }

    // A user's click: only on a control that is shown and enabled, in a
    // window that takes input. An option button is selected and a check
    // box changes its tick before the handler runs. False when nothing
    // could be clicked.
    bool click(std::string_view control);
    // The close box: true when the window closed.
    bool close() {
        if (onClose && !onClose()) return false;
        hide();
        return true;
    }

    const WindowLayout& layout() const override { return layout_; }
    std::string text(std::string_view c) const override { return at(c).text; }
    void setText(std::string_view c, const std::string& t) override { at(c).text = t; }
    bool isEnabled(std::string_view c) const override { return at(c).enabled; }
    void setEnabled(std::string_view c, bool e) override { at(c).enabled = e; }
    bool isShown(std::string_view c) const override { return at(c).shown; }
    void setShown(std::string_view c, bool s) override { at(c).shown = s; }
    bool isChecked(std::string_view c) const override { return at(c).checked; }
    void setChecked(std::string_view c, bool v) override { at(c).checked = v; }
    void setBold(std::string_view c, bool b) override { at(c).bold = b; }
    void setFocus(std::string_view c) override { focus = std::string(c); }
    void setProgress(std::string_view c, int minimum, int maximum, int value) override {
        State& s = at(c);
        s.minimum = minimum;
        s.maximum = maximum;
        s.value = value;
    }
    void clearRows(std::string_view c) override { at(c).rows.clear(); }
    void addRow(std::string_view c, const std::vector<std::string>& cells) override { at(c).rows.push_back({cells}); }
    int rowCount(std::string_view c) const override { return static_cast<int>(at(c).rows.size()); }
    std::string cell(std::string_view c, int row, int column) const override {
        return at(c).rows.at(static_cast<size_t>(row)).cells.at(static_cast<size_t>(column));
    }
    bool isRowChecked(std::string_view c, int row) const override {
        return at(c).rows.at(static_cast<size_t>(row)).checked;
    }
    void setRowChecked(std::string_view c, int row, bool v) override {
        at(c).rows.at(static_cast<size_t>(row)).checked = v;
    }
    void setRowLook(std::string_view c, int row, unsigned colour, bool bold) override {
        Row& r = at(c).rows.at(static_cast<size_t>(row));
        r.colour = colour;
        r.bold = bold;
    }
    void setAlternatingRows(std::string_view c, unsigned first, unsigned second) override {
        at(c).first = first;
        at(c).second = second;
    }
    std::string title() const override { return title_; }
    void setTitle(const std::string& t) override { title_ = t; }
    bool isShown() const override { return shown_; }
    void showModeless() override { shown_ = true; }
    void showModal(Form* owner) override;
    void hide() override { shown_ = false; }
    void centreOn(const Form* other) override { centredOn = other; }

    std::string focus;
    const Form* centredOn = this;  // not centred yet
    Form* owner = nullptr;         // while shown modally

private:
    FakeToolkit& toolkit_;
    const WindowLayout& layout_;
    std::map<std::string, State, std::less<>> controls_;
    std::string title_ = layout_.caption;
    bool shown_ = false;
};

class FakeToolkit : public Toolkit {
public:
    std::unique_ptr<Form> makeForm(const WindowLayout& layout) override {
        auto f = std::make_unique<FakeForm>(*this, layout);
        forms[layout.name] = f.get();
        return f;
    }
    void yield() override {
        if (onYield && !yielding_) {
            yielding_ = true;
            onYield();
            yielding_ = false;
        }
    }
    void quit() override { ++quits; }
    std::string desktopFolder() override { return desktop; }

    // Runs `step` with the window of that name once it is shown modally;
    // a modal showing without a step is closed at once with the close box,
    // as is one whose step leaves it open.
    void whenModal(const std::string& window, std::function<void(FakeForm&)> step) {
        steps_[window].push_back(std::move(step));
    }
    // True when a window takes input: no modal window is in front of it.
    bool takesInput(const FakeForm& f) const { return modal.empty() || modal.back() == &f; }

    std::map<std::string, FakeForm*> forms;  // by the window's name
    std::vector<FakeForm*> modal;            // shown modally now, the innermost last
    std::function<void()> onYield;           // what the user does while a long task yields
    std::string desktop;
    int quits = 0;

    friend class FakeForm;

private:
    std::map<std::string, std::deque<std::function<void(FakeForm&)>>> steps_;
    bool yielding_ = false;
};

inline bool FakeForm::click(std::string_view control) {
    State& s = at(control);
    const Control* c = layout_.find(control);
    if (!c || !s.shown || !s.enabled || !shown_ || !toolkit_.takesInput(*this)) return false;
    if (c->kind == Kind::Option) {
        const std::string_view frame = c->frame ? c->frame : "";
        for (const Control& other : layout_.controls)
            if (other.kind == Kind::Option && frame == (other.frame ? other.frame : "")) at(other.name).checked = false;
        s.checked = true;
    } else if (c->kind == Kind::CheckBox) {
        s.checked = !s.checked;
    }
    if (onClick) onClick(control);
    return true;
}

inline void FakeForm::showModal(Form* ownerForm) {
    shown_ = true;
    owner = ownerForm;
    toolkit_.modal.push_back(this);
    std::function<void(FakeForm&)> step;
    if (auto& queue = toolkit_.steps_[layout_.name]; !queue.empty()) {
        step = std::move(queue.front());
        queue.pop_front();
    }
    if (step) step(*this);
    if (shown_) close();
    std::erase(toolkit_.modal, this);
    owner = nullptr;
}

}  // namespace tavrin::wizard::testing
