// [MS-OXMSG] Outlook message file reader: a .msg compound file into the
// shared property-bag model (store::Message).
//
// What it reads:
//   - the property streams of the message (32-byte header), of embedded
//     messages (24) and of recipients and attachments (8): fixed-size
//     values from the stream, variable-size ones (PT_UNICODE, PT_STRING8,
//     PT_BINARY, PT_CLSID, PT_SVREID, ...) from their __substg1.0_ streams,
//     multi-valued fixed and variable properties;
//   - __substg1.0_ streams without an entry in the property stream (some
//     writers leave the entry out): kept, with flags 0;
//   - named properties resolved through __nameid_version1.0 into
//     Property::name (GUID and numeric id or string name);
//   - recipients and attachments in the order of their storage numbers;
//   - attachments' by-value data (PR_ATTACH_DATA_BIN), embedded messages
//     (recursively, up to kMaxEmbeddingDepth) and OLE storages (afStorage),
//     kept whole as a StorageEntry tree.
// Strings are kept as stored (PT_STRING8 bytes in the message's code page)
// without their trailing NULs.
//
// Damage inside a sound compound file is salvaged: a value, recipient or
// attachment that cannot be read is left out and named in
// Message::warnings ("attachment 2: no property stream", "property
// 0x0037001F: the value stream is missing (24 bytes)"). A file that is not a
// compound file, whose compound file structure cannot be read, that holds
// no message, or whose embedded messages nest too deep gives err::kCorrupt
// with a description. Nothing is allocated beyond what the file holds.
#pragma once

#include <memory>
#include <string>

#include "fs/result.h"
#include "store/core/bytes.h"
#include "store/core/message.h"
#include "store/msg/cfb/compound_file.h"

namespace tavrin::store::oxmsg {

// Embedded messages deeper than this are refused.
inline constexpr int kMaxEmbeddingDepth = 32;

// Reads a message from the bytes of a .msg file. Pure: no I/O, safe on any
// input. With `lazy`, `file` is an image of a large file that is filled in
// on demand (see cfb::LazyFile).
Result<Message> readMsg(ByteSpan file, std::shared_ptr<const cfb::LazyFile> lazy = nullptr);
// Reads a .msg file, opened read-only.
Result<Message> readMsgFile(const std::string& path);

}  // namespace tavrin::store::oxmsg
