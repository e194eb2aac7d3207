#include "store/read_ahead.h"

#include <algorithm>
#include <optional>

#include "store/message_files.h"

namespace tavrin::store {

namespace {

// What an entry counts for at least: a small message takes more memory
// parsed than its bytes, and empty files must not be read ahead without end.
constexpr uint64_t kMinCharge = 16 * 1024;
// Buffers kept for the readers to use again: a few, not large ones.
constexpr size_t kSpares = 8;
constexpr size_t kSpareLimit = 1 << 20;
// The loop, once it has to wait for an entry, is woken when the workers are
// this many entries past it, or can go no further: it then takes those
// without a wait each, and the threads switch far less often.
constexpr size_t kWakeAhead = 8;

}  // namespace

unsigned defaultReadAheadThreads(unsigned jobs) {
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const unsigned each = std::max(1u, cores / std::max(1u, jobs));
    return each - 1;
}

bool ByteBudget::fits(uint64_t bytes, bool again) const {
    return held_ == 0 || held_ + bytes <= (again ? limit_ / 2 : limit_);
}

bool ByteBudget::acquire(uint64_t bytes, bool again) {
    if (!fits(bytes, again)) {
        refused_ = bytes;
        return false;
    }
    refused_ = 0;
    held_ += bytes;
    peak_ = std::max(peak_, held_);
    return true;
}

bool ByteBudget::release(uint64_t bytes) {
    held_ -= bytes;
    return bytes != 0 && refused_ != 0 && fits(refused_, true);
}

MessageReadAhead::MessageReadAhead(size_t count, std::function<std::string(size_t)> pathOf, ReadAheadOptions options)
    : count_(count), pathOf_(std::move(pathOf)), budget_(options.budget) {
    for (unsigned t = 0; t < options.threads; ++t) workers_.emplace_back([this] { work(); });
}

MessageReadAhead::~MessageReadAhead() {
    cancel();
    for (std::thread& t : workers_) t.join();
}

void MessageReadAhead::cancel() {
    std::lock_guard<std::mutex> lock(mutex_);
    cancelled_ = true;
    for (auto& [i, slot] : slots_)
        if (slot.done && slot.admitted) budget_.release(slot.charge);
    // Slots still being read give their charge back when their reader ends.
    slots_.clear();
    waiting_.clear();
    room_.notify_all();
    ready_.notify_all();
}

// Called with the lock held; waits until entry i may be read: every entry
// claimed before it has been admitted, and the budget holds its bytes.
// False when it was dropped or everything was cancelled.
bool MessageReadAhead::admit(size_t i, uint64_t size, std::unique_lock<std::mutex>& lock) {
    const uint64_t charge = std::max(size, kMinCharge);
    bool refused = false;
    room_.wait(lock, [&] {
        if (cancelled_ || slots_.count(i) == 0) return true;
        if (*waiting_.begin() == i) {
            if (budget_.acquire(charge, refused)) return true;
            refused = true;
        }
        if (wanted_ != SIZE_MAX) ready_.notify_one();  // this reader goes no further for now
        return false;
    });
    waiting_.erase(i);
    if (!waiting_.empty()) room_.notify_all();  // the next in line may go
    auto it = slots_.find(i);
    if (cancelled_ || it == slots_.end()) return false;
    it->second.admitted = true;
    it->second.charge = charge;
    return true;
}

void MessageReadAhead::work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        std::string path;
        while (!cancelled_ && next_ < count_ && (path = pathOf_(next_)).empty()) ++next_;
        if (cancelled_ || next_ >= count_) {
            ready_.notify_one();
            return;
        }
        const size_t i = next_++;
        slots_[i];
        waiting_.insert(i);
        lock.unlock();
        uint64_t charge = 0;
        MessageFileBytes buffer;
        Result<MessageFileBytes> read = readMessageBytes(
            path,
            [&](uint64_t size) {
                std::unique_lock<std::mutex> l(mutex_);
                if (!admit(i, size, l)) return false;
                charge = slots_[i].charge;
                // A buffer the loop is done with, if it is large enough.
                for (auto b = spares_.begin(); b != spares_.end(); ++b)
                    if (b->capacity >= size) {
                        buffer = std::move(*b);
                        spares_.erase(b);
                        break;
                    }
                return true;
            },
            &buffer);
        // Internet mail is parsed here, outside the lock: its parse costs
        // many times what a compound file's does, more than the allocator's
        // locks (see above). The buffer goes to the spares.
        std::optional<Result<Message>> parsed;
        MessageFileBytes spent;
        if (read && isInternetMail(*read)) parsed = parseMessageBytes(std::move(read), &spent);
        lock.lock();
        if (spent.bytes && spent.capacity <= kSpareLimit && spares_.size() < kSpares) spares_.push_back(std::move(spent));
        // A file that failed before it was admitted (it could not be opened).
        if (waiting_.erase(i) != 0 && !waiting_.empty()) room_.notify_all();
        ++filesRead_;
        auto it = slots_.find(i);
        if (it == slots_.end()) {
            // Dropped while it was read: give its bytes back.
            if (budget_.release(charge)) room_.notify_all();
            continue;
        }
        if (parsed)
            it->second.parsed = std::move(*parsed);
        else
            it->second.result = std::move(read);
        it->second.done = true;
        if (wanted_ != SIZE_MAX && i + 1 >= wanted_ + kWakeAhead) ready_.notify_one();
    }
}

