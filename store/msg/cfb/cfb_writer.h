// Writes a StorageEntry tree as a [MS-CFB] compound file (version 3, 512-byte
// sectors, unless asked for version 4 with 4096-byte sectors): what an
// OLE storage attachment (afStorage) becomes when it must be stored as one
// piece of data again.
//
// Layout: FAT sectors, DIFAT sectors (when more than 109 FAT sectors are
// needed), the directory, the mini FAT, the mini stream (every stream
// shorter than 4096 bytes) and the other streams, each in one run of
// sectors. Each storage's children form a balanced red-black tree in
// [MS-CFB] name order. The output depends only on the tree given.
#pragma once

#include "fs/result.h"
#include "store/core/bytes.h"
#include "store/core/message.h"

namespace tavrin::store::cfb {

// `root` must be a storage; its name is written as "Root Entry" and its CLSID,
// state bits and modification time are kept. Fails (err::kInvalidParameter)
// on a name longer than 31 UTF-16 code units, an empty name, two children of
// one storage whose names are equal as [MS-CFB] compares them, and
// (err::kTooBig) on a stream of 4 GiB or more in version 3.
Result<Bytes> writeCompoundFile(const StorageEntry& root, uint16_t majorVersion = 3);

}  // namespace tavrin::store::cfb
