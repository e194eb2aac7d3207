// What the store operations drive: a message store being written, either a
// new file (PstWriter) or an existing one messages are added to
// (PstUpdater). Both keep the folder tree in memory and write messages as
// they come; finish() completes the file.
//
// Duplicates: a message counts as already present in a folder when
//   - it was made from a source file with the same content (the digest of
//     the source bytes that every message we write carries, see
//     store/core/source_digest.h), or
//   - it has the same Internet message id and the same submit time, or
//   - when it has not both of those, the same search key.
// The folder's index is built once, from its contents table (and from the
// messages themselves for what the table has no column for), and grows with
// every message added.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <unordered_set>
#include <vector>

#include "fs/result.h"
#include "store/pst/ndb/block_sink.h"
#include "store/core/bytes.h"
#include "store/core/message.h"
#include "store/core/props.h"
#include "store/core/source_digest.h"

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
    std::vector<uint32_t> children;  // in creation (table) order
    uint32_t contentCount = 0;
    uint32_t unreadCount = 0;
    uint32_t rowStream = 0;
    std::vector<store::Property> extra;  // further properties of the folder's PC
};

using store::sourceDigestName;

inline constexpr uint16_t PidTagInternetMessageId = 0x1035;

// What tells one message from another for the duplicate test.
struct MessageKeys {
    std::optional<store::Bytes> sourceDigest;
    std::optional<std::u16string> internetMessageId;
    std::optional<uint64_t> submitTime;
    std::optional<store::Bytes> searchKey;

    // From a message's properties (named ones by name).
    static MessageKeys of(const store::PropertyBag& props);
    bool any() const { return sourceDigest || (internetMessageId && submitTime) || searchKey; }
};

// The keys of a folder's messages.
class DuplicateIndex {
public:
    void add(const MessageKeys& k);
    bool contains(const MessageKeys& k) const;
    size_t size() const { return count_; }

private:
    std::unordered_set<std::string> digests_;
    std::set<std::pair<std::u16string, uint64_t>> ids_;
    std::unordered_set<std::string> searchKeys_;
    size_t count_ = 0;
};

class MessageStore {
public:
    virtual ~MessageStore() = default;

    virtual const std::string& displayName() const = 0;
    virtual store::Bytes storeEntryId() const = 0;
    // [MS-PST] 2.4.3.2 EntryID of a folder or message of this store.
    virtual store::Bytes entryId(uint32_t nid) const = 0;
    virtual std::optional<uint32_t> nidFromEntryId(const store::Bytes& id) const = 0;

    virtual const FolderInfo* folder(uint32_t nid) const = 0;
    virtual std::optional<uint32_t> folderByRole(FolderRole role) const = 0;
    // The child of `parent` named `name`: an exact match first, then one
    // that differs only in letter case (Outlook's folder names ignore case).
    virtual std::optional<uint32_t> findChild(uint32_t parent, const std::string& name) const = 0;
    // A new folder. A name an existing child already has (ignoring case, as
    // Outlook does) fails with err::kCollision and changes nothing.
    virtual Result<uint32_t> addFolder(uint32_t parent, const std::string& name, const std::string& containerClass) = 0;
    // Makes sure the standard folders exist and are recorded as the store's
    // default folders. Safe to call again.
    virtual Status validateIpmTree() = 0;

    // Writes a message into a folder, taking its values; returns its NID.
    virtual Result<uint32_t> addMessage(uint32_t folder, store::Message&& message) = 0;
    // Whether the folder already holds a message with these keys.
    virtual Result<bool> containsMessage(uint32_t folder, const MessageKeys& keys) = 0;

    // Completes the file. Nothing may be added afterwards.
    virtual Status finish() = 0;
    // The first failure; once set, every operation fails with it.
    virtual const Error& error() const = 0;
    // An upper estimate of the file's size were it completed now.
    virtual uint64_t projectedSize() const = 0;
};

// A store's folder tree and record key, which a new file and a file added
// to keep alike: entry ids, and folders by NID, by role and by name.
class FolderTreeStore : public MessageStore {
public:
    store::Bytes storeEntryId() const final;
    store::Bytes entryId(uint32_t nid) const final;
    std::optional<uint32_t> nidFromEntryId(const store::Bytes& id) const final;
    const FolderInfo* folder(uint32_t nid) const final;
    std::optional<uint32_t> folderByRole(FolderRole role) const final;
    std::optional<uint32_t> findChild(uint32_t parent, const std::string& name) const final;

protected:
    store::Guid recordKey_;
    std::map<uint32_t, FolderInfo> folders_;
};

// A property context written whole into `sink`: its heap blocks, and its
// large values as streams in subnodes with NIDs from `newNid`. Returns the
// BIDs of its data and of its subnodes (0 when it has none).
Result<std::pair<uint64_t, uint64_t>> writePropertyContext(ndb::BlockSink& sink,
                                                          const std::vector<store::Property>& props,
                                                          const std::function<uint32_t()>& newNid);

// Case folding for folder names: the simple one-to-one mappings of Latin,
// Greek and Cyrillic letters.
std::u16string foldFolderName(std::u16string s);

}  // namespace tavrin::pst::messaging
