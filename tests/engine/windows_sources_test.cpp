// Source trees as Windows has them: paths past MAX_PATH with names in several
// scripts, a junction that leads back up the tree, read-only files, a file
// that another program holds open, and a drive root as the source folder.
// Each case runs the whole engine over the real store and reads the PST back.
// They mean something only on Windows (the POSIX forms of the same cases are
// in engine_test.cpp) and skip elsewhere.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "engine/conversion.h"
#include "fs/path_separator.h"
#include "fs/text.h"
#include "platform_test_util.h"
#include "store/core/tags.h"
#include "store/msg/msg_builder.h"
#include "store/pst/messaging/pst_reader.h"
#include "store/pst/verify/verifier.h"

#ifdef _WIN32
#include <winioctl.h>
#endif

namespace tavrin::engine {
namespace {

using namespace store;
using namespace store::tags;
#ifdef _WIN32
using tavrin::testing::longPath;
#endif
using tavrin::testing::makeFolders;
using tavrin::testing::removeTree;
using tavrin::testing::writeWholeFile;

#ifdef _WIN32
#define SKIP_OFF_WINDOWS()
#else
#define SKIP_OFF_WINDOWS() GTEST_SKIP() << "Windows only: the POSIX forms of these cases are in engine_test.cpp"
#endif

struct View : StatusView {
    std::string c1, prog;
    float value = 0;
    bool loaded = true;
    void setCount1(const std::string& c) override { c1 = c; }
    std::string count1() const override { return c1; }
    void setCurrentDbx(const std::string&) override {}
    void setProgressLabel(const std::string& c) override { prog = c; }
    std::string progressLabel() const override { return prog; }
    void setFrameCaption(const std::string&) override {}
    void setProgressRange(int, int) override {}
    void setProgressValue(float v) override { value = v; }
    float progressValue() const override { return value; }
    void setButtonEnabled(Button, bool) override {}
    void setButtonVisible(Button, bool) override {}
    void setWindowTitle(const std::string&) override {}
    bool deleteSourceTicked() const override { return false; }
    void unload() override { loaded = false; }
    bool isLoaded() const override { return loaded; }
};

struct Job : JobView {
    std::string source;
    bool optSingle() const override { return true; }
    std::string sourceMailbox() const override { return source; }
    int rowCount() const override { return 0; }
    bool rowChecked(int) const override { return false; }
    std::string rowText(int) const override { return {}; }
    std::string rowSubItemText(int) const override { return {}; }
    void setRowForeColor(int, int, int, int) override {}
    void setRowBold(int, bool) override {}
    std::string outputFolder() const override { return {}; }
};

struct HostStub : Host {
    std::string out;
    std::vector<std::string> texts;
    void yield() override {}
    MsgResult messageBox(const MsgBox& box) override {
        texts.push_back(box.text);
        return MsgResult::No;
    }
    std::optional<std::string> saveDialog(const std::string&, const std::string&) override { return out; }
};

std::vector<uint8_t> messageFile(const std::string& subject) {
    testing::MessageBuilder m;
    m.unicode(makeTag(PidTagSubject, PT_UNICODE), subject);
    return m.file();
}

// Store folder path ("Inbox/Old") -> the subjects of its messages.
std::map<std::string, std::vector<std::string>> readBack(const std::string& pst) {
    std::map<std::string, std::vector<std::string>> out;
    auto rep = pst::verify::verifyFile(pst);
    EXPECT_TRUE(rep.ok() && rep->clean()) << pst;
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
            if (!m.ok()) continue;
            std::string subject;
            if (const Property* p = m->props.findTag(makeTag(PidTagSubject, PT_UNICODE)))
                subject = text::toUtf8(p->asUnicode());
            if (subject.size() >= 2 && subject[0] == '\x01') subject.erase(0, 2);
            v.push_back(subject);
        }
    }
    return out;
}

class WindowsSources : public ::testing::Test {
protected:
    void SetUp() override {
#ifdef _WIN32
        wchar_t temp[MAX_PATH + 1] = {};
        GetTempPathW(MAX_PATH, temp);
        const std::wstring w = temp;
        dir_ = text::toUtf8(std::u16string(w.begin(), w.end())) + "tavrin-win-" + std::to_string(GetCurrentProcessId());
        removeTree(dir_);
        ASSERT_TRUE(makeFolders(dir_ + "\\Mail"));
#endif
    }
    void TearDown() override {
        if (!dir_.empty()) removeTree(dir_);
    }
    std::string at(const std::string& rel) const { return dir_ + "\\" + rel; }
    void writeMsg(const std::string& rel, const std::string& subject) { writeMsgAt(at(rel), subject); }
    static void writeMsgAt(const std::string& path, const std::string& subject) {
        ASSERT_TRUE(makeFolders(path.substr(0, path.rfind('\\'))));
        ASSERT_TRUE(writeWholeFile(path, messageFile(subject))) << path;
    }
    // A single-folder run of `source` into DIR\out.pst.
    RunSummary convert(const std::string& source, HostStub& host, View& view) {
        Job job;
        job.source = source;
        host.out = at("out.pst");
        ConversionEngine e(view, job, host);
        e.setYieldInterval(std::chrono::microseconds(0));
        e.Form_Load();
        e.CmdStartConversion_Click();
        return e.lastRun();
    }
    std::string dir_;
};