// Drops the entries before i. Called with the lock held.
void MessageReadAhead::dropBefore(size_t i) {
    bool dropped = false;
    for (auto it = slots_.begin(); it != slots_.end() && it->first < i;) {
        if (it->second.done && it->second.admitted) budget_.release(it->second.charge);
        waiting_.erase(it->first);
        it = slots_.erase(it);
        dropped = true;
    }
    if (dropped) room_.notify_all();
}

Result<Message> MessageReadAhead::take(size_t i) {
    std::unique_lock<std::mutex> lock(mutex_);
    // What the loop took last is no longer held.
    if (budget_.release(loopHolds_)) room_.notify_all();
    loopHolds_ = 0;
    if (i < taken_ || cancelled_ || i >= count_) {
        lock.unlock();
        return readMessageFile(i < count_ ? pathOf_(i) : std::string());
    }
    taken_ = i + 1;
    dropBefore(i);
    if (next_ <= i) {
        // No worker has come this far: read it here, and let the workers go
        // on after it.
        // It is admitted as a worker's file would be, first in line.
        next_ = i + 1;
        slots_[i];
        waiting_.insert(i);
        const std::string path = pathOf_(i);
        lock.unlock();
        uint64_t charge = 0;
        Result<Message> read = readMessageFile(path, [&](uint64_t size) {
            std::unique_lock<std::mutex> l(mutex_);
            if (admit(i, size, l)) charge = slots_[i].charge;
            return true;  // read it even when cancelled meanwhile
        });
        lock.lock();
        if (waiting_.erase(i) != 0 && !waiting_.empty()) room_.notify_all();
        if (slots_.erase(i) != 0) {
            loopHolds_ = charge;
        } else if (budget_.release(charge)) {  // cancelled while it was read
            room_.notify_all();
        }
        return read;
    }
    wanted_ = i;
    ready_.wait(lock, [&] {
        auto it = slots_.find(i);
        return cancelled_ || it == slots_.end() || it->second.done;
    });
    wanted_ = SIZE_MAX;
    auto it = slots_.find(i);
    if (it == slots_.end()) {
        lock.unlock();
        return readMessageFile(pathOf_(i));
    }
    loopHolds_ = it->second.admitted ? it->second.charge : 0;
    if (it->second.parsed) {
        Result<Message> parsed = std::move(*it->second.parsed);
        slots_.erase(it);
        return parsed;
    }
    Result<MessageFileBytes> read = std::move(it->second.result);
    slots_.erase(it);
    lock.unlock();
    // Parsed here: the message is made where it is written and freed, and
    // the buffer goes back to the readers.
    MessageFileBytes spent;
    Result<Message> message = parseMessageBytes(std::move(read), &spent);
    if (spent.bytes && spent.capacity <= kSpareLimit) {
        lock.lock();
        if (spares_.size() < kSpares) spares_.push_back(std::move(spent));
    }
    return message;
}

uint64_t MessageReadAhead::peakBytes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return budget_.peak();
}

size_t MessageReadAhead::filesRead() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return filesRead_;
}

}  // namespace tavrin::store
