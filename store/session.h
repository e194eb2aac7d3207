// The message store operations the conversion engine calls.
//
// The object model follows the Redemption library that a MAPI-based program
// would drive: a session logs on to a new personal folder store, the store
// has folders, a folder has sub-folders and items, an item imports a message
// file and is saved. Here the store is our own .pst writer and Import is our
// own .msg reader, behind the same operations.
//
// Every operation can fail. A failure is a tavrin::Error: a non-zero number
// and a description. A failed GetFolderFromPath says
// Folder "NAME" does not exist, and carries NAME, the first component that
// is missing, as the error's name.
//
// Folder paths are "\\" + store display name + "\" + components joined by
// "\"; a trailing "\" is allowed, and a path without components is the top
// of the visible folder tree (IPMRootFolder).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "fs/result.h"
#include "store/core/bytes.h"
#include "store/core/message.h"
#include "store/core/props.h"

namespace tavrin::store {

class PstSessionImpl;  // the implementation behind the objects below
class FolderImpl;
class ItemImpl;

using EntryId = Bytes;  // [MS-PST] 2.4.3.2: flags(4) + store uid(16) + nid(4)

// Default folder kinds of GetDefaultFolder (Outlook's OlDefaultFolders).
inline constexpr int olFolderDeletedItems = 3;
inline constexpr int olFolderOutbox = 4;
inline constexpr int olFolderSentMail = 5;
inline constexpr int olFolderInbox = 6;
inline constexpr int olFolderCalendar = 9;
inline constexpr int olFolderContacts = 10;
inline constexpr int olFolderJournal = 11;
inline constexpr int olFolderNotes = 12;
inline constexpr int olFolderTasks = 13;
inline constexpr int olFolderDrafts = 16;
inline constexpr int olFolderJunk = 23;
inline constexpr int olFolderRssFeeds = 25;
// Folders.Add kind: a mail folder (container class IPF.Note).
inline constexpr int olFolderMail = 6;
// LogonPstStore format: a Unicode PST.
inline constexpr int olStoreUnicode = 1;
// Import format: an Outlook message file with Unicode strings.
inline constexpr int olMSGUnicode = 3;

class RDOFolder;
class RDOMail;

// A folder's child folders.
class RDOFolders {
public:
    explicit RDOFolders(std::shared_ptr<FolderImpl> parent) : parent_(std::move(parent)) {}
    // The children, in creation order.
    std::vector<std::shared_ptr<RDOFolder>> items() const;
    size_t Count() const;
    // Adds a child folder. A name that already exists among the children
    // fails (err::kCollision) and leaves that folder unchanged.
    Result<std::shared_ptr<RDOFolder>> Add(const std::string& name, int kind = olFolderMail);

private:
    std::shared_ptr<FolderImpl> parent_;
};

// A folder's items.
class RDOItems {
public:
    explicit RDOItems(std::shared_ptr<FolderImpl> folder) : folder_(std::move(folder)) {}
    // A new, empty, unsaved item in the folder (kind 0: a mail item).
    Result<std::shared_ptr<RDOMail>> Add(int kind = 0);

private:
    std::shared_ptr<FolderImpl> folder_;
};

class RDOFolder {
public:
    explicit RDOFolder(std::shared_ptr<FolderImpl> impl) : impl_(std::move(impl)) {}
    std::string Name() const;
    RDOFolders Folders() const { return RDOFolders(impl_); }
    RDOItems Items() const { return RDOItems(impl_); }
    EntryId EntryID() const;
    const std::shared_ptr<FolderImpl>& impl() const { return impl_; }

private:
    std::shared_ptr<FolderImpl> impl_;
};

// The handle HrSetOneProp takes (an item's MAPIOBJECT).
struct MapiObject {
    std::shared_ptr<ItemImpl> item;
};

class RDOMail {
public:
    explicit RDOMail(std::shared_ptr<ItemImpl> impl) : impl_(std::move(impl)) {}
    // Reads the message file (opened read-only) into the item: every
    // property, recipients, attachments and embedded messages. Replaces
    // what the item held. A damaged file whose compound file is sound is
    // salvaged: what can be read is imported, the call succeeds and
    // Warnings() says what was left out. A file that is not a message, or
    // whose compound file structure cannot be read, fails.
    Status Import(const std::string& path, int format = olMSGUnicode);
    // The same with the file already read (by a MessageReadAhead, or by
    // readMessageFile): what reading it gave, the message or the failure,
    // goes into the item exactly as Import(path) would have put it.
    Status Import(Result<Message> read, int format = olMSGUnicode);
    // The same from a message already in memory (tools and tests); its
    // Message::warnings become Warnings().
    Status ImportMessage(Message message);
    // What the last Import or ImportMessage left out of the message, one
    // line each ("attachment 2: no property stream"); empty when it read
    // the message whole or failed. Kept after Save.
    const std::vector<std::string>& Warnings() const;
    // Whether the item's folder already holds this message: one made from
    // a source file with the same bytes (Import records a digest of them
    // in every message), or with the same Internet message id and submit
    // time, or, for a message without both, the same search key. Built
    // from the folder's messages once, then kept up to date.
    Result<bool> IsAlreadyPresent() const;
    // After Save: whether the item was not written because its folder
    // already held it (adding to an existing file without
    // LogonOptions::addDuplicates).
    bool WasAlreadyPresent() const;
    MapiObject MAPIOBJECT() const { return MapiObject{impl_}; }
    // Number of attachments the item holds now.
    int AttachmentCount() const;
    // The subject the item holds now, UTF-8 (empty when it has none).
    std::string Subject() const;
    // An upper estimate of the bytes Save would add to the file (with the
    // item's row in its folder's table). 0 once saved.
    uint64_t EstimatedSize() const;
    // Commits the item into its folder: the message is written to the file
    // now, its row goes into the folder's contents table and the folder's
    // counts are updated. An item that is never saved is discarded and
    // leaves no trace in the file. Saving again without a change does
    // nothing; a saved item can no longer be changed.
    Status Save();

private:
    std::shared_ptr<ItemImpl> impl_;
};

class RDOStore {
public:
    explicit RDOStore(std::shared_ptr<PstSessionImpl> impl) : impl_(std::move(impl)) {}
    EntryId EntryID() const;
    std::string DisplayName() const;
    // Creates the standard folders (Inbox, Outbox, Sent Items, Deleted Items,
    // Calendar, Contacts, Journal, Notes, Tasks, Drafts, ...) when missing
    // and records them as the store's default folders.
    Status ValidateIPMTree();
    Result<std::shared_ptr<RDOFolder>> GetDefaultFolder(int kind);
    // The top of the visible folder tree.
    Result<std::shared_ptr<RDOFolder>> IPMRootFolder();
    // An upper estimate of the file's size in bytes were it completed now
    // (0 when the store is not open). A caller that keeps files under a
    // size cap starts a new file when this plus the next item's
    // EstimatedSize() would pass the cap.
    uint64_t ProjectedSize() const;

private:
    std::shared_ptr<PstSessionImpl> impl_;
};

class RDOSession;

class RDOStores {
public:
    explicit RDOStores(RDOSession* session) : session_(session) {}
    Result<std::shared_ptr<RDOStore>> GetStoreFromID(const EntryId& id);

private:
    RDOSession* session_;
};

struct LogonOptions {
    // Replace an existing file at the path. The replacement happens only at
    // Logoff, atomically; until then and on any failure the old file stays.
    bool replaceExisting = false;
    // Add to the file at the path when there is one (a new file is created
    // when there is none). The file is changed in place and stays a valid
    // store whatever happens: what was added appears whole at Logoff, and
    // a failure, an abandoned session or a killed process leaves it as it
    // was. The store keeps its own display name (DisplayName()), and
    // folder paths may use it or the name given to LogonPstStore.
    bool addToExisting = false;
    // When adding: save messages the folder already holds too (see
    // RDOMail::IsAlreadyPresent). By default Save skips them.
    bool addDuplicates = false;
};

// Why LogonPstStore does not add to an existing file (Error::number); the
// file is left exactly as it was. A file another program holds open fails
// with err::kFileInUse.
namespace refusal {
inline constexpr int32_t kAnsiFile = static_cast<int32_t>(0x8004F101u);    // an Outlook 97-2002 (ANSI) file
inline constexpr int32_t kLargePages = static_cast<int32_t>(0x8004F102u);  // a file of 4 KB pages
inline constexpr int32_t kPassword = static_cast<int32_t>(0x8004F103u);    // a store with a password
inline constexpr int32_t kDamaged = static_cast<int32_t>(0x8004F104u);     // findings where the change would write
inline constexpr int32_t kNotAStore = static_cast<int32_t>(0x8004F105u);   // not a personal folder file
}  // namespace refusal

class RDOSession {
public:
    RDOSession();
    ~RDOSession();
    RDOSession(const RDOSession&) = delete;
    RDOSession& operator=(const RDOSession&) = delete;

