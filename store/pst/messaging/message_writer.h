// Turns a store::Message into a PST message node ([MS-PST] 2.4.5, 2.4.6):
// its property context, the recipient table (subnode 0x692), the
// attachment table (0x671) and attachment objects, embedded messages as
// message subnodes of their attachment, and values too large for a heap in
// subnodes of their own.
//
// What the store owns is computed here rather than copied: the message
// size (the bytes of every external block of the node, subnodes included,
// as Outlook counts it), the attachment size, the has-attachment flag,
// creation and modification times and the search key when absent, the
// tables' row ids. Named properties are remapped into the file's map,
// 8-bit strings become Unicode and an HTML body given as a string becomes
// binary in the message's Internet code page, as Outlook keeps it.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "fs/result.h"
#include "store/core/message.h"
#include "store/pst/messaging/name_map_writer.h"
#include "store/pst/ndb/ndb_writer.h"

namespace tavrin::pst::messaging {

// Counters of the file being written.
struct Counters {
    std::array<uint32_t, 32> rgnid{};  // [MS-PST] 2.2.2.6 rgnid, per NID type
    uint32_t rowVersion = 0;           // PidTagLtpRowVer values
    uint32_t recipientRowId = 0;       // recipient table row ids

    // Allocates the next NID of a type, as Outlook does (pre-increment).
    uint32_t newNid(uint8_t type);
    static Counters forNewFile();
};

// Serialises an OLE attachment's storage as a compound file.
using StorageWriter = std::function<Result<store::Bytes>(const store::StorageEntry&)>;

struct MessageContext {
    ndb::BlockSink& ndb;
    NameMapWriter& names;
    Counters& counters;
    uint64_t now = 0;                                   // FILETIME for absent times
    std::function<void(uint8_t*, size_t)> random;       // search keys
    StorageWriter storage;                              // may be empty: OLE storages are then refused
    uint32_t fallbackCodepage = 1252;
};

struct WrittenMessage {
    uint64_t bidData = 0;
    uint64_t bidSub = 0;
    uint32_t size = 0;   // PidTagMessageSize
    int32_t flags = 0;   // PidTagMessageFlags as written
    // The message's values of the columns asked for, in that order, with
    // their exact tags (missing ones absent).
    std::vector<store::Property> row;
};

// Writes the node of a top-level (or embedded) message, taking the
// message's values. `rowColumns` are the contents-table columns whose values
// the caller wants back.
Result<WrittenMessage> writeMessage(MessageContext& ctx, store::Message&& message,
                                    std::span<const uint32_t> rowColumns);

// Which object a property bag belongs to, for the properties the store
// owns on each.
enum class ObjectKind { Message, Recipient, Attachment };

// The properties of a bag as the Unicode PST keeps them: store-owned ones
// dropped, named ones remapped (or dropped when they have no name or the
// map is full), PT_STRING8 converted to PT_UNICODE, multi-valued values
// encoded ([MS-PST] 2.3.3.4) into `data`; sorted by id, one per id. The
// values' bytes are taken from `bag`.
std::vector<store::Property> convertProperties(store::PropertyBag& bag, ObjectKind kind, uint32_t codepage,
                                               NameMapWriter& names);

// The subject as Outlook stores it: U+0001, U+0001 + prefix length, text.
std::u16string markedSubject(const std::u16string& subject, const std::u16string* prefix);

}  // namespace tavrin::pst::messaging
