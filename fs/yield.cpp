#include "fs/yield.h"

#include <memory>

namespace tavrin::fs {
namespace {

// Held by a shared pointer so that a callback that installs another one
// while it runs is not destroyed under its own feet.
// Each thread yields to its own callback: the window system's on the
// interface thread, nothing on the threads of folder conversions that run
// side by side.
std::shared_ptr<const YieldCallback>& installed() {
    static thread_local std::shared_ptr<const YieldCallback> callback;
    return callback;
}

}  // namespace

YieldCallback setYieldCallback(YieldCallback callback) {
    std::shared_ptr<const YieldCallback> previous = std::move(installed());
    if (callback) installed() = std::make_shared<const YieldCallback>(std::move(callback));
    if (!previous) return {};
    return *previous;
}

void Yield() {
    if (!installed()) return;
    const std::shared_ptr<const YieldCallback> running = installed();
    (*running)();
}

}  // namespace tavrin::fs
