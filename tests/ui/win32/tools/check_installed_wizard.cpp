// What scripts/check-windows-installer asks of an installed copy, as a user
// (or Windows) would see it:
//
//   check_installed_wizard wizard EXE
//       starts the wizard, waits for its start window, checks that every
//       caption of it and of the single-folder and multiple-folder windows
//       (opened from it, then closed) is shown whole and that each help link
//       follows its caption, closes the start window, answers Yes to "Are
//       you sure you want to exit now?" and checks that the program ends
//       with status 0;
//   check_installed_wizard messages FOLDER COUNT
//       writes COUNT messages into FOLDER and sub-folders of it (.msg and
//       .eml files, and an mbox file);
//   check_installed_wizard read-back PST COUNT
//       checks that PST passes verify and that COUNT messages read back.
//
// Each step says what it did; the exit status is 0 when all went as it must.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "engine/wizard/layout.h"
#include "store/pst/messaging/pst_reader.h"
#include "store/pst/verify/verifier.h"
#include "tests/ui/win32/win32_fixture.h"

using namespace tavrin::ui::win32;
using namespace tavrin::ui::win32::testing;

namespace {

struct Found {
    DWORD process;
    std::wstring text;
    std::wstring className;
    HWND hwnd = nullptr;
};

// The first visible top-level window of a process whose caption (and, when
// given, class) matches.
HWND FindWindowOf(DWORD process, const std::wstring& text, const std::wstring& className) {
    Found f{process, text, className};
    ::EnumWindows(
        [](HWND w, LPARAM p) -> BOOL {
            auto* f = reinterpret_cast<Found*>(p);
            DWORD pid = 0;
            ::GetWindowThreadProcessId(w, &pid);
            if (pid != f->process || !::IsWindowVisible(w)) return TRUE;
            wchar_t caption[256] = {}, cls[64] = {};
            ::GetWindowTextW(w, caption, 256);
            ::GetClassNameW(w, cls, 64);
            if (caption == f->text && (f->className.empty() || cls == f->className)) {
                f->hwnd = w;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&f));
    return f.hwnd;
}

HWND WaitForWindow(DWORD process, const std::wstring& text, const std::wstring& className, int seconds) {
    for (int i = 0; i < seconds * 20; ++i) {
        if (HWND w = FindWindowOf(process, text, className)) return w;
        ::Sleep(50);
    }
    return nullptr;
}

bool HasChildText(HWND parent, const std::wstring& text) {
    struct Ctx {
        std::wstring text;
        bool found = false;
    } ctx{text};
    ::EnumChildWindows(
        parent,
        [](HWND c, LPARAM p) -> BOOL {
            auto* ctx = reinterpret_cast<Ctx*>(p);
            wchar_t t[512] = {};
            ::GetWindowTextW(c, t, 512);
            if (ctx->text == t) ctx->found = true;
            return !ctx->found;
        },
        reinterpret_cast<LPARAM>(&ctx));
    return ctx.found;
}

// Every caption of a window of the wizard (another program) in the font its
// layout gives it, against the room its control has; and each help link
// after its caption. The number of faults, each printed.
int CheckCaptions(HWND window, const tavrin::wizard::WindowLayout& layout) {
    using tavrin::wizard::Kind;
    int faults = 0;
    const int dpi = DpiOf(window);
    for (const tavrin::wizard::Control& c : layout.controls) {
        if (!*c.caption || c.kind == Kind::Band) continue;
        HWND h = ::GetDlgItem(window, ControlId(layout, c));
        if (!h || !::IsWindowVisible(h)) continue;
        const Fit f = Measure(h, c.kind, c.font, dpi);
        if (f.need.cx > f.room.cx || f.need.cy > f.room.cy) {
            std::fprintf(stderr, "%s.%s needs %ldx%ld pixels and has %ldx%ld\n", layout.name, c.name, f.need.cx,
                         f.need.cy, f.room.cx, f.room.cy);
            ++faults;
        }
        if (!c.follows) continue;
        RECT link{}, owner{};
        ::GetWindowRect(h, &link);
        ::GetWindowRect(::GetDlgItem(window, ControlId(layout, *layout.find(c.follows))), &owner);
        if (link.left < owner.right) {
            std::fprintf(stderr, "%s.%s covers the end of %s\n", layout.name, c.name, c.follows);
            ++faults;
        }
    }
    std::printf("%s: %s\n", layout.caption, faults ? "captions cut" : "every caption whole");
    return faults;
}

// Clicks a control of another program's window as its window hears of it.
void Press(HWND window, const tavrin::wizard::WindowLayout& layout, const char* name) {
    const int id = ControlId(layout, *layout.find(name));
    ::PostMessageW(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(::GetDlgItem(window, id)));
}

// Opens a window of the wizard from its start window, checks its captions
// and closes it again.
int CheckWindowFrom(HWND start, DWORD process, const tavrin::wizard::WindowLayout& layout) {
    Press(start, tavrin::wizard::StartLayout(), "CmdNext");
    HWND w = WaitForWindow(process, W(layout.caption), L"", 30);
    if (!w) {
        std::fprintf(stderr, "the window \"%s\" did not appear\n", layout.caption);
        return 1;
    }
    const int faults = CheckCaptions(w, layout);
    ::PostMessageW(w, WM_CLOSE, 0, 0);
    for (int i = 0; i < 200 && ::IsWindowVisible(w); ++i) ::Sleep(50);
    return faults;
}

// Closes the start window, answers Yes to the exit question and waits for
// the program to end: its exit status, or 1.
int EndWizard(HWND start, const PROCESS_INFORMATION& pi) {
    ::PostMessageW(start, WM_CLOSE, 0, 0);
    HWND box = WaitForWindow(pi.dwProcessId, L"Tavrin MSG to PST Converter", L"#32770", 20);
    if (!box || !HasChildText(box, L"Are you sure you want to exit now?")) {
        std::fprintf(stderr, "closing did not ask \"Are you sure you want to exit now?\"\n");
        return 1;
    }
    std::printf("closing asks \"Are you sure you want to exit now?\"; answering Yes\n");
    ::PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDYES, BN_CLICKED), 0);
    DWORD code = 1;
    if (::WaitForSingleObject(pi.hProcess, 30000) != WAIT_OBJECT_0) {
        std::fprintf(stderr, "the wizard did not end\n");
        return 1;
    }
    if (!::GetExitCodeProcess(pi.hProcess, &code) || code != 0) {
        std::fprintf(stderr, "the wizard ended with status %lu\n", code);
        return 1;
    }
    std::printf("the wizard ended with status 0\n");
    return 0;
}

