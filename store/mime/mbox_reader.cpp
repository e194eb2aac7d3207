// The mbox splitter (see MboxReader in internet_mail.h).
#include <algorithm>
#include <cstring>
#include <new>

#include "store/core/source_digest.h"
#include "store/mime/internet_mail.h"
#include "store/mime/mime_text.h"

namespace tavrin::store::mime {

namespace {

constexpr size_t kChunk = size_t(1) << 20;
// How far past a Content-Length end the separator is looked for.
constexpr size_t kProbe = 4096;

bool startsWith(ByteSpan line, std::string_view p) {
    return line.size() >= p.size() && std::memcmp(line.data(), p.data(), p.size()) == 0;
}

bool isFromLine(ByteSpan line) { return startsWith(line, "From "); }

// "Name:" at the start of a line (RFC 5322 field name, optional spaces).
bool isHeaderLine(ByteSpan line) {
    size_t i = 0;
    while (i < line.size() && line[i] >= 0x21 && line[i] <= 0x7E && line[i] != ':') ++i;
    if (i == 0) return false;
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    return i < line.size() && line[i] == ':';
}

bool isBlank(ByteSpan line) {
    return line.empty() || (line.size() == 1 && line[0] == '\n') || (line.size() == 2 && line[0] == '\r' && line[1] == '\n');
}

// ">From ", ">>From ", ...
bool isQuotedFrom(ByteSpan line) {
    size_t i = 0;
    while (i < line.size() && line[i] == '>') ++i;
    return i > 0 && startsWith(line.subspan(i), "From ");
}

std::optional<uint64_t> contentLength(ByteSpan line) {
    static constexpr std::string_view kName = "content-length";
    if (line.size() < kName.size() + 1) return std::nullopt;
    for (size_t i = 0; i < kName.size(); ++i) {
        char c = static_cast<char>(line[i]);
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
        if (c != kName[i]) return std::nullopt;
    }
    size_t i = kName.size();
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i >= line.size() || line[i] != ':') return std::nullopt;
    ++i;
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    uint64_t v = 0;
    size_t digits = 0;
    while (i < line.size() && line[i] >= '0' && line[i] <= '9' && digits < 18) {
        v = v * 10 + (line[i] - '0');
        ++i;
        ++digits;
    }
    if (!digits) return std::nullopt;
    return v;
}

// Whether the bytes at some offset start with a separator: a "From " line
// and a header line after it, or nothing but line ends to the end.
bool separatorIn(ByteSpan window, bool atEndOfFile) {
    size_t i = 0;
    // The empty line that belongs to the separator.
    while (i < window.size() && i < 2 && (window[i] == '\n' || window[i] == '\r')) ++i;
    if (i == window.size()) return atEndOfFile;
    ByteSpan rest = window.subspan(i);
    if (!isFromLine(rest)) return false;
    const void* nl = std::memchr(rest.data(), '\n', rest.size());
    if (!nl) return false;
    const size_t next = static_cast<size_t>(static_cast<const uint8_t*>(nl) - rest.data()) + 1;
    return isHeaderLine(rest.subspan(next));
}

// Lines of the input, with their offsets, and a look at any offset.
class LineInput {
public:
    virtual ~LineInput() = default;
    // The next line with its line end; false at the end or on a read error.
    virtual bool next(ByteSpan& line, uint64_t& offset) = 0;
    // A separator at `offset` (see separatorIn).
    virtual bool separatorAt(uint64_t offset) = 0;
    virtual uint64_t size() const = 0;
    virtual uint64_t position() const = 0;
    virtual Status status() const { return {}; }
    // A message longer than this is not gathered line by line but read
    // again whole at its end (readAt), into memory of its exact size: a
    // buffer grown by doubling would hold up to twice the biggest message.
    virtual uint64_t gatherLimit() const { return UINT64_MAX; }
    virtual bool readAt(uint64_t offset, std::span<uint8_t> out) {
        (void)offset;
        (void)out;
        return false;
    }
};

class SpanInput : public LineInput {
public:
    explicit SpanInput(ByteSpan data) : data_(data) {}
    bool next(ByteSpan& line, uint64_t& offset) override {
        if (pos_ >= data_.size()) return false;
        const void* nl = std::memchr(data_.data() + pos_, '\n', data_.size() - pos_);
        const size_t end = nl ? static_cast<size_t>(static_cast<const uint8_t*>(nl) - data_.data()) + 1 : data_.size();
        line = data_.subspan(pos_, end - pos_);
        offset = pos_;
        pos_ = end;
        return true;
    }
    bool separatorAt(uint64_t offset) override {
        if (offset > data_.size()) return false;
        const size_t n = std::min<size_t>(kProbe, data_.size() - static_cast<size_t>(offset));
        return separatorIn(data_.subspan(static_cast<size_t>(offset), n), offset + n == data_.size());
    }
    uint64_t size() const override { return data_.size(); }
    uint64_t position() const override { return pos_; }

private:
    ByteSpan data_;
    size_t pos_ = 0;
};

class FileInput : public LineInput {
public:
    explicit FileInput(fs::InputFile file) : file_(std::move(file)), buf_(kChunk) {}

