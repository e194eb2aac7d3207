#include "fs/console.h"

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <io.h>
#include <windows.h>
#else
#include <signal.h>
#include <unistd.h>
#endif

#include <atomic>
#include <cstdio>

namespace tavrin::fs {

namespace {

std::atomic<bool> gInterrupted{false};

#ifdef _WIN32
// The first event is taken as an interruption; later ones go on to the
// system's handler, which ends the process.
BOOL WINAPI onConsoleEvent(DWORD) { return gInterrupted.exchange(true) ? FALSE : TRUE; }
#else
extern "C" void onInterrupt(int) { gInterrupted.store(true); }
#endif

}  // namespace

bool StderrIsTerminal() {
#ifdef _WIN32
    return ::_isatty(::_fileno(stderr)) != 0;
#else
    return ::isatty(STDERR_FILENO) == 1;
#endif
}

void CatchInterruptions() {
#ifdef _WIN32
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
#else
    struct sigaction sa {};
    sa.sa_handler = onInterrupt;
    sa.sa_flags = SA_RESETHAND;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
#endif
}

bool Interrupted() { return gInterrupted.load(); }

}  // namespace tavrin::fs