    // Creates a new store file at `path` (written under a temporary name
    // beside it until Logoff) named `displayName`. An existing file at the
    // path fails with "The file PATH already exists." unless
    // options.replaceExisting or options.addToExisting is set. Adding is
    // refused (the file untouched) for a file another program has open, an
    // ANSI file, a file of 4 KB pages, a store with a password and a file
    // with findings in what the change would write; see `refusal`.
    Result<std::shared_ptr<RDOStore>> LogonPstStore(const std::string& path, int format,
                                                    const std::string& displayName,
                                                    LogonOptions options = {});
    Result<std::shared_ptr<RDOStore>> GetStoreFromID(const EntryId& id);
    RDOStores& Stores() { return stores_; }
    // Looks a folder up by its path (see the top of this file).
    Result<std::shared_ptr<RDOFolder>> GetFolderFromPath(const std::string& path);
    // The same, by store display name and components, never splitting a
    // component that contains "\".
    Result<std::shared_ptr<RDOFolder>> GetFolderFromComponents(const std::string& storeDisplayName,
                                                               const std::vector<std::string>& components);
    // Whether the file can still be completed. A write that failed (a full
    // disk, an I/O error), or a target folder that was removed or renamed,
    // is returned here, and every later operation and Logoff fail with it.
    // Cheap enough to ask after every item, so that a conversion stops at
    // once instead of at the end: a write failure is seen at the next call,
    // a removed folder within a tenth of a second (the folder is looked at
    // no more often than that).
    Status CheckOutput();
    // Completes the file (tables, B-trees, maps, header last) and gives it
    // its final name. After a failure nothing of it is left behind.
    Status Logoff();

private:
    std::shared_ptr<PstSessionImpl> impl_;
    RDOStores stores_;
};

// HrSetOneProp's value.
class MAPIUtils {
public:
    // Sets one property on the object; with `save` true the item is then
    // saved at once, as RDOMail::Save does. The store keeps what it owns:
    // setting PR_MESSAGE_FLAGS keeps the has-attachment bit that the item's
    // attachments give.
    Status HrSetOneProp(const MapiObject& object, uint32_t tag, int32_t value, bool save);
    Status HrSetOneProp(const MapiObject& object, const Property& value, bool save);
};

}  // namespace tavrin::store