    bool next(ByteSpan& line, uint64_t& offset) override {
        if (!status_.ok()) return false;
        long_.clear();
        offset = fileOffsetOfBegin();
        for (;;) {
            if (begin_ < end_) {
                const void* nl = std::memchr(buf_.data() + begin_, '\n', end_ - begin_);
                if (nl) {
                    const size_t stop = static_cast<size_t>(static_cast<const uint8_t*>(nl) - buf_.data()) + 1;
                    if (long_.empty()) {
                        line = ByteSpan(buf_.data() + begin_, stop - begin_);
                    } else {
                        long_.insert(long_.end(), buf_.begin() + static_cast<std::ptrdiff_t>(begin_),
                                     buf_.begin() + static_cast<std::ptrdiff_t>(stop));
                        line = long_;
                    }
                    begin_ = stop;
                    return true;
                }
                // No line end in what is buffered: keep the piece and read on.
                long_.insert(long_.end(), buf_.begin() + static_cast<std::ptrdiff_t>(begin_),
                             buf_.begin() + static_cast<std::ptrdiff_t>(end_));
                begin_ = end_;
            }
            if (!fill()) {
                if (long_.empty()) return false;
                line = long_;  // the last line, without a line end
                return true;
            }
        }
    }

    bool separatorAt(uint64_t offset) override {
        if (offset > file_.size()) return false;
        const size_t n = static_cast<size_t>(std::min<uint64_t>(kProbe, file_.size() - offset));
        Bytes window(n);
        if (n && !file_.readAt(offset, window)) return false;
        return separatorIn(window, offset + n == file_.size());
    }
    uint64_t size() const override { return file_.size(); }
    uint64_t position() const override { return read_ - (end_ - begin_); }
    Status status() const override { return status_; }
    uint64_t gatherLimit() const override { return kChunk; }
    bool readAt(uint64_t offset, std::span<uint8_t> out) override {
        if (!status_.ok()) return false;
        if (auto s = file_.readAt(offset, out); !s) {
            status_ = s;
            return false;
        }
        return true;
    }

private:
    uint64_t fileOffsetOfBegin() const { return read_ - (end_ - begin_); }

    bool fill() {
        if (read_ >= file_.size()) return false;
        const size_t n = static_cast<size_t>(std::min<uint64_t>(buf_.size(), file_.size() - read_));
        if (auto s = file_.readAt(read_, std::span<uint8_t>(buf_.data(), n)); !s) {
            status_ = s;
            return false;
        }
        read_ += n;
        begin_ = 0;
        end_ = n;
        return true;
    }

    fs::InputFile file_;
    Bytes buf_;
    size_t begin_ = 0;
    size_t end_ = 0;
    uint64_t read_ = 0;  // file bytes read into buf_ so far
    Bytes long_;         // a line longer than what one buffer held
    Status status_;
};

// The split rule over a LineInput, one message per call.
class Splitter {
public:
    Splitter(LineInput& in, bool keep) : in_(in), keep_(keep) {}

    // The next message; false after the last.
    bool next(MboxMessage& out) {
        ByteSpan line;
        uint64_t off = 0;
        while (in_.next(line, off)) {
            if (havePending_) {
                havePending_ = false;
                if (isHeaderLine(line) && !insideDeclaredBody(pendingOffset_)) {
                    const bool had = inMessage_;
                    MboxMessage done;
                    if (had) done = finish();
                    start(pendingOffset_);
                    add(line, off);
                    if (had) {
                        out = std::move(done);
                        return true;
                    }
                    continue;
                }
                // Not a separator: the "From " line is text of the message.
                if (inMessage_) {
                    appendRaw(pending_, pendingOffset_);
                    sawUnquotedFrom_ = true;
                } else {
                    preamble_ += pending_.size();
                }
                pending_.clear();
            }
            if (isFromLine(line)) {
                pending_.assign(line.begin(), line.end());
                pendingOffset_ = off;
                havePending_ = true;
                continue;
            }
            if (!inMessage_) {
                preamble_ += line.size();
                continue;
            }
            add(line, off);
        }
        if (havePending_) {
            havePending_ = false;
            if (inMessage_) appendRaw(pending_, pendingOffset_);
            else preamble_ += pending_.size();
            pending_.clear();
        }
        if (inMessage_) {
            out = finish();
            inMessage_ = false;
            return true;
        }
        return false;
    }

