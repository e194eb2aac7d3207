// What the store operations need of the message file layer: reading a
// message file (opened read-only) into the shared model, and writing an OLE
// attachment's storage back out as a compound file.
//
// A message file is read as what its bytes are, whatever its name: a
// compound file as an Outlook message file ([MS-OXMSG], .msg), bytes that
// start with a header field as an Internet message (RFC 5322/MIME, .eml;
// see store/mime/internet_mail.h). Anything else fails as a damaged
// Outlook message file does. An mbox file holds many messages: MboxReader
// gives them one at a time.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "fs/file_io.h"
#include "fs/result.h"
#include "store/core/message.h"
#include "store/core/source_digest.h"
#include "store/mime/internet_mail.h"

namespace tavrin::store {

// A message file read and not yet parsed: its bytes, or, for a file over
// 16 MiB, the open file, read on demand while it is parsed (so that a huge
// attachment is in memory once, not twice).
struct MessageFileBytes {
    std::string path;
    std::unique_ptr<uint8_t[]> bytes;
    size_t size = 0;      // of the file
    size_t capacity = 0;  // of `bytes`
    std::shared_ptr<const fs::InputFile> large;
    // SHA-256 of the file's bytes, taken while it is read.
    std::array<uint8_t, 32> digest{};
};


// Reads a message file in two steps, which may run on different threads
// (the message carries the digest of the file's bytes, see
// store/core/source_digest.h):
// readMessageBytes, then parseMessageBytes. With `admit`, the file's size
// is passed to it once the file is open and before its bytes are read: it
// may wait (a reader that keeps within a memory budget), or refuse, and
// then nothing is read and the result is err::kCancelled. Running out of
// memory is a failure (err::kNoMemory), never an exception.
// `reuse` lends a buffer of an earlier read (so that a reader on another
// thread need not allocate one for every file); parseMessageBytes gives it
// back in `spent` when it is given one.
Result<MessageFileBytes> readMessageBytes(const std::string& path, const std::function<bool(uint64_t)>& admit = {},
                                          MessageFileBytes* reuse = nullptr);
Result<Message> parseMessageBytes(Result<MessageFileBytes> read, MessageFileBytes* spent = nullptr);
// True when the bytes read are in memory and are an Internet message.
bool isInternetMail(const MessageFileBytes& read);
// Both steps at once.
Result<Message> readMessageFile(const std::string& path, const std::function<bool(uint64_t)>& admit = {});
// A message file's bytes already in memory, read as what they are.
Result<Message> parseMessage(ByteSpan bytes);

// The messages of an mbox file (see store/mime/internet_mail.h):
//   auto r = MboxReader::open(path);
//   while (auto m = r->nextMessage(); m && *m)  // (ordinal, message or failure)
using MboxReader = mime::MboxReader;
Result<Bytes> writeStorageAsCompoundFile(const StorageEntry& storage);

}  // namespace tavrin::store