TEST_F(WindowsSources, APathPastMaxPathWithNamesInSeveralScriptsConvertsWhole) {
    SKIP_OFF_WINDOWS();
    // Cyrillic, Greek, Chinese, Arabic, Hebrew, Devanagari and a character
    // beyond the Basic Multilingual Plane (a surrogate pair in UTF-16).
    const std::vector<std::string> names = {"Почта входящая", "Αλληλογραφία", "邮件归档", "البريد",
                                            "דואר", "मेल संग्रह", "Архив 😀"};
    std::string rel = "Mail";
    std::vector<std::string> storePath;
    while (at(rel).size() < 400)
        for (const auto& n : names) {
            rel += "\\" + n;
            storePath.push_back(n);
            if (at(rel).size() >= 400) break;
        }
    writeMsg(rel + "\\Тема.msg", "Глубоко 深い");
    writeMsg("Mail\\" + names[2] + "\\top.msg", "top");
    ASSERT_GT(at(rel).size(), 260u);
    HostStub host;
    View view;
    const RunSummary run = convert(at("Mail"), host, view);
    EXPECT_TRUE(run.allConverted()) << (host.texts.empty() ? "" : host.texts.back());
    EXPECT_EQ(run.messagesConverted(), 2);
    std::string deep;
    for (const auto& n : storePath) deep += (deep.empty() ? "" : "/") + n;
    auto tree = readBack(at("out.pst"));
    EXPECT_EQ(tree[deep], std::vector<std::string>{"Глубоко 深い"});
    EXPECT_EQ(tree[names[2]], std::vector<std::string>{"top"});
}

#ifdef _WIN32
// A junction (mount point) at `link` that leads to `target`; false when the
// file system cannot make one.
bool makeJunction(const std::string& target, const std::string& link) {
    if (!makeFolders(link)) return false;
    const HANDLE h = CreateFileW(longPath(link).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    const std::wstring substitute = L"\\??\\" + longPath(target).substr(4);
    const std::wstring print = longPath(target).substr(4);
    // REPARSE_DATA_BUFFER for IO_REPARSE_TAG_MOUNT_POINT, written field by field.
    std::vector<uint8_t> buf(8 + 8 + (substitute.size() + 1 + print.size() + 1) * 2, 0);
    auto put16 = [&](size_t at, size_t v) {
        buf[at] = static_cast<uint8_t>(v);
        buf[at + 1] = static_cast<uint8_t>(v >> 8);
    };
    const size_t subBytes = substitute.size() * 2, printBytes = print.size() * 2;
    buf[0] = 0x03; buf[1] = 0x00; buf[2] = 0x00; buf[3] = 0xA0;  // IO_REPARSE_TAG_MOUNT_POINT
    put16(4, buf.size() - 8);                                      // ReparseDataLength
    put16(8, 0);                                                   // SubstituteNameOffset
    put16(10, subBytes);                                           // SubstituteNameLength
    put16(12, subBytes + 2);                                       // PrintNameOffset
    put16(14, printBytes);                                         // PrintNameLength
    for (size_t i = 0; i < substitute.size(); ++i) put16(16 + 2 * i, substitute[i]);
    for (size_t i = 0; i < print.size(); ++i) put16(16 + subBytes + 2 + 2 * i, print[i]);
    DWORD returned = 0;
    const BOOL ok = DeviceIoControl(h, FSCTL_SET_REPARSE_POINT, buf.data(), static_cast<DWORD>(buf.size()), nullptr, 0,
                                    &returned, nullptr);
    CloseHandle(h);
    if (!ok) RemoveDirectoryW(longPath(link).c_str());
    return ok != 0;
}
#endif

TEST_F(WindowsSources, AJunctionBackUpTheTreeConvertsEachFileOnce) {
    SKIP_OFF_WINDOWS();
#ifdef _WIN32
    std::string mail = at("Mail");
    ASSERT_TRUE(makeFolders(mail + "\\Sub"));
    bool loop = makeJunction(mail, mail + "\\Sub\\loop") &&
                GetFileAttributesW(longPath(mail + "\\Sub\\loop\\Sub").c_str()) != INVALID_FILE_ATTRIBUTES;
    if (!loop) {
        RemoveDirectoryW(longPath(mail + "\\Sub\\loop").c_str());
        // wine makes no junctions; its test harness (cmake/wine-run) gives a
        // folder whose Sub\loop is a POSIX symbolic link back to it, which
        // wine shows as a folder, as Windows shows a junction.
        if (const char* prepared = std::getenv("TAVRIN_WINE_LINK_LOOP")) {
            mail = prepared;
            loop = GetFileAttributesW(longPath(mail + "\\Sub\\loop\\Sub").c_str()) != INVALID_FILE_ATTRIBUTES;
        }
    }
    if (!loop) GTEST_SKIP() << "this file system makes no junctions (error " << GetLastError() << ")";
    writeMsgAt(mail + "\\a.msg", "a");
    writeMsgAt(mail + "\\Sub\\b.msg", "b");
    HostStub host;
    View view;
    const RunSummary run = convert(mail, host, view);
    DeleteFileW(longPath(mail + "\\a.msg").c_str());
    DeleteFileW(longPath(mail + "\\Sub\\b.msg").c_str());
    EXPECT_EQ(run.filesFound(), 2);
    EXPECT_EQ(run.messagesConverted(), 2);
    auto tree = readBack(at("out.pst"));
    EXPECT_EQ(tree[""], std::vector<std::string>{"a"});
    EXPECT_EQ(tree["Sub"], std::vector<std::string>{"b"});
#endif
}

TEST_F(WindowsSources, ReadOnlySourceFilesConvertAndStayAsTheyWere) {
    SKIP_OFF_WINDOWS();
#ifdef _WIN32
    writeMsg("Mail\\ro.msg", "read-only");
    const std::wstring file = longPath(at("Mail\\ro.msg"));
    ASSERT_TRUE(SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY));
    HostStub host;
    View view;
    const RunSummary run = convert(at("Mail"), host, view);
    EXPECT_TRUE(run.allConverted()) << (host.texts.empty() ? "" : host.texts.back());
    EXPECT_EQ(readBack(at("out.pst"))[""], std::vector<std::string>{"read-only"});
    EXPECT_EQ(GetFileAttributesW(file.c_str()) & FILE_ATTRIBUTE_READONLY, DWORD(FILE_ATTRIBUTE_READONLY));
#endif
}

