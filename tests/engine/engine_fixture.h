// What the engine tests share: a fake status window, wizard and dialogs,
// a single-folder run that yields at every point, a message file writer,
// and a fixture with a temporary folder that reads back (and verifies)
// every PST the engine writes.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "engine/conversion.h"
#include "store/core/tags.h"
#include "store/msg/msg_builder.h"
#include "store/pst/messaging/pst_reader.h"
#include "store/pst/verify/verifier.h"

namespace tavrin::engine::enginetest {

using namespace store;
using namespace store::tags;

namespace fsys = std::filesystem;
using namespace store;
using namespace store::tags;

struct FakeView : StatusView {
    std::string c1, dbx, prog, frame, title;
    std::vector<std::string> titles, dbxs;
    float value = 0;
    bool loaded = true;
    std::map<Button, bool> enabled, visible;
    void setCount1(const std::string& c) override { c1 = c; }
    std::string count1() const override { return c1; }
    void setCurrentDbx(const std::string& c) override { dbxs.push_back(dbx = c); }
    void setProgressLabel(const std::string& c) override { prog = c; }
    std::string progressLabel() const override { return prog; }
    void setFrameCaption(const std::string& c) override { frame = c; }
    void setProgressRange(int, int) override {}
    void setProgressValue(float v) override { value = v; }
    float progressValue() const override { return value; }
    void setButtonEnabled(Button b, bool e) override { enabled[b] = e; }
    void setButtonVisible(Button b, bool v) override { visible[b] = v; }
    void setWindowTitle(const std::string& t) override {
        title = t;
        titles.push_back(t);
    }
    bool deleteTicked = false;
    bool deleteSourceTicked() const override { return deleteTicked; }
    void unload() override { loaded = false; }
    bool isLoaded() const override { return loaded; }
};

struct FakeJob : JobView {
    bool single = true;
    std::string source, output;
    std::vector<std::pair<std::string, std::string>> rows;
    std::vector<bool> ticked;  // empty: every row ticked
    std::vector<int> marked;
    std::map<int, std::tuple<int, int, int>> colour;
    std::map<int, bool> bold;
    bool optSingle() const override { return single; }
    std::string sourceMailbox() const override { return source; }
    int rowCount() const override { return static_cast<int>(rows.size()); }
    bool rowChecked(int r) const override { return ticked.empty() || ticked[r - 1]; }
    std::string rowText(int r) const override { return rows[r - 1].first; }
    std::string rowSubItemText(int r) const override { return rows[r - 1].second; }
    void setRowForeColor(int r, int red, int green, int blue) override {
        marked.push_back(r);
        colour[r] = {red, green, blue};
    }
    void setRowBold(int r, bool b) override { bold[r] = b; }
    std::string outputFolder() const override { return output; }
};

struct FakeHost : Host {
    std::optional<std::string> out;  // nullopt: the user cancels the save dialog
    MsgResult existing = MsgResult::Add;  // the answer to "NAME.pst already exists."
    std::vector<std::string> proposed;
    std::function<void()> onYield;
    MsgResult answer = MsgResult::Yes;
    std::vector<std::string> texts, titles;
    std::vector<MsgIcon> icons;
    void yield() override {
        if (onYield) onYield();
    }
    std::vector<MsgKind> kinds;
    MsgResult messageBox(const MsgBox& box) override {
        texts.push_back(box.text);
        titles.push_back(box.title);
        icons.push_back(box.icon);
        kinds.push_back(box.kind);
        if (box.buttons == MsgButtons::AddReplaceCancel) return existing;
        return box.buttons == MsgButtons::YesNo ? answer : MsgResult::Ok;
    }
    std::optional<std::string> saveDialog(const std::string&, const std::string& name) override {
        proposed.push_back(name);
        return out;
    }
    // The Yes/No questions asked so far with this title.
    int asked(const std::string& title) const {
        int n = 0;
        for (const auto& t : titles) n += t == title;
        return n;
    }
};

// A single-folder run from DIR/Mail into DIR/out.pst that yields at every
// point, so that tests can act in the middle of it.
struct SingleRun {
    FakeView view;
    FakeJob job;
    FakeHost host;
    ConversionEngine e{view, job, host};
    explicit SingleRun(const fsys::path& dir) {
        job.source = (dir / "Mail").string();
        host.out = (dir / "out.pst").string();
        e.setYieldInterval(std::chrono::microseconds(0));
    }
};

inline void writeMsg(const fsys::path& p, const std::string& subject) {
    fsys::create_directories(p.parent_path());
    testing::MessageBuilder m;
    m.unicode(makeTag(PidTagSubject, PT_UNICODE), subject);
    const Bytes b = m.file();
    std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

class Engine : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fsys::temp_directory_path() / ("tavrin-engine-" + std::to_string(::getpid()));
        fsys::remove_all(dir_);
        fsys::create_directories(dir_ / "Mail");
    }
    std::string mail() const { return (dir_ / "Mail").string(); }
    void TearDown() override { fsys::remove_all(dir_); }
    // folder path -> subjects of its messages
    std::map<std::string, std::vector<std::string>> readBack(const std::string& pst) {
        auto rep = pst::verify::verifyFile(pst);
        EXPECT_TRUE(rep.ok() && rep->clean());
        std::map<std::string, std::vector<std::string>> out;
        auto r = pst::messaging::PstReader::open(pst);
        EXPECT_TRUE(r.ok());
        if (!r.ok()) return out;
        auto tree = (*r)->folderTree((*r)->ipmSubtree());
        EXPECT_TRUE(tree.ok());
        if (!tree.ok()) return out;
        for (auto& f : *tree) {
            auto& v = out[f.path];
            for (uint32_t nid : f.folder.messages) {
                auto m = (*r)->readMessage(nid);
                EXPECT_TRUE(m.ok());
                if (!m.ok()) continue;
                std::string subject;
                if (const Property* p = m->props.findTag(makeTag(PidTagSubject, PT_UNICODE)))
                    for (char16_t c : p->asUnicode()) subject += static_cast<char>(c);
                // A PST subject starts with 0x01 and the length of its prefix.
                if (subject.size() >= 2 && subject[0] == '\x01') subject.erase(0, 2);
                v.push_back(subject);
            }
        }
        return out;
    }
    fsys::path dir_;
};

// Every record, in order (a record that cannot be read back fails the test).
inline std::vector<FileRecord> recordsOf(const FileRecords& records) {
    std::vector<FileRecord> out;
    EXPECT_TRUE(records.forEach([&](const FileRecord& f) { out.push_back(f); }).ok());
    return out;
}

inline std::string slurp(const fsys::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace tavrin::engine::enginetest
