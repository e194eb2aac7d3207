// A new PST message store being written ([MS-PST] 2.4, 2.6, 2.7).
//
// Creating the writer sets up what Outlook puts in a new file: the message
// store, the root folder with the top of the visible folder tree, the
// search root, Deleted Items, IPM_COMMON_VIEWS and the spam search folder.
// Folders are kept in memory until finish(); messages are written as they
// are added, and what they leave for later (their rows in the folder's
// contents table and their node entries) goes to a scratch file, so memory
// does not grow with the number of messages. finish() writes the folders,
// their tables (a table without rows shares the template's block, as in
// Outlook's files), the store and the name-to-id map, the node B-tree and
// the header.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fs/file_io.h"
#include "fs/result.h"
#include "store/core/message.h"
#include "store/pst/messaging/message_store.h"
#include "store/pst/messaging/message_writer.h"
#include "store/pst/messaging/name_map_writer.h"
#include "store/pst/messaging/spill.h"
#include "store/pst/ndb/ndb_writer.h"

namespace tavrin::pst::messaging {

struct StoreOptions {
    std::string displayName;                        // UTF-8
    uint64_t now = 0;                               // FILETIME
    std::function<void(uint8_t*, size_t)> random;   // record keys, search keys
    StorageWriter storage;                          // OLE attachments as compound files
    ndb::NdbOptions ndb;
    // Keep the keys of every message added, for containsMessage(): a run
    // that adds, and so skips duplicates, needs them; a plain conversion of
    // a million messages would only hold them in memory.
    bool trackMessages = true;
};

class PstWriter final : public FolderTreeStore {
public:
    // `out` receives the PST, `scratch` the spill; both must stay alive.
    static Result<std::unique_ptr<PstWriter>> create(fs::FileSink& out, fs::FileSink& scratch, StoreOptions options);
    ~PstWriter() override;

    const std::string& displayName() const override { return opt_.displayName; }
    Result<uint32_t> addFolder(uint32_t parent, const std::string& name, const std::string& containerClass) override;
    // Creates the standard folders Outlook's new-store set-up creates and
    // records them as the store's default folders. Safe to call again.
    Status validateIpmTree() override;

    Result<uint32_t> addMessage(uint32_t folder, store::Message&& message) override;
    // The same from a message the caller keeps (written from a copy).
    Result<uint32_t> addMessage(uint32_t folder, const store::Message& message);
    // In a new file: the messages added to the folder so far (none unless
    // StoreOptions::trackMessages).
    Result<bool> containsMessage(uint32_t folder, const MessageKeys& keys) override;

    Status finish() override;

    const Error& error() const override { return failure_; }
    uint64_t messageCount() const { return messages_; }
    // An upper estimate of the file's size were it completed now: what is
    // allocated so far, and what finish() would add (the folders' tables
    // with the rows waiting in the scratch file, the node and block B-trees,
    // the store and name map). A caller that keeps a file under a size cap
    // compares it, plus what the next message needs, with the cap.
    uint64_t projectedSize() const override;

private:
    PstWriter(fs::FileSink& out, fs::FileSink& scratch, StoreOptions options);
    Status check() const;
    Status fail(Error e);
    uint32_t createFolder(uint32_t parent, FolderRole role, const std::string& name, const std::string& cls,
                          std::optional<std::string> comment, bool hiddenCounts, uint8_t type = 0x02);
    std::vector<store::Property> folderProperties(const FolderInfo& f) const;
    Status writeFolders(std::vector<ndb::NodeEntry>& nodes);
    Status writeContentsTable(const FolderInfo& f, uint64_t& bid, uint64_t& sub);
    Status writeStore(std::vector<ndb::NodeEntry>& nodes);
    Result<uint64_t> writePc(const std::vector<store::Property>& props, uint64_t& bidSub);

    fs::FileSink& out_;
    StoreOptions opt_;
    std::unique_ptr<ndb::NdbWriter> ndb_;
    SpillFile spill_;
    uint32_t nodeStream_ = 0;
    NameMapWriter names_;
    Counters counters_;
    store::Guid replicaGuid_;
    std::map<uint32_t, DuplicateIndex> present_;
    // A folder's contents table: the template's columns, then those that
    // let a folder's duplicate index be read from its rows.
    std::vector<uint32_t> contentsColumns_;
    uint64_t messages_ = 0;
    bool finished_ = false;
    Error failure_;
};

}  // namespace tavrin::pst::messaging
