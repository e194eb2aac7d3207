#include "fs/unicode_reader.h"

#include <algorithm>

#include "fs/runtime_error.h"
#include "fs/text.h"

namespace tavrin::fs {
namespace {

// Splits `text` at every occurrence of `delim` (none when it is empty),
// searching from `from` on: the caller knows that no delimiter ends before
// from + delim.size().
std::vector<std::u16string> splitAt(std::u16string& text, const std::u16string& delim, size_t from) {
    std::vector<std::u16string> pieces;
    if (delim.empty()) {
        pieces.push_back(std::move(text));
        return pieces;
    }
    size_t start = 0;
    for (size_t hit = text.find(delim, from); hit != std::u16string::npos; hit = text.find(delim, start)) {
        pieces.emplace_back(text, start, hit - start);
        start = hit + delim.size();
    }
    if (start == 0) pieces.push_back(std::move(text));
    else pieces.emplace_back(text, start);
    return pieces;
}

bool endsWith(const std::u16string& text, const std::u16string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

UnicodeReader::~UnicodeReader() {
    if (IsOpen()) CloseFile();
}

Result<bool> UnicodeReader::Eof() const {
    if (!IsOpen()) return rt::runtimeError(rt::kBadFileNumber);
    return endFlag_;
}

Result<int64_t> UnicodeReader::Length() const {
    if (!IsOpen()) return rt::runtimeError(rt::kBadFileNumber);
    return contentLength_ / 2;
}

void UnicodeReader::CloseFile() {
    lines_.clear();
    file_ = InputFile();
}

Status UnicodeReader::OpenFile(const std::string& FileName, const std::string& LineDelim) {
    if (IsOpen()) return rt::runtimeError(rt::kFileAlreadyOpen);
    auto opened = InputFile::open(FileName);
    if (!opened) return std::move(opened).error();
    file_ = std::move(*opened);
    lines_.clear();
    currentIndex_ = 0;
    endFlag_ = false;
    lastChunk_ = false;
    contentLength_ = static_cast<int64_t>(file_.size());
    readOffset_ = 0;
    if (contentLength_ > 1) {
        uint8_t mark[2];
        if (Status s = file_.readAt(0, mark); !s) {
            CloseFile();
            return s;
        }
        if (mark[0] == 0xFF && mark[1] == 0xFE) {
            contentLength_ -= 2;
            readOffset_ = 2;
        }
    }
    // No whole character: nothing to read (an empty file, a lone
    // byte-order mark, a single odd byte).
    if (contentLength_ < 2) {
        endFlag_ = true;
        return {};
    }
    lineDelim_ = text::toUtf16(LineDelim);
    chunksLeft_ = contentLength_ / kChunkBytes;
    lastChunkSize_ = contentLength_ % kChunkBytes;
    chunkSize_ = kChunkBytes;
    lines_.assign(1, std::u16string());
    if (Status s = ReadChunk(); !s) {
        CloseFile();
        return s;
    }
    return {};
}

Status UnicodeReader::ReadChunk() {
    if (chunksLeft_ > 0) {
        --chunksLeft_;
        if (chunksLeft_ == 0) lastChunk_ = lastChunkSize_ == 0;
    } else {
        lastChunk_ = true;
        chunkSize_ = lastChunkSize_;
    }
    std::vector<uint8_t> bytes(static_cast<size_t>(chunkSize_));
    if (Status s = file_.readAt(readOffset_, bytes); !s) return s;
    readOffset_ += bytes.size();

    // The carried-over partial line, then the chunk's code units (UTF-16LE;
    // an odd final byte forms none).
    std::u16string joined = std::move(lines_.back());
    const size_t carried = joined.size();
    joined.reserve(carried + bytes.size() / 2);
    for (size_t k = 0; k + 1 < bytes.size(); k += 2)
        joined.push_back(static_cast<char16_t>(bytes[k] | (bytes[k + 1] << 8)));

    // A delimiter that ends the file ends the last line. It is looked for
    // in the joined text, so that one split across the last two chunks
    // counts as well.
    if (lastChunk_ && !lineDelim_.empty() && endsWith(joined, lineDelim_))
        joined.resize(joined.size() - lineDelim_.size());

    // The carried part holds no whole delimiter; one may begin in its last
    // characters and end in the new chunk.
    const size_t from = carried >= lineDelim_.size() ? carried - lineDelim_.size() + 1 : 0;
    lines_ = splitAt(joined, lineDelim_, std::min(from, joined.size()));
    currentIndex_ = 0;
    return {};
}

Result<std::string> UnicodeReader::ReadLine() {
    if (endFlag_) return rt::runtimeError(rt::kInputPastEndOfFile);
    if (!IsOpen() || lines_.empty()) return rt::runtimeError(rt::kBadFileNumber);
    // The last line of the array runs on into the next chunk: read chunks
    // until a delimiter ends it or the file does.
    while (currentIndex_ + 1 >= lines_.size() && !lastChunk_)
        if (Status s = ReadChunk(); !s) return std::move(s).take();
    if (currentIndex_ + 1 >= lines_.size()) endFlag_ = true;
    return text::toUtf8(lines_[currentIndex_++]);
}

}  // namespace tavrin::fs
