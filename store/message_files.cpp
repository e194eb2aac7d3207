#include "store/message_files.h"

#include <new>

#include "fs/file_io.h"
#include "store/msg/cfb/cfb_writer.h"
#include "store/msg/oxmsg/msg_reader.h"

namespace tavrin::store {

Result<Message> readMessageFile(const std::string& path, const std::function<bool(uint64_t)>& admit) {
    try {
        // As oxmsg::readMsgFile, in two steps.
        auto f = fs::InputFile::open(path);
        if (!f) return std::move(f).error();
        if (admit && !admit(f->size())) return Error(err::kCancelled, "The file " + path + " was not read.");
        auto bytes = f->readAll();
        if (!bytes) return std::move(bytes).error();
        return oxmsg::readMsg(*bytes);
    } catch (const std::bad_alloc&) {
        return Error(err::kNoMemory, "There is not enough memory to read the file " + path + ".");
    }
}

Result<Bytes> writeStorageAsCompoundFile(const StorageEntry& storage) {
    return cfb::writeCompoundFile(storage);
}

}  // namespace tavrin::store
