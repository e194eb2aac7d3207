// The one yield point of the file-system layer.
//
// Long walks and sorts hand control back to the window system at fixed
// points so that repaints happen and the skip and stop buttons can be
// pressed. This layer knows nothing of windows: it calls whatever callback
// the program installed, and does nothing when none is installed. The user
// interface installs the callback that lets Qt deliver pending events; the
// engine may wrap it; tests install counters.
#pragma once

#include <functional>
#include <utility>

namespace tavrin::fs {

using YieldCallback = std::function<void()>;

// Installs the callback called by Yield() on the calling thread (each
// thread has its own); an empty callback restores the default (do
// nothing). Returns the callback that was installed before.
YieldCallback setYieldCallback(YieldCallback callback);

// Lets the window system deliver all pending input and paint events (when a
// callback is installed), then returns.
void Yield();

// Installs a callback for the life of a scope and restores the previous one.
class ScopedYieldCallback {
public:
    explicit ScopedYieldCallback(YieldCallback callback) : previous_(setYieldCallback(std::move(callback))) {}
    ~ScopedYieldCallback() { setYieldCallback(std::move(previous_)); }
    ScopedYieldCallback(const ScopedYieldCallback&) = delete;
    ScopedYieldCallback& operator=(const ScopedYieldCallback&) = delete;

private:
    YieldCallback previous_;
};

}  // namespace tavrin::fs
