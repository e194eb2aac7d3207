// An existing Unicode PST that messages and folders are added to
// ([MS-PST] 2.4, 2.6.3), Outlook's or ours.
//
// Opening reads the store as it is: its record key and name, the folder
// tree through the hierarchy tables, the default folders through the
// store's own entries (the store's PidTagIpm*EntryId values, the receive
// folder table for the Inbox, the root folder's PidTagIpm*EntryId values for
// the rest, since folder names are localised), the name-to-id map, the
// search domain object.
//
// Adding writes each message at once, into free space (ndb::NdbUpdater);
// its contents-table row, carrying every column the folder's table has,
// waits in a scratch file. finish() then brings every structure that points
// at what was added up to date, each node changed once and copy-on-write:
// - each folder's contents table (rows appended) and property context
//   (PidTagContentCount, PidTagContentUnreadCount, PidTagSubfolders), and
//   the folder's row in its parent's hierarchy table;
// - new folders: their property context, and their tables sharing the
//   store's template blocks (as Outlook's new folders do) until they get
//   rows; a row in the parent's hierarchy table;
// - the name-to-id map (existing ids kept, new names appended);
// - the search management queue, when the file's search domain object
//   names the folder ([MS-PST] 2.4.8);
// - the store's default-folder entries when validateIpmTree() added
//   standard folders;
// and the node database commits (header last).
//
// Before an existing node is changed, options.checkNode (the strict
// verifier's checks) runs over it: a node with findings is not changed, and
// the operation that wanted to change it fails.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <vector>

#include "fs/update_file.h"
#include "store/pst/ltp/property_reader.h"
#include "store/pst/messaging/message_store.h"
#include "store/pst/messaging/message_writer.h"
#include "store/pst/messaging/name_map_reader.h"
#include "store/pst/messaging/name_map_writer.h"
#include "store/pst/messaging/spill.h"
#include "store/pst/ndb/ndb_update.h"

namespace tavrin::pst::messaging {

struct UpdaterOptions {
    uint64_t now = 0;                               // FILETIME
    std::function<void(uint8_t*, size_t)> random;   // search keys
    StorageWriter storage;                          // OLE attachments as compound files
    ndb::UpdateOptions ndb;
    // Checks an existing node before it is changed; a failure (with what
    // was found) refuses the change.
    std::function<Status(const ndb::NodeDatabase& db, uint32_t nid)> checkNode;
};

class PstUpdater final : public FolderTreeStore {
public:
    // `scratch` receives the rows waiting for finish(); both files must
    // stay alive. Fails, and changes nothing, when the store cannot be read
    // or its store object or name-to-id map have findings.
    static Result<std::unique_ptr<PstUpdater>> open(fs::RandomAccessFile& file, fs::FileSink& scratch,
                                                    UpdaterOptions options);
    ~PstUpdater() override;

    const std::string& displayName() const override { return displayName_; }
    Result<uint32_t> addFolder(uint32_t parent, const std::string& name, const std::string& containerClass) override;
    Status validateIpmTree() override;
    Result<uint32_t> addMessage(uint32_t folder, store::Message&& message) override;
    Result<bool> containsMessage(uint32_t folder, const MessageKeys& keys) override;
    Status finish() override;
    const Error& error() const override { return failure_; }
    uint64_t projectedSize() const override;

    // The store's properties as the file has them.
    const store::PropertyBag& storeProperties() const { return storeProps_; }
    const ndb::NdbUpdater& database() const { return *ndb_; }
    uint64_t messagesAdded() const { return messages_; }
    // Gives everything up: the file is left as it was.
    void abandon();

private:
    PstUpdater(fs::FileSink& scratch, UpdaterOptions options) : opt_(std::move(options)), spill_(scratch) {}

    struct FolderState {
        bool fresh = false;               // added by this change
        bool checked = false;             // its nodes passed options.checkNode
        bool prepared = false;            // contents columns known
        std::vector<uint32_t> columns;    // of its contents table
        std::optional<uint32_t> rows;     // spill stream of its new contents rows
        uint32_t added = 0;               // messages added
        uint32_t addedUnread = 0;
        bool hadChildren = false;         // before this change
        std::vector<uint32_t> newChildren;
        std::optional<DuplicateIndex> index;
        std::shared_ptr<const ltp::TableContext> contents;  // its contents table as the file has it
        std::vector<MessageKeys> pendingKeys;  // added before the index was read
        std::vector<store::Property> pcChanges;  // further properties to set on its PC
    };

    Status fail(Error e);
    Status check() const;
    Status loadFolders();
    Status loadRoles();
    Status checkNodeOnce(uint32_t nid);
    Status checkFolder(uint32_t nid);
    Status prepareFolder(uint32_t nid);
    Status loadIndex(uint32_t nid);
    Result<std::shared_ptr<const ltp::TableContext>> contentsOf(uint32_t nid);
    Result<uint32_t> newNid(uint8_t type, bool folderTables = false);
    uint32_t createFolder(uint32_t parent, FolderRole role, const std::string& name, const std::string& cls,
                          std::optional<std::string> comment, bool hiddenCounts);
    std::vector<store::Property> folderProperties(const FolderInfo& f) const;
    Result<std::pair<uint64_t, uint64_t>> writePc(const std::vector<store::Property>& props);
    Status editPc(uint32_t nid, const std::vector<store::Property>& props);
    Status queueSud(uint16_t type, uint32_t parent, uint32_t child);
    Status writeFolders();
    Status writeDefaultFolderEntries();
    Result<ndb::NodeInfo> tableOf(uint32_t tableNid, uint32_t templateNid);

    UpdaterOptions opt_;
    std::unique_ptr<ndb::NdbUpdater> ndb_;
    SpillFile spill_;
    NameMap existingNames_;
    NameMapWriter names_;
    Counters counters_;
    std::string displayName_;
    store::PropertyBag storeProps_;
    std::map<uint32_t, FolderState> state_;
    std::set<uint32_t> checked_;
    std::set<uint32_t> searchDomain_;      // folders named by the search domain object
    store::Bytes suds_;                    // search update descriptors to queue
    std::vector<FolderRole> recordedRoles_;  // default folders validateIpmTree() added
    std::set<uint32_t> nidsInUse_;         // NIDs this change gave out
    std::set<uint32_t> countsMissing_;     // folders whose PC lacks a count or PidTagSubfolders
    uint64_t messages_ = 0;
    bool finished_ = false;
    Error failure_;
};

}  // namespace tavrin::pst::messaging
