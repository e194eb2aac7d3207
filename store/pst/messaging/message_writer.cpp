#include "store/pst/messaging/message_writer.h"

#include <algorithm>
#include <bitset>
#include <map>
#include <optional>

#include "fs/text.h"
#include "store/core/codepage.h"
#include "store/core/md5.h"
#include "store/core/tags.h"
#include "store/core/upper_case.h"
#include "store/pst/ltp/pc_writer.h"
#include "store/pst/ltp/tc_writer.h"
#include "store/pst/messaging/records.h"
#include "store/pst/messaging/string8.h"
#include "store/pst/messaging/templates.h"

namespace tavrin::pst::messaging {

using store::Bytes;
using store::ByteSpan;
using store::Property;
using store::PropertyBag;
namespace t = store::tags;

uint32_t Counters::newNid(uint8_t type) {
    uint32_t& c = rgnid[type & 0x1F];
    ++c;
    return ndb::makeNid(type, c);
}

Counters Counters::forNewFile() {
    // [MS-PST] 2.2.2.6: the NID counters of a new file.
    Counters c;
    c.rgnid.fill(0x400);
    c.rgnid[ndb::NID_TYPE_SEARCH_FOLDER] = 0x4000;
    c.rgnid[ndb::NID_TYPE_NORMAL_MESSAGE] = 0x10000;
    c.rgnid[ndb::NID_TYPE_ASSOC_MESSAGE] = 0x8000;
    return c;
}

namespace {

constexpr uint32_t kTagMessageSize = store::makeTag(t::PidTagMessageSize, store::PT_LONG);
constexpr uint32_t kTagMessageFlags = store::makeTag(t::PidTagMessageFlags, store::PT_LONG);
constexpr uint32_t kTagMessageStatus = store::makeTag(t::PidTagMessageStatus, store::PT_LONG);
constexpr uint32_t kTagConversationId = store::makeTag(t::PidTagConversationId, store::PT_BINARY);
constexpr uint32_t kTagAttachDataObject = store::makeTag(t::PidTagAttachDataBinary, store::PT_OBJECT);

bool ownedByStore(uint16_t id, ObjectKind kind) {
    if (id >= 0x6600 && id <= 0x67FF) return true;  // the PST's own range
    switch (id) {
        case t::PidTagInstanceKey: case t::PidTagAccessLevel: case t::PidTagMappingSignature:
        case t::PidTagStoreRecordKey: case t::PidTagStoreEntryId: case t::PidTagStoreSupportMask: case t::PidTagRowid:
            return true;
        default:
            break;
    }
    switch (kind) {
        case ObjectKind::Message:
            // Outlook's message objects carry no PidTagMessageStatus (a
            // folder's contents-table cell), no PidTagRtfInSync (the store
            // keeps the bodies in step) and no PidTagConversationId (a
            // contents-table cell the store computes).
            return id == t::PidTagAccess || id == t::PidTagEntryId || id == t::PidTagParentEntryId ||
                   id == t::PidTagRecordKey || id == t::PidTagObjectType || id == t::PidTagMessageSize ||
                   id == t::PidTagHasAttachments || id == t::PidTagMessageStatus || id == t::PidTagRtfInSync ||
                   id == t::PidTagConversationId;
        case ObjectKind::Attachment:
            // PidTagAccess stays: Outlook keeps an attachment's (2, read)
            // when it files a message, and counts it in PidTagAttachSize.
            return id == t::PidTagAttachNumber || id == t::PidTagAttachSize || id == t::PidTagObjectType ||
                   id == t::PidTagEntryId || id == t::PidTagRecordKey;
        case ObjectKind::Recipient:
            return id == t::PidTagAccess;
    }
    return false;
}

Bytes utf16Bytes(const std::u16string& s) {
    Bytes b(s.size() * 2);
    for (size_t i = 0; i < s.size(); ++i) store::storeLE16(&b[2 * i], s[i]);
    return b;
}

// A UTF-16LE value without its terminating NULs (and an odd last byte).
Bytes trimUnicode(Bytes d) {
    size_t n = d.size() & ~size_t(1);
    while (n >= 2 && d[n - 1] == 0 && d[n - 2] == 0) n -= 2;
    d.resize(n);
    return d;
}

std::u16string decode8(ByteSpan d, uint32_t cp) {
    std::u16string s = decodeString8(d, cp);
    while (!s.empty() && s.back() == 0) s.pop_back();
    return s;
}

// The value of one property in its PST form, taking `in`'s bytes, into
// `out` (a new Property); false when it cannot be kept.
bool convertValue(Property& in, uint32_t codepage, Property& out) {
    const uint16_t type = in.type();
    if (!store::isKnownType(type) || type == store::PT_NULL || type == store::PT_UNSPECIFIED ||
        store::baseType(type) == store::PT_OBJECT)
        return false;
    out.flags = in.flags;
    if (!store::isMultiValued(type)) {
        if (type == store::PT_STRING8) {
            out.tag = store::makeTag(in.id(), store::PT_UNICODE);
            out.data = utf16Bytes(decode8(in.data, codepage));
        } else if (type == store::PT_UNICODE) {
            out.tag = in.tag;
            out.data = trimUnicode(std::move(in.data));
        } else if (store::fixedSize(type) != 0) {
            out.tag = in.tag;
            out.scalar = type == store::PT_BOOLEAN ? (in.scalar ? 1 : 0) : in.scalar;
        } else {
            if (type == store::PT_CLSID && in.data.size() != 16) return false;
            out.tag = in.tag;
            out.data = std::move(in.data);
        }
        return true;
    }
    const uint16_t base = store::baseType(type);
    std::vector<Bytes> elems;
    elems.reserve(in.multi.size());
    uint16_t outType = type;
    for (Bytes& e : in.multi) {
        if (base == store::PT_STRING8) {
            outType = store::MV_FLAG | store::PT_UNICODE;
            elems.push_back(utf16Bytes(decode8(e, codepage)));
        } else if (base == store::PT_UNICODE) {
            elems.push_back(trimUnicode(std::move(e)));
        } else {
            const uint32_t fixed = base == store::PT_CLSID ? 16 : store::fixedSize(base);
            if (fixed != 0 && e.size() != fixed) return false;
            elems.push_back(std::move(e));
        }
    }
    out.tag = store::makeTag(in.id(), outType);
    out.data = ltp::encodeMultiValue(outType, elems);
    return true;
}

ltp::LtpValue ltpValue(const Property& p) { return ltp::LtpValue{p.tag, p.scalar, p.data}; }

// The values of `props` a property context will store as subnodes, save
// those of the ids `kept` (read again after the context is built).
std::vector<Bytes*> largeValuesBut(std::vector<Property>& props, const std::function<bool(uint16_t)>& kept) {
    std::vector<Bytes*> out;
    for (Property& p : props)
        if (p.data.size() > ltp::kMaxHeapAlloc && !kept(p.id())) out.push_back(&p.data);
    return out;
}

ltp::TcCell cellOf(const Property& p) { return ltp::TcCell{true, p.scalar, p.data}; }

// Bytes a property value takes, as MAPI sizes an attachment.
uint64_t valueSize(const Property& p, uint64_t objectSize) {
    if (store::baseType(p.type()) == store::PT_OBJECT) return objectSize;
    if (!store::isMultiValued(p.type()) && store::fixedSize(p.type()) != 0) return store::fixedSize(p.type());
    return p.data.size();
}

const Property* findId(const std::vector<Property>& props, uint16_t id) {
    auto it = std::lower_bound(props.begin(), props.end(), id,
                               [](const Property& p, uint16_t v) { return p.id() < v; });
    return it != props.end() && it->id() == id ? &*it : nullptr;
}

void setProp(std::vector<Property>& props, Property p) {
    auto it = std::lower_bound(props.begin(), props.end(), p.id(),
                               [](const Property& q, uint16_t v) { return q.id() < v; });
    if (it != props.end() && it->id() == p.id())
        *it = std::move(p);
    else
        props.insert(it, std::move(p));
}

// Adds properties whose ids `props` does not hold, keeping the id order:
// each property moves once, however many are added.
void insertAll(std::vector<Property>& props, std::vector<Property>&& added) {
    if (added.empty()) return;
    std::sort(added.begin(), added.end(), [](const Property& a, const Property& b) { return a.id() < b.id(); });
    size_t i = props.size(), j = added.size(), w = props.size() + added.size();
    props.resize(w);
    while (j > 0) {
        if (i > 0 && props[i - 1].id() > added[j - 1].id())
            props[--w] = std::move(props[--i]);
        else
            props[--w] = std::move(added[--j]);
    }
}

void eraseId(std::vector<Property>& props, uint16_t id) {
    props.erase(std::remove_if(props.begin(), props.end(), [&](const Property& p) { return p.id() == id; }),
                props.end());
}

// A table written as a subnode of the node being built.
struct SubnodeSink {
    MessageContext& ctx;
    std::vector<ndb::SubnodeEntry> entries;
    uint64_t external = 0;
    // Values no longer needed once stored: their bytes are handed to the
    // writer (which then copies nothing) instead of copied.
    std::vector<Bytes*> takeable;