    uint64_t preamble() const { return preamble_; }
    uint64_t count() const { return ordinal_; }

private:
    // A "From " line inside the body that a Content-Length declares, where
    // that length ends exactly at a separator (or the end of the file):
    // the length is followed, and the line is text.
    bool insideDeclaredBody(uint64_t fromOffset) {
        if (!inMessage_ || inHeader_ || !declaredEnd_ || fromOffset >= *declaredEnd_) return false;
        if (!declaredChecked_) {
            declaredLands_ = in_.separatorAt(*declaredEnd_);
            declaredChecked_ = true;
        }
        if (declaredLands_) lengthFollowed_ = true;
        return declaredLands_;
    }

    void start(uint64_t offset) {
        inMessage_ = true;
        inHeader_ = true;
        offset_ = offset;
        cur_.clear();
        gathered_ = 0;
        reread_ = false;
        quoted_.clear();
        declaredEnd_.reset();
        declaredLength_.reset();
        declaredChecked_ = false;
        declaredLands_ = false;
        lengthFollowed_ = false;
        sawUnquotedFrom_ = false;
        ++ordinal_;
    }

    // The lines of a message follow each other in the input, from the one
    // after its "From " line to the one before the next separator: its
    // bytes are the input from the first line's offset, gathered_ long.
    void appendRaw(ByteSpan line, uint64_t off) {
        if (!keep_) return;
        if (gathered_ == 0) begin_ = off;
        gathered_ += line.size();
        if (reread_) return;
        if (gathered_ > in_.gatherLimit()) {
            reread_ = true;
            Bytes().swap(cur_);
            return;
        }
        cur_.insert(cur_.end(), line.begin(), line.end());
    }

    void add(ByteSpan line, uint64_t off) {
        if (inHeader_) {
            if (isBlank(line)) {
                inHeader_ = false;
                if (declaredLength_) declaredEnd_ = off + line.size() + *declaredLength_;
            } else if (auto cl = contentLength(line)) {
                declaredLength_ = cl;
            }
        } else if (isQuotedFrom(line)) {
            quoted_.push_back(static_cast<size_t>(gathered_));
        }
        appendRaw(line, off);
    }

    MboxMessage finish() {
        MboxMessage m;
        m.ordinal = ordinal_;
        m.offset = offset_;
        if (!keep_) return m;
        if (reread_) {
            reread_ = false;
            Bytes whole;
            whole.reserve(static_cast<size_t>(gathered_) + 1);  // room for a last line end
            whole.resize(static_cast<size_t>(gathered_));
            if (!in_.readAt(begin_, whole)) whole.clear();  // the input's status tells the caller
            cur_ = std::move(whole);
        }
        // The empty line before the next "From " line is the separator's.
        const size_t n = cur_.size();
        if (n >= 2 && cur_[n - 1] == '\n' && cur_[n - 2] == '\n') cur_.pop_back();
        else if (n >= 3 && cur_[n - 1] == '\n' && cur_[n - 2] == '\r' && cur_[n - 3] == '\n') cur_.resize(n - 2);
        else if (n == 1 && cur_[0] == '\n') cur_.clear();
        if (!cur_.empty() && cur_.back() != '\n') cur_.push_back('\n');
        // mboxrd: one '>' off each quoted "From " line; mboxcl2 quotes none.
        if (!quoted_.empty() && !(lengthFollowed_ && sawUnquotedFrom_)) {
            size_t w = 0, q = 0;
            for (size_t r = 0; r < cur_.size(); ++r) {
                if (q < quoted_.size() && quoted_[q] == r) {
                    ++q;
                    continue;
                }
                cur_[w++] = cur_[r];
            }
            cur_.resize(w);
        }
        m.bytes = std::move(cur_);
        cur_ = Bytes();
        quoted_.clear();
        return m;
    }