int CheckWizard(const std::string& exe) {
    using namespace tavrin::wizard;
    std::wstring command = L"\"" + W(exe) + L"\"";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
        std::fprintf(stderr, "cannot start %s (error %lu)\n", exe.c_str(), ::GetLastError());
        return 1;
    }
    int status = 1;
    HWND start = WaitForWindow(pi.dwProcessId, W(StartLayout().caption), L"", 60);
    if (!start) {
        std::fprintf(stderr, "the start window did not appear\n");
    } else if (!HasChildText(start, L"&Next >") || !HasChildText(start, L"Single MSG Folder")) {
        std::fprintf(stderr, "the start window lacks its controls\n");
    } else {
        std::printf("the start window is shown\n");
        int cut = CheckCaptions(start, StartLayout()) + CheckWindowFrom(start, pi.dwProcessId, SingleLayout());
        ::PostMessageW(::GetDlgItem(start, ControlId(StartLayout(), *StartLayout().find("OptMultiple"))), BM_CLICK, 0,
                       0);
        cut += CheckWindowFrom(start, pi.dwProcessId, MultipleLayout());
        if (cut == 0) status = EndWizard(start, pi);
    }
    if (status != 0) ::TerminateProcess(pi.hProcess, 1);
    ::CloseHandle(pi.hThread);
    ::CloseHandle(pi.hProcess);
    return status;
}

// An Internet message, as .eml files and mbox files hold them.
std::string InternetMessage(int n) {
    return "From: Sender <sender@example.com>\r\nTo: someone@example.com\r\nSubject: Message " +
           std::to_string(n) + "\r\nDate: Tue, 8 Dec 2026 10:00:00 +0000\r\nContent-Type: text/plain; "
           "charset=utf-8\r\n\r\nBody of message " + std::to_string(n) + ".\r\n";
}

// COUNT messages: Outlook message files, every fourth an .eml file, the
// last three in the mbox file "Archive.mbox".
int WriteMessages(const std::string& folder, int count) {
    const fsys::path root = fsys::u8path(folder);
    std::string mbox;
    for (int i = 0; i < count; ++i) {
        const fsys::path sub = i % 3 == 0 ? root : i % 3 == 1 ? root / "Inbox" : root / "Projects" / "2026";
        const std::string name = "message " + std::to_string(i + 1);
        if (i >= count - 3) {
            mbox += "From sender@example.com Tue Dec  8 10:00:00 2026\r\n" + InternetMessage(i + 1) + "\r\n";
        } else if (i % 4 == 3) {
            fsys::create_directories(sub);
            std::ofstream(sub / (name + ".eml"), std::ios::binary) << InternetMessage(i + 1);
        } else {
            WriteMsg(sub / (name + ".msg"), "Message " + std::to_string(i + 1));
        }
    }
    std::ofstream(root / "Archive.mbox", std::ios::binary) << mbox;
    std::printf("%d messages in message files, .eml files and an mbox file in %s\n", count, folder.c_str());
    return 0;
}

int ReadBack(const std::string& file, int count) {
    namespace pst = tavrin::pst;
    auto report = pst::verify::verifyFile(file);
    if (!report.ok() || !report->clean()) {
        std::fprintf(stderr, "%s does not verify clean\n", file.c_str());
        return 1;
    }
    auto r = pst::messaging::PstReader::open(file);
    if (!r.ok()) return 1;
    auto tree = (*r)->folderTree((*r)->ipmSubtree());
    if (!tree.ok()) return 1;
    int whole = 0;
    for (auto& f : *tree)
        for (uint32_t nid : f.folder.messages)
            if ((*r)->readMessage(nid).ok()) ++whole;
    std::printf("%s verifies clean; %d of %d messages read back\n", file.c_str(), whole, count);
    return whole == count ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string what = argc > 1 ? argv[1] : "";
    if (what == "wizard" && argc == 3) return CheckWizard(argv[2]);
    if (what == "messages" && argc == 4) return WriteMessages(argv[2], std::atoi(argv[3]));
    if (what == "read-back" && argc == 4) return ReadBack(argv[2], std::atoi(argv[3]));
    std::fprintf(stderr,
                 "usage: check_installed_wizard wizard EXE | messages FOLDER COUNT | read-back PST COUNT\n");
    return 2;
}
