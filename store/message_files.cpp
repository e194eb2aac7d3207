#include "store/message_files.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <new>
#include <optional>
#include <vector>

#include "fs/file_io.h"
#include "fs/text.h"
#include "store/core/sha256.h"
#include "store/core/source_digest.h"
#include "store/msg/cfb/cfb_writer.h"
#include "store/msg/cfb/compound_file.h"
#include "store/mime/internet_mail.h"
#include "store/msg/oxmsg/msg_reader.h"

namespace tavrin::store {

namespace {

// Files up to this size are read whole. A larger one is read on demand, so
// that a huge attachment is in memory once (the value read), not twice (its
// bytes as well).
constexpr uint64_t kReadWhole = uint64_t(16) << 20;

// [MS-CFB] 2.2 header signature.
constexpr uint8_t kCompoundFileSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};

bool isCompoundFile(ByteSpan head) {
    return head.size() >= 8 && std::equal(head.begin(), head.begin() + 8, kCompoundFileSignature);
}

// An Internet message: bytes that are no compound file and start with a
// header field.
bool isInternetMessage(ByteSpan head) { return !isCompoundFile(head) && mime::looksLikeInternetMessage(head); }

// A file named .eml that holds neither kind of message: its reason in the
// words of what it was meant to be (not the compound file's "bad
// signature"). An Outlook message file named .eml still reads as one.
std::optional<Error> notAnInternetMessage(const std::string& path, ByteSpan head, uint64_t size) {
    const bool eml = path.size() >= 4 && text::asciiLower(std::string_view(path).substr(path.size() - 4)) == ".eml";
    if (!eml || isCompoundFile(head) || mime::looksLikeInternetMessage(head)) return std::nullopt;
    const bool utf16 = head.size() >= 2 && ((head[0] == 0xFF && head[1] == 0xFE) || (head[0] == 0xFE && head[1] == 0xFF));
    const char* why = size == 0 ? "the file is empty"
                      : utf16   ? "the file is text in UTF-16, and Internet messages are 8-bit text"
                                : "the file does not begin with header fields";
    return Error(err::kCorrupt, std::string("not an Internet message: ") + why);
}

Result<Message> readOnDemand(const fs::InputFile& in) {
    const uint64_t size = in.size();
    // What InputFile::readAll refuses, refused alike.
    if (size > (uint64_t(1) << 32) || size > SIZE_MAX) return Error(err::kTooBig, "The file " + in.path() + " is too large.");
    // Zeroed without being touched (calloc of a large block takes fresh
    // pages from the system), and filled in a page at a time as the reader
    // looks at it.
    std::unique_ptr<uint8_t, decltype(&std::free)> image(static_cast<uint8_t*>(std::calloc(static_cast<size_t>(size), 1)),
                                                         &std::free);
    if (!image) throw std::bad_alloc();
    constexpr uint64_t kPage = 4096;
    std::vector<uint64_t> loaded(static_cast<size_t>(size / kPage / 64 + 1), 0);
    auto isLoaded = [&](uint64_t p) { return (loaded[p / 64] >> (p % 64)) & 1; };
    auto lazy = std::make_shared<cfb::LazyFile>();
    lazy->load = [&](uint64_t offset, uint64_t n) -> Status {
        const uint64_t end = std::min(offset + n, size);
        for (uint64_t p = offset / kPage; p * kPage < end;) {
            if (isLoaded(p)) {
                ++p;
                continue;
            }
            uint64_t q = p;
            while (q * kPage < end && !isLoaded(q)) ++q;
            const uint64_t b = p * kPage, e = std::min(q * kPage, size);
            if (auto s = in.readAt(b, std::span<uint8_t>(image.get() + b, static_cast<size_t>(e - b))); !s) return s;
            for (uint64_t k = p; k < q; ++k) loaded[k / 64] |= uint64_t(1) << (k % 64);
            p = q;
        }
        return {};
    };
    lazy->readAt = [&](uint64_t offset, std::span<uint8_t> out) { return in.readAt(offset, out); };
    return oxmsg::readMsg(ByteSpan(image.get(), static_cast<size_t>(size)), lazy);
}

}  // namespace

