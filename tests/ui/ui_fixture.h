// What the wizard tests share: dialogs that answer from a script instead
// of waiting for a user, a way to act on a modal window once it is shown,
// and generated message folders.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "store/core/tags.h"
#include "store/msg/msg_builder.h"
#include "ui/dialogs/dialogs.h"

namespace tavrin::ui::testing {

namespace fsys = std::filesystem;
using engine::MsgButtons;
using engine::MsgIcon;
using engine::MsgResult;

struct Box {
    std::string text, title;
    MsgButtons buttons;
    MsgIcon icon;
    QWidget* owner;
};

// Answers every dialog at once from what the test put in.
struct FakeDialogs : Dialogs {
    std::deque<std::string> folders;       // browseForFolder answers in turn; none left: cancelled
    std::vector<std::string> prompts;
    std::vector<QWidget*> browseOwners;
    std::vector<Box> boxes;
    std::function<MsgResult(const Box&)> answer;  // default: Yes to a question
    std::optional<std::string> savePath;   // nullopt: the save dialog is cancelled
    std::vector<std::string> saveFilters, saveProposals;
    std::function<void()> onSave;
    std::vector<std::string> urls;

    MsgResult messageBox(QWidget* owner, const std::string& text, const std::string& title, MsgButtons buttons,
                         MsgIcon icon) override {
        boxes.push_back({text, title, buttons, icon, owner});
        if (answer) return answer(boxes.back());
        return buttons == MsgButtons::YesNo ? MsgResult::Yes : MsgResult::Ok;
    }
    std::string browseForFolder(QWidget* owner, const std::string& prompt) override {
        prompts.push_back(prompt);
        browseOwners.push_back(owner);
        if (folders.empty()) return {};
        std::string f = folders.front();
        folders.pop_front();
        return f;
    }
    std::optional<std::string> saveFile(QWidget*, const std::string& filter, const std::string& proposedName,
                                        bool& replaceConfirmed) override {
        saveFilters.push_back(filter);
        saveProposals.push_back(proposedName);
        replaceConfirmed = false;
        if (onSave) onSave();
        return savePath;
    }
    void openUrl(const std::string& address) override { urls.push_back(address); }
    std::vector<std::string> titles() const {
        std::vector<std::string> t;
        for (const Box& b : boxes) t.push_back(b.title);
        return t;
    }
};

// Runs `step` with the modal window of type T as soon as it is the active
// modal window. A test that never gets there fails after 20 s and closes
// the modal windows, so that it cannot hang.
template <class T>
void WhenModal(std::function<void(T&)> step) {
    auto* timer = new QTimer;
    auto* clock = new QElapsedTimer;
    clock->start();
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, clock, step] {
        if (auto* w = qobject_cast<T*>(QApplication::activeModalWidget()); w && w->isVisible()) {
            timer->stop();
            timer->deleteLater();
            delete clock;
            step(*w);
            return;
        }
        if (clock->elapsed() > 20000) {
            timer->stop();
            timer->deleteLater();
            delete clock;
            ADD_FAILURE() << "no modal " << T::staticMetaObject.className() << " appeared";
            while (QWidget* m = QApplication::activeModalWidget()) m->close();
        }
    });
    timer->start();
}

template <class W>
QAbstractButton* Button(W& window, const char* name) {
    auto* b = window.template findChild<QAbstractButton*>(QString::fromLatin1(name));
    EXPECT_NE(b, nullptr) << name;
    return b;
}

template <class W>
void Click(W& window, const char* name) {
    if (QAbstractButton* b = Button(window, name)) b->click();
}

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
        : path_(fsys::temp_directory_path() / ("tavrin-ui-" + tag + "-" + std::to_string(::getpid()))) {
        fsys::remove_all(path_);
        fsys::create_directories(path_);
    }
    ~TempDir() { fsys::remove_all(path_); }
    const fsys::path& path() const { return path_; }

private:
    fsys::path path_;
};

}  // namespace tavrin::ui::testing
