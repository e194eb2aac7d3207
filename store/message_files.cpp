#include "store/message_files.h"

namespace tavrin::store {

Result<Message> readMessageFile(const std::string& path) {
    return Error(err::kNoSupport, "The message file " + path + " cannot be read: no message file reader.");
}

Result<Bytes> writeStorageAsCompoundFile(const StorageEntry&) {
    return Error(err::kNoSupport, "OLE attachments cannot be written: no compound file writer.");
}

}  // namespace tavrin::store
