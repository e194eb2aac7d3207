#include "store/pst/messaging/message_store.h"

#include "store/core/tags.h"

namespace tavrin::pst::messaging {

namespace t = store::tags;

MessageKeys MessageKeys::of(const store::PropertyBag& props) {
    MessageKeys k;
    const store::NamedPropName digest = sourceDigestName();
    for (const store::Property& p : props.items()) {
        if (p.name && *p.name == digest && p.type() == store::PT_BINARY && !p.data.empty()) k.sourceDigest = p.data;
        if (p.id() == PidTagInternetMessageId && !p.data.empty()) {
            // As Unicode either way; an 8-bit id is plain ASCII in practice.
            std::u16string id;
            if (p.type() == store::PT_UNICODE) id = p.asUnicode();
            else if (p.type() == store::PT_STRING8) id.assign(p.data.begin(), p.data.end());
            while (!id.empty() && id.back() == 0) id.pop_back();
            if (!id.empty()) k.internetMessageId = std::move(id);
        }
        if (p.id() == t::PidTagClientSubmitTime && p.type() == store::PT_SYSTIME) k.submitTime = p.scalar;
        if (p.id() == t::PidTagSearchKey && p.type() == store::PT_BINARY && !p.data.empty()) k.searchKey = p.data;
    }
    return k;
}

namespace {
std::string asKey(const store::Bytes& b) { return std::string(b.begin(), b.end()); }
}  // namespace

void DuplicateIndex::add(const MessageKeys& k) {
    ++count_;
    if (k.sourceDigest) digests_.insert(asKey(*k.sourceDigest));
    if (k.internetMessageId && k.submitTime) ids_.emplace(*k.internetMessageId, *k.submitTime);
    if (k.searchKey) searchKeys_.insert(asKey(*k.searchKey));
}

bool DuplicateIndex::contains(const MessageKeys& k) const {
    if (k.sourceDigest && digests_.count(asKey(*k.sourceDigest))) return true;
    if (k.internetMessageId && k.submitTime) return ids_.count({*k.internetMessageId, *k.submitTime}) != 0;
    return k.searchKey && searchKeys_.count(asKey(*k.searchKey));
}

}  // namespace tavrin::pst::messaging
