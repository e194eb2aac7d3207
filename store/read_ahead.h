// Message files read ahead of the one being imported, on the other cores.
//
// The import loop goes through a list of files in order and takes each
// message file from here just when it would import it (RDOMail::Import of
// what take() gives). Meanwhile worker threads read the next ones' bytes, in
// list order, and parse those of Internet mail; take() parses the others
// into the shared model. What take() gives is
// what Import(path) would have read in its place: the same message, the same
// salvage warnings, the same failure. Only the loop's thread writes the
// store. (The workers parse only Internet mail: with the C library's
// allocator, a message built on one thread and freed on another, the
// writer's, makes both wait on the allocator's locks, which costs more than
// the parse of an Outlook message file, though far less than the parse of
// an Internet message.)
//
// Memory is bounded by bytes, not by files: the files read ahead and not
// yet taken, and the one the loop took last (until it takes the next), stay
// within `budget` bytes. A file larger than the budget is read only when
// nothing else is held, so one huge message never shares the memory with
// another. Files are admitted in list order, so the one the loop waits for
// is never held up by later ones. An Internet message parsed ahead counts
// for its file's bytes, as the one the loop parses does (its text, held as
// UTF-16, may take up to about twice as much).
//
// What the loop does not take is thrown away: taking entry i drops what was
// read for the entries before it, and cancel() (a skip, a stop) or the
// destructor drops everything and stops the workers.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "fs/result.h"
#include "store/core/message.h"
#include "store/message_files.h"

namespace tavrin::store {

struct ReadAheadOptions {
    unsigned threads = 0;                   // 0: nothing is read ahead; take() reads the file itself
    uint64_t budget = uint64_t(8) << 20;    // bytes of files held (see above)
};

// The bytes held against the budget: bytes fit when they stay within it, or
// when nothing else is held. A reader refused before goes on only when its
// bytes fit in half the budget, so that it does not wake for every file the
// loop takes. The read-ahead's lock guards it.
class ByteBudget {
public:
    explicit ByteBudget(uint64_t limit) : limit_(limit) {}
    // Holds `bytes` when they fit; `again` for a reader refused before.
    bool acquire(uint64_t bytes, bool again);
    // Gives `bytes` back: true when the reader refused last would now fit
    // (or has gone: waking it for nothing does no harm).
    bool release(uint64_t bytes);
    uint64_t peak() const { return peak_; }

private:
    bool fits(uint64_t bytes, bool again) const;
    const uint64_t limit_;
    uint64_t held_ = 0;
    uint64_t peak_ = 0;
    uint64_t refused_ = 0;  // what the reader refused last asked for
};

unsigned defaultReadAheadThreads(unsigned jobs = 1);

class MessageReadAhead {
public:
    // `count` entries; pathOf(i) is the file of entry i, or empty for an
    // entry that is not a message file. pathOf is called on the worker
    // threads (one at a time) while this object lives: what it reads must
    // not change meanwhile.
    MessageReadAhead(size_t count, std::function<std::string(size_t)> pathOf, ReadAheadOptions options = {});
    ~MessageReadAhead();
    MessageReadAhead(const MessageReadAhead&) = delete;
    MessageReadAhead& operator=(const MessageReadAhead&) = delete;

    // Entry i as Import(path) would read it now: from a worker when one read
    // it ahead (waiting for it to finish), else read here. What was read
    // for the entries before i is thrown away. An entry taken again, or
    // after a later one, is read here again.
    Result<Message> take(size_t i);
    // Throws away everything read ahead and reads no more.
    void cancel();

    // For the tests: the most bytes held at once, and how many files the
    // workers read.
    uint64_t peakBytes() const;
    size_t filesRead() const;

private:
    struct Slot {
        bool done = false;
        bool admitted = false;
        uint64_t charge = 0;
        Result<MessageFileBytes> result = Error(err::kCancelled, "not read");
        std::optional<Result<Message>> parsed;  // Internet mail, parsed by its reader
    };
    void work();
    bool admit(size_t i, uint64_t size, std::unique_lock<std::mutex>& lock);
    void dropBefore(size_t i);

    const size_t count_;
    const std::function<std::string(size_t)> pathOf_;
    mutable std::mutex mutex_;
    std::condition_variable room_;   // readers wait here to be admitted
    std::condition_variable ready_;  // the loop waits here for wanted_
    size_t wanted_ = SIZE_MAX;
    size_t next_ = 0;    // the next entry a worker may claim
    size_t taken_ = 0;   // the loop has gone past the entries before this
    std::map<size_t, Slot> slots_;  // claimed, not yet taken or dropped
    std::set<size_t> waiting_;      // claimed and not yet admitted, in list order
    ByteBudget budget_;             // admitted files not yet dropped, and the loop's last
    uint64_t loopHolds_ = 0;        // of those, the file the loop took last
    std::vector<MessageFileBytes> spares_;  // buffers the loop is done with
    size_t filesRead_ = 0;
    bool cancelled_ = false;
    std::vector<std::thread> workers_;
};

}  // namespace tavrin::store