    LineInput& in_;
    const bool keep_;
    bool inMessage_ = false;
    bool inHeader_ = false;
    bool havePending_ = false;
    Bytes pending_;
    uint64_t pendingOffset_ = 0;
    Bytes cur_;
    uint64_t begin_ = 0;     // input offset of the message's first line
    uint64_t gathered_ = 0;  // bytes of the message so far
    bool reread_ = false;    // past gatherLimit(): read whole at the end
    uint64_t offset_ = 0;
    std::vector<size_t> quoted_;
    std::optional<uint64_t> declaredLength_;
    std::optional<uint64_t> declaredEnd_;
    bool declaredChecked_ = false;
    bool declaredLands_ = false;
    bool lengthFollowed_ = false;
    bool sawUnquotedFrom_ = false;
    uint64_t ordinal_ = 0;
    uint64_t preamble_ = 0;
};

void fileWarnings(uint64_t preamble, uint64_t messages, uint64_t size, std::vector<std::string>& out) {
    if (messages == 0 && size > 0) {
        out.push_back("no message found: no line starts with \"From \" followed by a header field");
    } else if (preamble > 0) {
        out.push_back(std::to_string(preamble) + " bytes before the first message were skipped");
    }
}

}  // namespace

struct MboxReader::Impl {
    explicit Impl(fs::InputFile f) : input(std::move(f)), splitter(input, true) {}
    FileInput input;
    Splitter splitter;
    std::vector<std::string> warnings;
    bool done = false;
};

MboxReader::MboxReader(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
MboxReader::~MboxReader() = default;
MboxReader::MboxReader(MboxReader&&) noexcept = default;
MboxReader& MboxReader::operator=(MboxReader&&) noexcept = default;

Result<MboxReader> MboxReader::open(const std::string& path) {
    auto f = fs::InputFile::open(path);
    if (!f) return std::move(f).error();
    return MboxReader(std::make_unique<Impl>(std::move(*f)));
}

Result<std::optional<MboxMessage>> MboxReader::next() {
    if (!impl_->input.status().ok()) return impl_->input.status().error();
    if (impl_->done) return std::optional<MboxMessage>();
    try {
        MboxMessage m;
        const bool got = impl_->splitter.next(m);
        if (!impl_->input.status().ok()) return impl_->input.status().error();
        if (got) {
            if (m.ordinal == 1 && impl_->splitter.preamble() > 0)
                fileWarnings(impl_->splitter.preamble(), 1, size(), impl_->warnings);
            return std::optional<MboxMessage>(std::move(m));
        }
        impl_->done = true;
        if (impl_->splitter.count() == 0) fileWarnings(impl_->splitter.preamble(), 0, size(), impl_->warnings);
        return std::optional<MboxMessage>();
    } catch (const std::bad_alloc&) {
        return Error(err::kNoMemory, "There is not enough memory to read the next message of the file.");
    }
}

Result<std::optional<std::pair<uint64_t, Result<Message>>>> MboxReader::nextMessage() {
    auto m = next();
    if (!m) return std::move(m).error();
    if (!*m) return std::optional<std::pair<uint64_t, Result<Message>>>();
    Result<Message> msg = readInternetMessage((*m)->bytes);
    if (msg) setSourceDigest(*msg, (*m)->bytes);
    return std::optional<std::pair<uint64_t, Result<Message>>>(std::make_pair((*m)->ordinal, std::move(msg)));
}

uint64_t MboxReader::size() const { return impl_->input.size(); }
uint64_t MboxReader::position() const { return impl_->input.position(); }
const std::vector<std::string>& MboxReader::Warnings() const { return impl_->warnings; }

Result<uint64_t> MboxReader::count(const std::string& path) {
    auto f = fs::InputFile::open(path);
    if (!f) return std::move(f).error();
    FileInput in(std::move(*f));
    Splitter s(in, false);
    MboxMessage m;
    while (s.next(m)) {
    }
    if (!in.status().ok()) return in.status().error();
    return s.count();
}

std::vector<MboxMessage> splitMbox(ByteSpan bytes, std::vector<std::string>* warnings) {
    SpanInput in(bytes);
    Splitter s(in, true);
    std::vector<MboxMessage> out;
    MboxMessage m;
    while (s.next(m)) out.push_back(std::move(m));
    if (warnings) fileWarnings(s.preamble(), out.size(), bytes.size(), *warnings);
    return out;
}

}  // namespace tavrin::store::mime