#ifdef _WIN32
// Another process that opens `path` for reading and writing with `share` as
// its share mode and keeps it open until it is ended. This test program
// itself is that process when TAVRIN_HOLD_FILE names the file.
const bool kHolder = [] {
    const char* path = std::getenv("TAVRIN_HOLD_FILE");
    if (!path) return false;
    const DWORD share = static_cast<DWORD>(std::atoi(std::getenv("TAVRIN_HOLD_SHARE")));
    const HANDLE h = CreateFileW(longPath(path).c_str(), GENERIC_READ | GENERIC_WRITE, share, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) ExitProcess(3);
    writeWholeFile(std::string(path) + ".held", {});
    Sleep(INFINITE);
    return true;
}();

class Holder {
public:
    Holder(const std::string& path, DWORD share) : path_(path) {
        wchar_t self[32768] = {};
        GetModuleFileNameW(nullptr, self, 32768);
        SetEnvironmentVariableA("TAVRIN_HOLD_FILE", path.c_str());
        SetEnvironmentVariableA("TAVRIN_HOLD_SHARE", std::to_string(share).c_str());
        STARTUPINFOW si{};
        si.cb = sizeof si;
        std::wstring cmd = L"\"" + std::wstring(self) + L"\" --gtest_list_tests";
        started_ = CreateProcessW(self, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi_) != 0;
        SetEnvironmentVariableA("TAVRIN_HOLD_FILE", nullptr);
        SetEnvironmentVariableA("TAVRIN_HOLD_SHARE", nullptr);
        for (int i = 0; started_ && i < 500; ++i) {  // until it holds the file (5 s at most)
            if (GetFileAttributesW(longPath(path + ".held").c_str()) != INVALID_FILE_ATTRIBUTES) {
                holding_ = true;
                break;
            }
            Sleep(10);
        }
    }
    ~Holder() {
        if (!started_) return;
        TerminateProcess(pi_.hProcess, 0);
        WaitForSingleObject(pi_.hProcess, 5000);
        CloseHandle(pi_.hProcess);
        CloseHandle(pi_.hThread);
        DeleteFileW(longPath(path_ + ".held").c_str());
    }
    bool holding() const { return holding_; }

private:
    std::string path_;
    PROCESS_INFORMATION pi_{};
    bool started_ = false, holding_ = false;
};
#endif

