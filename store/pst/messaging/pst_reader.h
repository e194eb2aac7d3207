// Reading a PST's messaging layer ([MS-PST] 2.4) into the shared message
// model: the message store, the name-to-id map, folders with their
// hierarchy, contents and FAI contents tables, and messages with their
// recipients, attachments and embedded messages.
//
// Typical use:
//   auto pst = PstReader::open(path);                 // header, store, name map
//   auto tree = pst->folderTree(pst->ipmSubtree());   // folders below the IPM subtree
//   for (auto& f : *tree) for (uint32_t nid : f.folder.messages) pst->readMessage(nid);
//
// Named properties (ids 0x8000 and above) carry their name from the
// store's name-to-id map in Property::name. A PT_OBJECT attachment becomes
// Attachment::embedded (afEmbeddedMessage) or, when ReadOptions can decode
// compound files, Attachment::storage (afStorage); without a decoder the
// storage's compound file bytes stay in the PT_OBJECT property's data.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "fs/result.h"
#include "store/core/message.h"
#include "store/pst/ltp/property_reader.h"
#include "store/pst/messaging/name_map_reader.h"
#include "store/pst/ndb/database_reader.h"

namespace tavrin::pst::messaging {

struct ReadOptions {
    ndb::ReadLimits limits;
    // Decodes an OLE attachment's compound file into a storage tree.
    Result<store::StorageEntry> (*decodeStorage)(ByteSpan compoundFile) = nullptr;
    // Deepest chain of embedded messages read.
    uint32_t maxEmbeddingDepth = 32;
};

struct Folder {
    uint32_t nid = 0;
    uint32_t parentNid = 0;          // from the NBT
    store::PropertyBag props;
    std::vector<uint32_t> subfolders;   // row ids of the hierarchy table
    std::vector<uint32_t> messages;     // row ids of the contents table
    std::vector<uint32_t> associated;   // row ids of the FAI contents table

    std::string displayName() const;    // UTF-8
};

struct FolderTreeEntry {
    Folder folder;
    std::string path;   // below the tree's top, components joined by "/"; "" for the top
    uint32_t depth = 0;
};

// The NIDs of a folder's tables ([MS-PST] 2.4.4: same nidIndex).
constexpr uint32_t hierarchyTableNid(uint32_t folderNid) { return ndb::makeNid(ndb::NID_TYPE_HIERARCHY_TABLE, ndb::nidIndex(folderNid)); }
constexpr uint32_t contentsTableNid(uint32_t folderNid) { return ndb::makeNid(ndb::NID_TYPE_CONTENTS_TABLE, ndb::nidIndex(folderNid)); }
constexpr uint32_t assocContentsTableNid(uint32_t folderNid) { return ndb::makeNid(ndb::NID_TYPE_ASSOC_CONTENTS_TABLE, ndb::nidIndex(folderNid)); }

class PstReader {
public:
    static Result<std::unique_ptr<PstReader>> open(const std::string& path, const ReadOptions& options = {});
    static Result<std::unique_ptr<PstReader>> open(std::unique_ptr<ndb::ByteSource> source, const ReadOptions& options = {});

    const ndb::NodeDatabase& database() const { return *db_; }
    const ndb::Header& header() const { return db_->header(); }
    const NameMap& nameMap() const { return names_; }
    // The message store's properties (NID_MESSAGE_STORE).
    const store::PropertyBag& storeProperties() const { return storeProps_; }
    // The store's PidTagRecordKey, the uid of its EntryIDs.
    const store::Guid& storeRecordKey() const { return recordKey_; }
    // The top of the visible folder tree: the folder PidTagIpmSubTreeEntryId
    // names, else the root folder.
    uint32_t ipmSubtree() const { return ipmSubtree_; }

    // A node's properties with named properties resolved.
    Result<store::PropertyBag> readProperties(const ndb::Node& node) const;
    // Resolves the names of the named properties in a list.
    void nameProperties(std::vector<store::Property>& props) const;

    Result<Folder> folder(uint32_t nid) const;
    // `top` and every folder below it through the hierarchy tables,
    // depth-first in table order. A folder reached twice is an error.
    Result<std::vector<FolderTreeEntry>> folderTree(uint32_t top) const;

    // A message (NORMAL_MESSAGE or ASSOC_MESSAGE node) with recipients and
    // attachments.
    Result<store::Message> readMessage(uint32_t nid) const;
    // A message held by any node or subnode (embedded messages).
    Result<store::Message> readMessage(const ndb::Node& node, uint32_t depth = 0) const;

private:
    PstReader() = default;
    Result<std::vector<uint32_t>> tableRowIds(uint32_t tableNid) const;
    Status readAttachments(const ndb::Node& msgNode, store::Message& m, uint32_t depth) const;

    std::unique_ptr<ndb::NodeDatabase> db_;
    ReadOptions options_;
    NameMap names_;
    store::PropertyBag storeProps_;
    store::Guid recordKey_;
    uint32_t ipmSubtree_ = ndb::NID_ROOT_FOLDER;
};

}  // namespace tavrin::pst::messaging
