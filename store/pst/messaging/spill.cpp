#include "store/pst/messaging/spill.h"

namespace tavrin::pst::messaging {

using store::Bytes;

uint32_t SpillFile::newStream() {
    streams_.emplace_back();
    return static_cast<uint32_t>(streams_.size() - 1);
}

Status SpillFile::flush(Stream& s) {
    if (s.buffer.empty()) return {};
    if (auto st = sink_.writeAt(end_, s.buffer); !st) return st;
    s.chunks.emplace_back(end_, static_cast<uint32_t>(s.buffer.size()));
    end_ += s.buffer.size();
    buffered_ -= s.buffer.size();
    s.buffer.clear();
    s.buffer.shrink_to_fit();
    return {};
}

Status SpillFile::append(uint32_t stream, store::ByteSpan record) {
    if (stream >= streams_.size()) return Error(err::kCallFailed, "spill: no such stream");
    if (record.size() > 0x7FFFFFFF) return Error(err::kTooBig, "spill: record too large");
    Stream& s = streams_[stream];
    if (!s.buffer.empty() && s.buffer.size() + 4 + record.size() > chunk_)
        if (auto st = flush(s); !st) return st;
    uint8_t length[4];
    store::storeLE32(length, static_cast<uint32_t>(record.size()));
    s.buffer.insert(s.buffer.end(), length, length + 4);
    s.buffer.insert(s.buffer.end(), record.begin(), record.end());
    buffered_ += 4 + record.size();
    ++s.count;
    if (buffered_ > budget_)
        for (Stream& other : streams_)
            if (auto st = flush(other); !st) return st;
    return {};
}

Status SpillFile::Reader::load() {
    const Stream& s = file_.streams_[stream_];
    pos_ = 0;
    if (chunkIndex_ < s.chunks.size()) {
        const auto [off, size] = s.chunks[chunkIndex_++];
        data_.resize(size);
        return file_.sink_.readAt(off, data_);
    }
    inTail_ = true;
    data_ = s.buffer;
    return {};
}

Result<bool> SpillFile::Reader::next(Bytes& out) {
    while (pos_ >= data_.size()) {
        if (inTail_) return false;
        if (auto s = load(); !s) return std::move(s).take();
    }
    if (data_.size() - pos_ < 4) return Error(err::kCorrupt, "spill: truncated record");
    const uint32_t n = store::loadLE32(data_.data() + pos_);
    if (data_.size() - pos_ - 4 < n) return Error(err::kCorrupt, "spill: truncated record");
    out.assign(data_.begin() + static_cast<ptrdiff_t>(pos_ + 4), data_.begin() + static_cast<ptrdiff_t>(pos_ + 4 + n));
    pos_ += 4 + n;
    return true;
}

}  // namespace tavrin::pst::messaging