TEST_F(WindowsSources, AFileAnotherProgramHoldsOpenIsReadUnlessItSharesNoReading) {
    SKIP_OFF_WINDOWS();
#ifdef _WIN32
    (void)kHolder;
    writeMsg("Mail\\open.msg", "held open");
    writeMsg("Mail\\other.msg", "other");
    {
        // Outlook's way: open for writing, others may only read.
        Holder holder(at("Mail\\open.msg"), FILE_SHARE_READ);
        ASSERT_TRUE(holder.holding());
        HostStub host;
        View view;
        const RunSummary run = convert(at("Mail"), host, view);
        EXPECT_TRUE(run.allConverted()) << (host.texts.empty() ? "" : host.texts.back());
        EXPECT_EQ(run.messagesConverted(), 2);
        DeleteFileW(longPath(at("out.pst")).c_str());
    }
    {
        // Held without any sharing: that file is reported, the others convert.
        Holder holder(at("Mail\\open.msg"), 0);
        ASSERT_TRUE(holder.holding());
        HostStub host;
        View view;
        const RunSummary run = convert(at("Mail"), host, view);
        EXPECT_EQ(run.messagesConverted(), 1);
        EXPECT_EQ(run.failed(), 1);
        ASSERT_FALSE(host.texts.empty());
        EXPECT_NE(host.texts.back().find(at("Mail\\open.msg")), std::string::npos) << host.texts.back();
        EXPECT_EQ(readBack(at("out.pst"))[""], std::vector<std::string>{"other"});
    }
#endif
}

TEST_F(WindowsSources, ADriveRootMapsInboxAndSentOntoTheDefaultFolders) {
    SKIP_OFF_WINDOWS();
#ifdef _WIN32
    // A free drive letter for an empty folder, as SUBST gives one; under
    // wine, which maps no letter that DefineDosDevice gives, the drive its
    // test harness (cmake/wine-run) keeps for this.
    ASSERT_TRUE(makeFolders(at("Drive")));
    std::wstring drive;
    bool defined = false;
    const DWORD used = GetLogicalDrives();
    for (wchar_t letter = L'Q'; letter <= L'Y' && drive.empty(); ++letter) {
        const std::wstring name{letter, L':'};
        if ((used & (1u << (letter - L'A'))) || !DefineDosDeviceW(0, name.c_str(), longPath(at("Drive")).substr(4).c_str()))
            continue;
        if (GetFileAttributesW((name + L"\\").c_str()) != INVALID_FILE_ATTRIBUTES) {
            drive = name;
            defined = true;
        } else {
            DefineDosDeviceW(DDD_REMOVE_DEFINITION, name.c_str(), nullptr);
            break;
        }
    }
    if (drive.empty())
        if (const char* prepared = std::getenv("TAVRIN_WINE_DRIVE")) {
            const std::string d(prepared);
            drive = std::wstring(d.begin(), d.end());
        }
    if (drive.empty()) GTEST_SKIP() << "no drive letter could be given to a folder (error " << GetLastError() << ")";
    const std::string root = text::toUtf8(std::u16string(drive.begin(), drive.end())) + "\\";
    for (const auto& [rel, subject] : std::vector<std::pair<std::string, std::string>>{
             {"top.msg", "top"}, {"Inbox\\a.msg", "inbox"}, {"Inbox\\Old\\b.msg", "old"},
             {"Sent\\c.msg", "sent"}, {"Sent\\Projects\\d.msg", "projects"},
             {"Sent\\Projects\\X\\e.msg", "x"}, {"Emailed Contacts\\f.msg", "contacts"}})
        writeMsgAt(root + rel, subject);
    HostStub host;
    View view;
    const RunSummary run = convert(root, host, view);
    for (const char* entry : {"top.msg", "Inbox", "Sent", "Emailed Contacts"}) {
        removeTree(root + entry);
        DeleteFileW(longPath(root + entry).c_str());
    }
    if (defined) DefineDosDeviceW(DDD_REMOVE_DEFINITION, drive.c_str(), nullptr);
    EXPECT_TRUE(run.allConverted()) << (host.texts.empty() ? "" : host.texts.back());
    EXPECT_EQ(run.messagesConverted(), 7);
    EXPECT_EQ(view.c1, "Migrating 7 items from " + root);
    auto tree = readBack(at("out.pst"));
    using V = std::vector<std::string>;
    EXPECT_EQ(tree[""], V{"top"});
    EXPECT_EQ(tree["Inbox"], V{"inbox"});
    EXPECT_EQ(tree["Inbox/Old"], V{"old"});
    EXPECT_EQ(tree["Sent Items"], V{"sent"});
    EXPECT_EQ(tree["Sent Items/Projects"], V{"projects"});
    EXPECT_EQ(tree["Sent Items/Projects/X"], V{"x"});
    EXPECT_EQ(tree["Emailed Contacts"], V{"contacts"});
    EXPECT_EQ(tree.count("Sent"), 0u);
#endif
}

}  // namespace
}  // namespace tavrin::engine
