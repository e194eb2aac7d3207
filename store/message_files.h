// What the store operations need of the message file layer: reading a
// .msg file (opened read-only) into the shared model, and writing an OLE
// attachment's storage back out as a compound file.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "fs/result.h"
#include "store/core/message.h"

namespace tavrin::store {

// Reads a message file. With `admit`, the file's size is passed to it once
// the file is open and before its bytes are read: it may wait (a reader
// that keeps within a memory budget), or refuse, and then nothing is read
// and the result is err::kCancelled. Running out of memory is a failure
// (err::kNoMemory), never an exception.
Result<Message> readMessageFile(const std::string& path, const std::function<bool(uint64_t)>& admit = {});
Result<Bytes> writeStorageAsCompoundFile(const StorageEntry& storage);

}  // namespace tavrin::store