Result<MessageFileBytes> readMessageBytes(const std::string& path, const std::function<bool(uint64_t)>& admit,
                                          MessageFileBytes* reuse) {
    try {
        // As oxmsg::readMsgFile (InputFile::readAll, then readMsg), in two
        // steps, and large files on demand.
        auto f = fs::InputFile::open(path);
        if (!f) return std::move(f).error();
        if (admit && !admit(f->size())) return Error(err::kCancelled, "The file " + path + " was not read.");
        MessageFileBytes out;
        out.path = path;
        if (f->size() > kReadWhole) {
            // The digest from the file in pieces; the message is read on
            // demand later.
            Sha256 h;
            std::vector<uint8_t> chunk(size_t(1) << 20);
            for (uint64_t at = 0; at < f->size(); at += chunk.size()) {
                const size_t n = static_cast<size_t>(std::min<uint64_t>(chunk.size(), f->size() - at));
                if (auto s = f->readAt(at, std::span<uint8_t>(chunk.data(), n)); !s) return std::move(s).take();
                h.update(ByteSpan(chunk.data(), n));
            }
            out.digest = h.finish();
            out.large = std::make_shared<const fs::InputFile>(std::move(*f));
            return out;
        }
        // Read into a buffer that is not zeroed first.
        out.size = static_cast<size_t>(f->size());
        if (reuse && reuse->bytes && reuse->capacity >= out.size) {
            out.bytes = std::move(reuse->bytes);
            out.capacity = reuse->capacity;
        } else {
            out.capacity = std::max<size_t>(out.size, 1);
            out.bytes.reset(new uint8_t[out.capacity]);
        }
        if (auto s = f->readAt(0, std::span<uint8_t>(out.bytes.get(), out.size)); !s) return std::move(s).take();
        out.digest = sha256(ByteSpan(out.bytes.get(), out.size));
        return out;
    } catch (const std::bad_alloc&) {
        return Error(err::kNoMemory, "There is not enough memory to read the file " + path + ".");
    }
}

Result<Message> parseMessageBytes(Result<MessageFileBytes> read, MessageFileBytes* spent) {
    if (!read) return std::move(read).error();
    try {
        Result<Message> m = Error(err::kCallFailed, "not read");
        if (read->large) {
            // Read on demand only as a compound file; an Internet message
            // is read whole.
            const fs::InputFile& in = *read->large;
            uint8_t head[1024];
            const size_t n = static_cast<size_t>(std::min<uint64_t>(sizeof head, in.size()));
            if (auto s = in.readAt(0, std::span<uint8_t>(head, n)); !s) return std::move(s).take();
            if (auto e = notAnInternetMessage(read->path, ByteSpan(head, n), in.size())) return std::move(*e);
            if (!isInternetMessage(ByteSpan(head, n))) {
                m = readOnDemand(in);
            } else {
                auto all = in.readAll();
                if (!all) return std::move(all).error();
                m = mime::readInternetMessage(*all);
            }
        } else {
            const ByteSpan bytes(read->bytes.get(), read->size);
            if (auto e = notAnInternetMessage(read->path, bytes.first(std::min<size_t>(bytes.size(), 1024)), bytes.size()))
                return std::move(*e);
            m = parseMessage(bytes);
        }
        if (m) setSourceDigest(*m, read->digest);
        if (spent && !read->large) *spent = std::move(*read);
        return m;
    } catch (const std::bad_alloc&) {
        return Error(err::kNoMemory, "There is not enough memory to read the file " + read->path + ".");
    }
}

bool isInternetMail(const MessageFileBytes& read) {
    return !read.large && isInternetMessage(ByteSpan(read.bytes.get(), std::min<size_t>(read.size, 1024)));
}

Result<Message> readMessageFile(const std::string& path, const std::function<bool(uint64_t)>& admit) {
    return parseMessageBytes(readMessageBytes(path, admit));
}

Result<Message> parseMessage(ByteSpan bytes) {
    if (isInternetMessage(bytes.first(std::min<size_t>(bytes.size(), 1024)))) return mime::readInternetMessage(bytes);
    return oxmsg::readMsg(bytes);
}

Result<Bytes> writeStorageAsCompoundFile(const StorageEntry& storage) {
    return cfb::writeCompoundFile(storage);
}

}  // namespace tavrin::store
