#include "store/message_files.h"

#include "store/msg/cfb/cfb_writer.h"
#include "store/msg/oxmsg/msg_reader.h"

namespace tavrin::store {

Result<Message> readMessageFile(const std::string& path) {
    return oxmsg::readMsgFile(path);
}

Result<Bytes> writeStorageAsCompoundFile(const StorageEntry& storage) {
    return cfb::writeCompoundFile(storage);
}

}  // namespace tavrin::store
