// What the store operations need of the message file layer: reading a
// .msg file (opened read-only) into the shared model, and writing an OLE
// attachment's storage back out as a compound file.
#pragma once

#include <string>

#include "fs/result.h"
#include "store/core/message.h"

namespace tavrin::store {

Result<Message> readMessageFile(const std::string& path);
Result<Bytes> writeStorageAsCompoundFile(const StorageEntry& storage);

}  // namespace tavrin::store