    ltp::SubnodeStore largeValues() {
        return [this](ByteSpan data) -> Result<uint32_t> {
            const uint32_t nid = ctx.counters.newNid(ndb::NID_TYPE_LTP);
            auto own = std::find_if(takeable.begin(), takeable.end(), [&](const Bytes* b) {
                return b->data() == data.data() && b->size() == data.size();
            });
            auto bid = own != takeable.end() ? ctx.ndb.writeStreamTaking(std::move(**own), &external)
                                             : ctx.ndb.writeStream(data, &external);
            if (!bid) return std::move(bid).error();
            entries.push_back({nid, *bid, 0});
            return nid;
        };
    }
    std::function<uint32_t()> ltpNids() {
        return [this] { return ctx.counters.newNid(ndb::NID_TYPE_LTP); };
    }
    Status addTable(uint32_t nid, const ltp::TcSchema& schema, const std::vector<std::vector<ltp::TcCell>>& rows) {
        ltp::TableWriter tw(ctx.ndb, schema, static_cast<uint32_t>(rows.size()), ltpNids());
        for (const auto& r : rows)
            if (auto s = tw.addRow(r); !s) return s;
        auto nd = tw.finish();
        if (!nd) return std::move(nd).error();
        external += nd->external;
        auto sub = ctx.ndb.writeSubnodes(nd->subnodes);
        if (!sub) return std::move(sub).error();
        entries.push_back({nid, nd->bidData, *sub});
        return {};
    }
    Result<uint64_t> finish() {
        std::sort(entries.begin(), entries.end(),
                  [](const ndb::SubnodeEntry& a, const ndb::SubnodeEntry& b) { return a.nid < b.nid; });
        return ctx.ndb.writeSubnodes(entries);
    }
};

// Columns of a table: the template's, then (when `extras` allows) every
// further property of the rows, in order of first appearance.
Result<ltp::TcSchema> schemaFor(std::span<const uint32_t> base, const std::vector<std::vector<Property>>& rows,
                                const std::function<bool(uint16_t)>& extras) {
    std::vector<uint32_t> tags(base.begin(), base.end());
    std::bitset<0x10000> has;  // the ids among `tags`
    for (uint32_t tg : tags) has.set(store::tagId(tg));
    for (const auto& props : rows)
        for (const Property& p : props)
            if (tags.size() < 253 && !has.test(p.id()) && extras(p.id()) && ltp::TcSchema::cellSize(p.type()) != 0) {
                tags.push_back(p.tag);
                has.set(p.id());
            }
    return ltp::TcSchema::make(tags);
}

std::vector<ltp::TcCell> rowCells(const ltp::TcSchema& schema, const std::vector<Property>& props, uint32_t rowId,
                                  uint32_t rowVer) {
    const auto& cols = schema.columns();
    std::vector<ltp::TcCell> cells(cols.size());
    cells[0] = ltp::TcCell{true, rowId, {}};
    cells[1] = ltp::TcCell{true, rowVer, {}};
    for (size_t i = 2; i < cols.size(); ++i)
        if (const Property* p = findId(props, store::tagId(cols[i].tag)); p && p->tag == cols[i].tag)
            cells[i] = cellOf(*p);
    return cells;
}

// The sent-representing properties copied from the sender's (see
// completeAddressing), into `added`.
void sentRepresenting(const std::vector<Property>& props, std::vector<Property>& added) {
    if (findId(props, t::PidTagSentRepresentingEmailAddress)) return;
    const Property* sender = findId(props, t::PidTagSenderEmailAddress);
    if (!sender) return;
    const Property* repName = findId(props, t::PidTagSentRepresentingName);
    const Property* senderName = findId(props, t::PidTagSenderName);
    if (repName && !(senderName && senderName->type() == repName->type() && senderName->data == repName->data)) return;
    constexpr std::pair<uint16_t, uint16_t> pairs[] = {
        {0x0C19, 0x0041},  // PidTagSenderEntryId -> PidTagSentRepresentingEntryId
        {t::PidTagSenderName, t::PidTagSentRepresentingName},
        {0x0C1D, 0x003B},  // PidTagSenderSearchKey -> PidTagSentRepresentingSearchKey
        {0x0C1E, 0x0064},  // PidTagSenderAddressType -> PidTagSentRepresentingAddressType
        {t::PidTagSenderEmailAddress, t::PidTagSentRepresentingEmailAddress},
        {t::PidTagSenderSmtpAddress, t::PidTagSentRepresentingSmtpAddress},
    };
    for (const auto& [from, to] : pairs) {
        if (findId(props, to)) continue;
        const Property* src = findId(props, from);
        if (!src) continue;
        Property copy = *src;
        copy.tag = store::makeTag(to, src->type());
        added.push_back(std::move(copy));
    }
}

// A message's addressing as Outlook's store completes it.
//  - PidTagDisplayTo/Cc/Bcc, when absent or empty: the display names of the
//    recipients of that type, joined by "; ", as the store computes them
//    from the recipient table. An empty list is not stored (Outlook's
//    message objects never hold one).
//  - The sent-representing identity, when the message carries none of its
//    own (no PidTagSentRepresentingEmailAddress, and a representing name,
//    if any, that is the sender's): a message sent by its sender on nobody
//    else's behalf represents the sender, so the sender's values are copied.
void completeAddressing(std::vector<Property>& props, const std::vector<std::vector<Property>>& recipients) {
    const uint16_t displays[3] = {t::PidTagDisplayTo, t::PidTagDisplayCc, t::PidTagDisplayBcc};
    std::vector<Property> added;
    added.reserve(9);  // three displays, six sent-representing properties
    for (int type = 1; type <= 3; ++type) {
        const uint16_t id = displays[type - 1];
        if (const Property* p = findId(props, id); p && !p->data.empty()) continue;
        eraseId(props, id);
        std::u16string joined;
        bool any = false;
        for (const auto& r : recipients) {
            const Property* rt = findId(r, t::PidTagRecipientType);
            if (!rt || rt->type() != store::PT_LONG || (rt->asInt32() & 0x0F) != type) continue;
            const Property* dn = findId(r, t::PidTagDisplayName);
            std::u16string name = dn && dn->type() == store::PT_UNICODE ? dn->asUnicode() : std::u16string();
            if (name.empty())
                if (const Property* ea = findId(r, t::PidTagEmailAddress); ea && ea->type() == store::PT_UNICODE)
                    name = ea->asUnicode();
            if (any) joined += u"; ";
            joined += name;
            any = true;
        }
        if (any && !joined.empty()) added.push_back(Property::unicode(store::makeTag(id, store::PT_UNICODE), joined));
    }
    // Added at the end, all at once: the ids looked up in between are none
    // of those added.
    sentRepresenting(props, added);
    insertAll(props, std::move(added));
}

// PidTagHtml as Outlook keeps it: binary, in the message's Internet code
// page. A body given as a string (PidTagBodyHtml, 8-bit strings already
// made Unicode) is encoded in `codepage`, or keeps its bytes (`html8`) when
// it was 8-bit text in that very code page; when the code page cannot hold
// every character of it (or cannot be converted here), the body is stored
// as UTF-8 and PidTagInternetCodepage says so, so that nothing is lost.
void htmlAsBinary(std::vector<Property>& props, uint32_t codepage, const std::optional<Bytes>& html8) {
    auto it = std::lower_bound(props.begin(), props.end(), t::PidTagHtml,
                               [](const Property& p, uint16_t v) { return p.id() < v; });
    if (it == props.end() || it->id() != t::PidTagHtml || it->type() != store::PT_UNICODE) return;
    std::optional<Bytes> bytes = html8;
    Bytes utf8;
    if (bytes) {
        while (!bytes->empty() && bytes->back() == 0) bytes->pop_back();
    } else if (codepage == store::kCodepageUtf8 &&
               tavrin::text::utf16LeToUtf8(it->data.data(), it->data.size() / 2, utf8)) {
        // UTF-8 gives back every text without an unpaired surrogate: no
        // round trip needed, nor a copy of the text.
        bytes = std::move(utf8);
    } else {
        const std::u16string text = it->asUnicode();
        if (auto enc = store::encodeCodepage(text, codepage))
            if (auto back = store::decodeCodepage(*enc, codepage); back && *back == text) bytes = std::move(*enc);
        if (!bytes) {
            bytes = store::encodeCodepage(text, store::kCodepageUtf8).value();
            setProp(props, Property::int32(store::makeTag(t::PidTagInternetCodepage, store::PT_LONG),
                                           static_cast<int32_t>(store::kCodepageUtf8)));
            it = std::lower_bound(props.begin(), props.end(), t::PidTagHtml,
                                  [](const Property& p, uint16_t v) { return p.id() < v; });
        }
    }
    Property html;
    html.tag = store::makeTag(t::PidTagHtml, store::PT_BINARY);
    html.data = std::move(*bytes);
    *it = std::move(html);
}

// PidTagConversationId as Outlook fills a message's contents-table row with
// it ([MS-PST] 5.4, [MS-OXOMSG] 2.2.1.2): the GUID of the conversation index
// when conversation index tracking is on and the index has its 22-byte
// header; else the MD5 of the conversation topic's first 255 characters,
// upper-cased; else none.
std::optional<Bytes> conversationId(const std::vector<Property>& props) {
    const Property* tracking = findId(props, t::PidTagConversationIndexTracking);
    const Property* index = findId(props, t::PidTagConversationIndex);
    if (tracking && tracking->type() == store::PT_BOOLEAN && tracking->scalar != 0 && index &&
        index->type() == store::PT_BINARY && index->data.size() >= 22 && index->data[0] == 0x01)
        return Bytes(index->data.begin() + 6, index->data.begin() + 22);
    const Property* topic = findId(props, t::PidTagConversationTopic);
    if (!topic || topic->type() != store::PT_UNICODE) return std::nullopt;
    std::u16string text = topic->asUnicode();
    text = text.substr(0, std::min<size_t>(text.find(u'\0'), 255));
    for (char16_t& c : text) c = store::simpleUpperCase(c);
    const auto digest = store::md5(utf16Bytes(text));
    return Bytes(digest.begin(), digest.end());
}

struct WrittenAttachment {
    uint32_t nid = 0;
    std::vector<Property> props;  // as in its PC, for the attachment table
};

// The code pages a message takes from the one it is embedded in when it
// declares none of its own: for its 8-bit strings and for its HTML body.
struct Codepages {
    uint32_t strings = 0;
    uint32_t html = 0;
};

Result<WrittenMessage> emitMessage(MessageContext& ctx, store::Message& m, Codepages parent,
                                   std::span<const uint32_t> rowColumns, int depth);

Result<WrittenAttachment> emitAttachment(MessageContext& ctx, store::Attachment& a, Codepages codepages,
                                         SubnodeSink& parent, int depth) {
    const uint32_t codepage = codepages.strings;
    WrittenAttachment out;
    out.nid = ctx.counters.newNid(ndb::NID_TYPE_ATTACHMENT);
    std::vector<Property> props = convertProperties(a.props, ObjectKind::Attachment, codepage, ctx.names);
    SubnodeSink sub{ctx, {}, 0, {}};
    uint64_t objectSize = 0;
    if (a.embedded) {
        auto em = emitMessage(ctx, *a.embedded, codepages, {}, depth + 1);
        if (!em) return std::move(em).error();
        // [MS-PST] 2.3.3.5 PtypObject: the embedded message is a subnode of
        // the attachment, its value {nid, size}.
        const uint32_t nid = ctx.counters.newNid(ndb::NID_TYPE_NORMAL_MESSAGE);
        sub.entries.push_back({nid, em->bidData, em->bidSub});
        sub.external += em->size;
        objectSize = em->size;
        Property obj;
        obj.tag = kTagAttachDataObject;
        obj.data = ltp::ObjectRef{nid, em->size}.encode();
        setProp(props, std::move(obj));
    } else if (a.storage) {
        if (!ctx.storage) return Error(err::kNoSupport, "OLE attachments cannot be written.");
        auto cfb = ctx.storage(*a.storage);
        if (!cfb) return std::move(cfb).error();
        if (cfb->size() > 0xFFFFFFFFu) return Error(err::kTooBig, "An OLE attachment is too large.");
        const uint32_t nid = ctx.counters.newNid(ndb::NID_TYPE_LTP);
        auto bid = ctx.ndb.writeStream(*cfb, &sub.external);
        if (!bid) return std::move(bid).error();
        sub.entries.push_back({nid, *bid, 0});
        objectSize = cfb->size();
        Property obj;
        obj.tag = kTagAttachDataObject;
        obj.data = ltp::ObjectRef{nid, static_cast<uint32_t>(cfb->size())}.encode();
        setProp(props, std::move(obj));
    }
    if (!findId(props, t::PidTagAttachMethod)) {
        int32_t method = t::afNone;
        if (a.embedded) method = t::afEmbeddedMessage;
        else if (a.storage) method = t::afStorage;
        else if (findId(props, t::PidTagAttachDataBinary)) method = t::afByValue;
        setProp(props, Property::int32(store::makeTag(t::PidTagAttachMethod, store::PT_LONG), method));
    }
    if (!findId(props, t::PidTagRenderingPosition))
        setProp(props, Property::int32(store::makeTag(t::PidTagRenderingPosition, store::PT_LONG), -1));
    // PidTagAttachSize: the sizes of all the attachment's values, itself
    // included, as Outlook computes it.
    uint64_t attachSize = 4;
    for (const Property& p : props) attachSize += valueSize(p, objectSize);
    setProp(props, Property::int32(store::makeTag(t::PidTagAttachSize, store::PT_LONG),
                                   static_cast<int32_t>(std::min<uint64_t>(attachSize, 0x7FFFFFFF))));

    std::vector<ltp::LtpValue> values;
    values.reserve(props.size());
    for (const Property& p : props) values.push_back(ltpValue(p));
    // The attachment table's columns are read from `props` afterwards.
    sub.takeable = largeValuesBut(props, [](uint16_t id) {
        return std::any_of(columns::kAttachments.begin(), columns::kAttachments.end(),
                           [&](uint32_t tag) { return store::tagId(tag) == id; }) ||
               std::find(columns::kAttachmentExtras.begin(), columns::kAttachmentExtras.end(), id) !=
                   columns::kAttachmentExtras.end();
    });
    auto pc = ltp::buildPropertyContext(values, sub.largeValues());
    if (!pc) return std::move(pc).error();
    auto bidData = ltp::writeHeapBlocks(ctx.ndb, pc->blocks, &sub.external);
    if (!bidData) return std::move(bidData).error();
    auto bidSub = sub.finish();
    if (!bidSub) return std::move(bidSub).error();
    parent.entries.push_back({out.nid, *bidData, *bidSub});
    parent.external += sub.external;
    out.props = std::move(props);
    return out;
}

Result<WrittenMessage> emitMessage(MessageContext& ctx, store::Message& m, Codepages parent,
                                   std::span<const uint32_t> rowColumns, int depth) {
    if (depth > 32) return Error(err::kCorrupt, "Embedded messages are nested too deeply.");
    const uint32_t cp = m.codepage(parent.strings);
    uint32_t htmlCp = m.internetCodepage(0);
    if (htmlCp == 0) htmlCp = parent.html ? parent.html : store::kCodepageUtf8;
    std::optional<Bytes> html8;  // an 8-bit HTML body already in the Internet code page
    if (const Property* h = m.props.findTag(store::makeTag(t::PidTagHtml, store::PT_STRING8));
        h && cp == htmlCp && !m.props.findTag(store::makeTag(t::PidTagHtml, store::PT_UNICODE)) &&
        !m.props.findTag(store::makeTag(t::PidTagHtml, store::PT_BINARY)))
        html8 = h->data;
    // The folder's contents-table row keeps the status, the message does not.
    const int32_t status = m.props.getInt32(t::PidTagMessageStatus).value_or(0);
    std::vector<Property> props = convertProperties(m.props, ObjectKind::Message, cp, ctx.names);

    // The subject with Outlook's prefix marker; the prefix and normalized
    // subject are then derived from it and not stored.
    if (const Property* s = findId(props, t::PidTagSubject); s && s->type() == store::PT_UNICODE) {
        const std::u16string subject = s->asUnicode();
        if (!subject.empty() && subject[0] != u'\x01') {
            const Property* pre = findId(props, t::PidTagSubjectPrefix);
            const std::u16string prefix = pre ? pre->asUnicode() : std::u16string();
            const std::u16string marked = markedSubject(subject, pre ? &prefix : nullptr);
            const size_t n = static_cast<size_t>(marked[1] - 1);
            const Property* norm = findId(props, t::PidTagNormalizedSubject);
            const bool prefixAgrees = !pre || pre->asUnicode() == subject.substr(0, n);
            const bool normAgrees = !norm || norm->asUnicode() == subject.substr(n);
            setProp(props, Property::unicode(store::makeTag(t::PidTagSubject, store::PT_UNICODE), marked));
            if (prefixAgrees && normAgrees) {
                eraseId(props, t::PidTagSubjectPrefix);
                eraseId(props, t::PidTagNormalizedSubject);
            }
        }
    }
    htmlAsBinary(props, htmlCp, html8);
    if (!findId(props, t::PidTagMessageClass))
        setProp(props, Property::unicodeUtf8(store::makeTag(t::PidTagMessageClass, store::PT_UNICODE), "IPM.Note"));
    if (!findId(props, t::PidTagCreationTime))
        setProp(props, Property::systime(store::makeTag(t::PidTagCreationTime, store::PT_SYSTIME), ctx.now));
    if (!findId(props, t::PidTagLastModificationTime))
        setProp(props, Property::systime(store::makeTag(t::PidTagLastModificationTime, store::PT_SYSTIME), ctx.now));
    if (!findId(props, t::PidTagSearchKey)) {
        uint8_t key[16];
        ctx.random(key, sizeof key);
        setProp(props, Property::binary(store::makeTag(t::PidTagSearchKey, store::PT_BINARY), ByteSpan(key, 16)));
    }

    std::vector<std::vector<Property>> rprops;
    rprops.reserve(m.recipients.size());
    for (store::Recipient& r : m.recipients)
        rprops.push_back(convertProperties(r.props, ObjectKind::Recipient, cp, ctx.names));
    completeAddressing(props, rprops);
    // PidTagPstBodyPrefix: Outlook's store keeps the first 255 characters of
    // the plain-text body with every message that has one (all 14 such
    // messages of its files, embedded ones included); a surrogate pair is
    // not cut in two.
    if (const Property* b = findId(props, t::PidTagBody); b && b->type() == store::PT_UNICODE && !b->data.empty()) {
        size_t units = std::min<size_t>(b->data.size() / 2, 255);
        if (units == 255 && b->data.size() / 2 > 255 && (store::loadLE16(&b->data[2 * 254]) & 0xFC00) == 0xD800) --units;
        Property prefix;
        prefix.tag = store::makeTag(PidTagPstBodyPrefix, store::PT_UNICODE);
        prefix.data.assign(b->data.begin(), b->data.begin() + static_cast<std::ptrdiff_t>(2 * units));
        setProp(props, std::move(prefix));
    }

    SubnodeSink sub{ctx, {}, 0, {}};

    // Recipients: rows of the 0x692 table, which every message has.
    {
        auto schema = schemaFor(columns::kRecipients, rprops, [](uint16_t) { return true; });
        if (!schema) return std::move(schema).error();
        std::vector<std::vector<ltp::TcCell>> rows;
        for (const auto& p : rprops)
            rows.push_back(rowCells(*schema, p, ++ctx.counters.recipientRowId, ++ctx.counters.rowVersion));
        if (auto s = sub.addTable(ndb::NID_RECIPIENT_TABLE, *schema, rows); !s) return std::move(s).take();
    }

    // Attachments: one subnode each, and the 0x671 table over them.
    if (!m.attachments.empty()) {
        std::vector<WrittenAttachment> atts;
        atts.reserve(m.attachments.size());
        for (store::Attachment& a : m.attachments) {
            auto w = emitAttachment(ctx, a, Codepages{cp, htmlCp}, sub, depth);
            if (!w) return std::move(w).error();
            atts.push_back(std::move(*w));
        }
        // Moved, not copied: they hold the attachments' data.
        std::vector<std::vector<Property>> aprops;
        aprops.reserve(atts.size());
        for (auto& a : atts) aprops.push_back(std::move(a.props));
        // Outlook's order for the extra columns, not the order met.
        std::vector<uint32_t> base(columns::kAttachments.begin(), columns::kAttachments.end());
        for (uint16_t id : columns::kAttachmentExtras)
            for (const auto& p : aprops)
                if (const Property* q = findId(p, id)) {
                    base.push_back(q->tag);
                    break;
                }
        auto schema = schemaFor(base, aprops, [](uint16_t) { return false; });
        if (!schema) return std::move(schema).error();
        std::vector<std::vector<ltp::TcCell>> rows;
        for (size_t i = 0; i < atts.size(); ++i)
            rows.push_back(rowCells(*schema, aprops[i], atts[i].nid, ++ctx.counters.rowVersion));
        if (auto s = sub.addTable(ndb::NID_ATTACHMENT_TABLE, *schema, rows); !s) return std::move(s).take();
    }

    // Flags: the has-attachment bit follows the attachments written.
    int32_t flags = 0;
    if (const Property* f = findId(props, t::PidTagMessageFlags); f && f->type() == store::PT_LONG) flags = f->asInt32();
    flags &= ~t::MSGFLAG_HASATTACH;
    if (!m.attachments.empty()) flags |= t::MSGFLAG_HASATTACH;
    setProp(props, Property::int32(kTagMessageFlags, flags));
    setProp(props, Property::int32(kTagMessageSize, 0));

    std::vector<ltp::LtpValue> values;
    values.reserve(props.size());
    for (const Property& p : props) values.push_back(ltpValue(p));
    // The row's columns and the conversation id's sources are read from
    // `props` afterwards.
    sub.takeable = largeValuesBut(props, [&](uint16_t id) {
        return id == t::PidTagConversationTopic || id == t::PidTagConversationIndex ||
               std::any_of(rowColumns.begin(), rowColumns.end(), [&](uint32_t tag) { return store::tagId(tag) == id; });
    });
    auto pc = ltp::buildPropertyContext(values, sub.largeValues());
    if (!pc) return std::move(pc).error();

    // [MS-PST] PidTagMessageSize as Outlook computes it: the cb of every
    // external block of the node, its subnodes included.
    const uint64_t total = pc->size() + sub.external;
    if (total > 0x7FFFFFFF) return Error(err::kTooBig, "The message is too large for a PST.");
    const uint32_t size = static_cast<uint32_t>(total);
    if (!pc->patchInline(t::PidTagMessageSize, size))
        return Error(err::kCallFailed, "PST writer: message size slot missing");
    setProp(props, Property::int32(kTagMessageSize, static_cast<int32_t>(size)));

    auto bidData = ltp::writeHeapBlocks(ctx.ndb, pc->blocks, nullptr);
    if (!bidData) return std::move(bidData).error();
    auto bidSub = sub.finish();
    if (!bidSub) return std::move(bidSub).error();

    WrittenMessage w;
    w.bidData = *bidData;
    w.bidSub = *bidSub;
    w.size = size;
    w.flags = flags;
    // The row takes its values from `props`, which are not needed after it
    // (the conversation id, derived from some of them, is made first).
    std::optional<Bytes> convId;
    if (std::find(rowColumns.begin(), rowColumns.end(), kTagConversationId) != rowColumns.end())
        convId = conversationId(props);
    w.row.reserve(rowColumns.size());
    for (uint32_t tag : rowColumns) {
        if (tag == kTagMessageStatus) {
            w.row.push_back(Property::int32(tag, status));
        } else if (tag == kTagConversationId) {
            if (convId) w.row.push_back(Property::binary(tag, *convId));
        } else if (auto it = std::lower_bound(props.begin(), props.end(), store::tagId(tag),
                                              [](const Property& q, uint16_t v) { return q.id() < v; });
                   it != props.end() && it->tag == tag) {
            w.row.push_back(std::move(*it));
            it->tag &= 0xFFFF0000u;  // taken (its id stays, for the search): a column named twice is filled once
        }
    }
    return w;
}

}  // namespace

std::u16string markedSubject(const std::u16string& subject, const std::u16string* prefix) {
    size_t n = 0;
    if (prefix && !prefix->empty() && subject.compare(0, prefix->size(), *prefix) == 0) {
        n = prefix->size();
    } else if (!prefix) {
        // MAPI's rule: one to three non-digit characters, a colon, and the
        // blank after it.
        for (size_t k = 1; k <= 3 && k < subject.size(); ++k) {
            if (subject[k] != u':') continue;
            bool ok = true;
            for (size_t i = 0; i < k; ++i)
                if ((subject[i] >= u'0' && subject[i] <= u'9') || subject[i] == u' ' || subject[i] == u':') ok = false;
            if (ok) {
                n = k + 1;
                if (n < subject.size() && subject[n] == u' ') ++n;
            }
            break;
        }
    }
    n = std::min<size_t>(n, 0xFFFE);
    std::u16string out;
    out.reserve(subject.size() + 2);
    out.push_back(u'\x01');
    out.push_back(static_cast<char16_t>(n + 1));
    out += subject;
    return out;
}

std::vector<Property> convertProperties(PropertyBag& bag, ObjectKind kind, uint32_t codepage, NameMapWriter& names) {
    // Room for what the writer adds to a message (subject, times, search
    // key, addressing, body prefix, flags, size), so that adding them does
    // not move every property to a larger vector.
    const size_t room = kind == ObjectKind::Message ? 16 : 4;
    std::vector<Property> kept;
    kept.reserve(bag.size() + room);
    struct Key {
        uint16_t id;
        uint8_t rank;    // 0 wins over 1 over 2
        uint32_t index;  // into `kept`, in bag order
    };
    std::vector<Key> keys;
    keys.reserve(bag.size());
    for (Property& in : bag.items()) {
        uint16_t id = in.id();
        if (store::isNamedId(id)) {
            if (!in.name) continue;  // a named property without a name cannot be mapped
            auto mapped = names.idFor(*in.name);
            if (!mapped) continue;
            id = *mapped;
        }
        if (ownedByStore(id, kind)) continue;
        // An 8-bit form comes last; of PidTagHtml's forms the binary one
        // (Outlook's) comes first.
        uint8_t rank = store::baseType(in.type()) == store::PT_STRING8 ? 2 : 0;
        if (id == t::PidTagHtml && in.type() != store::PT_BINARY) ++rank;
        Property& v = kept.emplace_back();
        if (!convertValue(in, codepage, v)) {
            kept.pop_back();
            continue;
        }
        v.tag = store::makeTag(id, v.type());
        keys.push_back({id, rank, static_cast<uint32_t>(kept.size() - 1)});
    }
    // One property per id: the first of the best rank.
    std::sort(keys.begin(), keys.end(), [](const Key& a, const Key& b) {
        if (a.id != b.id) return a.id < b.id;
        if (a.rank != b.rank) return a.rank < b.rank;
        return a.index < b.index;
    });
    // Already in order, one per id (as a message file lists them): as they are.
    bool inOrder = true;
    for (size_t i = 0; i < keys.size() && inOrder; ++i)
        inOrder = keys[i].index == i && (i == 0 || keys[i].id != keys[i - 1].id);
    if (inOrder) return kept;
    std::vector<Property> out;
    out.reserve(keys.size() + room);
    for (size_t i = 0; i < keys.size(); ++i)
        if (i == 0 || keys[i].id != keys[i - 1].id) out.push_back(std::move(kept[keys[i].index]));
    return out;
}

Result<WrittenMessage> writeMessage(MessageContext& ctx, store::Message&& message,
                                    std::span<const uint32_t> rowColumns) {
    return emitMessage(ctx, message, Codepages{ctx.fallbackCodepage, 0}, rowColumns, 0);
}

}  // namespace tavrin::pst::messaging
