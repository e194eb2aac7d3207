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
#include "store/pst/messaging/message_writer.h"
#include "store/pst/messaging/name_map_writer.h"
#include "store/pst/messaging/spill.h"
#include "store/pst/ndb/ndb_writer.h"

namespace tavrin::pst::messaging {

// The special folders of a store.
enum class FolderRole {
    None,
    Root,
    IpmSubtree,
    SearchRoot,
    DeletedItems,
    CommonViews,
    Views,
    Inbox,
    Outbox,
    SentItems,
    Calendar,
    Contacts,
    Journal,
    Notes,
    Tasks,
    Drafts,
    JunkEmail,
    RssFeeds,
    SpamSearch,
};

struct FolderInfo {
    uint32_t nid = 0;
    uint32_t parent = 0;
    FolderRole role = FolderRole::None;
    std::string name;            // display name, UTF-8
    std::string containerClass;  // empty: none
    std::optional<std::string> comment;
    bool hiddenCounts = false;   // PidTagPstHiddenCount/Unread, as on folders added by hand
    std::vector<uint32_t> children;  // in creation order
    uint32_t contentCount = 0;
    uint32_t unreadCount = 0;
    uint32_t rowStream = 0;
    std::vector<store::Property> extra;  // further properties of the folder's PC
};

struct StoreOptions {
    std::string displayName;                        // UTF-8
    uint64_t now = 0;                               // FILETIME
    std::function<void(uint8_t*, size_t)> random;   // record keys, search keys
    StorageWriter storage;                          // OLE attachments as compound files
    ndb::NdbOptions ndb;
};

class PstWriter {
public:
    // `out` receives the PST, `scratch` the spill; both must stay alive.
    static Result<std::unique_ptr<PstWriter>> create(fs::FileSink& out, fs::FileSink& scratch, StoreOptions options);
    ~PstWriter();

    const std::string& displayName() const { return opt_.displayName; }
    store::Bytes storeEntryId() const;
    // [MS-PST] 2.4.3.2 EntryID of a folder or message of this store.
    store::Bytes entryId(uint32_t nid) const;
    std::optional<uint32_t> nidFromEntryId(const store::Bytes& id) const;

    const FolderInfo* folder(uint32_t nid) const;
    std::optional<uint32_t> folderByRole(FolderRole role) const;
    // The child of `parent` named `name`: an exact match first, then one
    // that differs only in letter case (Outlook's folder names ignore case).
    std::optional<uint32_t> findChild(uint32_t parent, const std::string& name) const;
    // A new folder. A name an existing child already has (ignoring case, as
    // Outlook does) fails with err::kCollision and changes nothing.
    Result<uint32_t> addFolder(uint32_t parent, const std::string& name, const std::string& containerClass);
    // Creates the standard folders Outlook's new-store set-up creates and
    // records them as the store's default folders. Safe to call again.
    Status validateIpmTree();

    // Writes a message into a folder, taking its values; returns its NID.
    Result<uint32_t> addMessage(uint32_t folder, store::Message&& message);
    // The same from a message the caller keeps (written from a copy).
    Result<uint32_t> addMessage(uint32_t folder, const store::Message& message);

    // Completes the file. Nothing may be added afterwards.
    Status finish();

    // The first failure; once set, every operation fails with it.
    const Error& error() const { return failure_; }
    uint64_t messageCount() const { return messages_; }
    // An upper estimate of the file's size were it completed now: what is
    // allocated so far, and what finish() would add (the folders' tables
    // with the rows waiting in the scratch file, the node and block B-trees,
    // the store and name map). A caller that keeps a file under a size cap
    // compares it, plus what the next message needs, with the cap.
    uint64_t projectedSize() const;

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
    store::Guid recordKey_;
    store::Guid replicaGuid_;
    std::map<uint32_t, FolderInfo> folders_;
    uint64_t messages_ = 0;
    bool finished_ = false;
    Error failure_;
};

// Case folding for folder names: the simple one-to-one mappings of Latin,
// Greek and Cyrillic letters.
std::u16string foldFolderName(std::u16string s);

}  // namespace tavrin::pst::messaging
