#include "store/core/source_digest.h"

#include "store/core/sha256.h"

namespace tavrin::store {

NamedPropName sourceDigestName() {
    NamedPropName n;
    n.guid = kPsetidTavrin;
    n.isString = true;
    n.name = kSourceDigestName;
    return n;
}

void setSourceDigest(Message& message, const std::array<uint8_t, 32>& digest) {
    const NamedPropName name = sourceDigestName();
    // Its own id among the message's named properties: the one it has, or
    // one above them all.
    uint16_t id = 0x8000;
    for (const Property& p : message.props.items()) {
        if (p.name && *p.name == name) {
            id = p.id();
            break;
        }
        if (isNamedId(p.id()) && p.id() >= id && p.id() < 0xFFFE) id = static_cast<uint16_t>(p.id() + 1);
    }
    Property p = Property::binary(makeTag(id, PT_BINARY), ByteSpan(digest.data(), digest.size()));
    p.name = name;
    message.props.set(std::move(p));
}

void setSourceDigest(Message& message, ByteSpan sourceBytes) { setSourceDigest(message, sha256(sourceBytes)); }

}  // namespace tavrin::store
