// Saves a picture of each native wizard window, driven as a user would over
// a small generated mailbox folder: wizard_screenshots_win32 OUTPUT_FOLDER
// writes NAME.bmp files there (scripts/screenshots-windows turns them into
// PNG). The windows are read from the screen, so they must be shown on a
// display (under wine: Xvfb). Dialogs are answered by the test fakes.
#include <cstdio>
#include <vector>

#include "engine/wizard/windows.h"
#include "engine/wizard/wizard.h"
#include "tests/ui/win32/win32_fixture.h"

using namespace tavrin::ui::win32;
using namespace tavrin::ui::win32::testing;

namespace {

std::string g_out;
int g_failures = 0;

// The window as it is on the screen, frame and caption included, as a
// 24-bit bottom-up BMP file.
void save(HWND window, const char* name) {
    ::SetWindowPos(window, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
    ::RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
    for (int i = 0; i < 4; ++i) {
        Settle(5);
        ::Sleep(50);
    }
    RECT r{};
    ::GetWindowRect(window, &r);
    const int w = r.right - r.left, h = r.bottom - r.top;
    HDC screen = ::GetDC(nullptr);
    HDC memory = ::CreateCompatibleDC(screen);
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 24;
    bi.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = ::CreateDIBSection(memory, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = ::SelectObject(memory, bitmap);
    ::BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    ::GdiFlush();
    const int stride = (w * 3 + 3) & ~3;
    const std::string path = g_out + "\\" + name + ".bmp";
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        BITMAPFILEHEADER fh{};
        fh.bfType = 0x4D42;
        fh.bfOffBits = sizeof fh + sizeof bi.bmiHeader;
        fh.bfSize = fh.bfOffBits + static_cast<DWORD>(stride * h);
        std::fwrite(&fh, sizeof fh, 1, f);
        std::fwrite(&bi.bmiHeader, sizeof bi.bmiHeader, 1, f);
        std::fwrite(bits, static_cast<size_t>(stride) * static_cast<size_t>(h), 1, f);
        std::fclose(f);
        std::printf("%s\n", path.c_str());
    } else {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        ++g_failures;
    }
    ::SelectObject(memory, old);
    ::DeleteObject(bitmap);
    ::DeleteDC(memory);
    ::ReleaseDC(nullptr, screen);
}

void close(Window& w) { ::SendMessageW(w.hwnd(), WM_CLOSE, 0, 0); }

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: wizard_screenshots_win32 OUTPUT_FOLDER\n");
        return 2;
    }
    g_out = argv[1];
    fsys::create_directories(g_out);
    if (!HaveDisplay()) {
        std::fprintf(stderr, "no display for the windows\n");
        return 1;
    }

    // A fixed folder, so that the pictures do not change from run to run.
    const fsys::path base = "C:\\Mail Archive";
    fsys::remove_all(base);
    struct Cleanup {
        fsys::path p;
        ~Cleanup() { fsys::remove_all(p); }
    } cleanup{base};
    const fsys::path root = base / "Mailboxes";
    const char* people[] = {"Alice Smith", "Bob Jones", "Carol White", "Sales Team"};
    int k = 0;
    for (const char* p : people)
        for (int i = 0; i < 60; ++i) WriteMsg(root / p / ("message " + std::to_string(++k) + ".msg"), "Subject");
    const fsys::path out = base / "Converted";
    fsys::create_directories(out);

    const auto toolkit = MakeToolkit();
    FakeDialogs dialogs;
    dialogs.savePath = (out / "Alice Smith.pst").string();
    tavrin::wizard::Wizard wizard(*toolkit, dialogs);
    wizard.onEndProgram = [] {};
    wizard.start().show();
    Window& start = Win(wizard.start().form());
    save(start.hwnd(), "start");

    // Single-folder mode up to the status window's start state.
    dialogs.folders = {(root / "Alice Smith").string()};
    WhenModal("frmSingle", [&](Window& single) {
        Click(single, "CmdAddFolder");
        save(single.hwnd(), "single");
        WhenModal("frmMigateAll", [&](Window& status) {
            save(status.hwnd(), "status-start");
            close(status);
        });
        Click(single, "CmdNext");
        close(single);
    });
    Click(start, "CmdNext");

    // Multiple-folder mode through a run, the list and the status window
    // side by side.
    Click(start, "OptMultiple");
    Click(start, "CmdNext");
    Window& list = Win(wizard.multiple().form());
    ::SetWindowPos(list.hwnd(), nullptr, 20, 20, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    dialogs.folders = {root.string(), out.string()};
    Click(list, "CmdAddFolder");
    Click(list, "cmdChange");
    for (int r : {0, 2, 3}) list.setRowChecked("lv", r, true);
    save(list.hwnd(), "multiple");
    WhenModal("frmMigateAll", [&](Window& status) {
        RECT lr{};
        ::GetWindowRect(list.hwnd(), &lr);
        ::SetWindowPos(status.hwnd(), nullptr, lr.right + 10, lr.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
        wizard.status().engine().setYieldInterval(std::chrono::microseconds(0));
        bool taken = false;
        const UINT_PTR sampler = EveryTick([&] {
            const int value = static_cast<int>(
                ::SendMessageW(status.control("ProgressBar1"), PBM_GETPOS, 0, 0));
            const std::wstring frame = TextOf(status.control("FrameConversion"));
            const std::wstring title = TextOf(status.hwnd());
            if (value < 30 || value > 90 || frame.rfind(L"Reading", 0) != 0 || title.find(L"3 of") == std::wstring::npos)
                return false;
            taken = true;
            save(status.hwnd(), "status-running");
            save(list.hwnd(), "multiple-running");
            return true;
        });
        Click(status, "CmdStartConversion");
        StopTick(sampler);
        if (!taken) {
            std::fprintf(stderr, "the run ended before a running picture was taken\n");
            ++g_failures;
        }
        save(status.hwnd(), "status-done");
        close(status);
    });
    Click(list, "CmdNext");
    return g_failures == 0 ? 0 : 1;
}
