// The digest of the source a message was made from, which every message we
// write carries in a named property of our own property set: the SHA-256
// of the message file's bytes (of one message's bytes for an mbox file).
// The store's duplicate test compares it.
#pragma once

#include <array>
#include <cstdint>

#include "store/core/message.h"
#include "store/core/props.h"

namespace tavrin::store {

// Our own property set.
inline constexpr Guid kPsetidTavrin{{0xD4, 0xE1, 0xB3, 0xA8, 0x27, 0x5C, 0x0E, 0x4F, 0x9B, 0x61, 0x3D, 0x2C, 0x7E, 0x8F,
                                     0x4A, 0x15}};
inline constexpr char16_t kSourceDigestName[] = u"SourceDigest";
// The property's name: a PT_BINARY of 32 bytes.
NamedPropName sourceDigestName();

// Records the digest in a message, replacing one it has already.
void setSourceDigest(Message& message, const std::array<uint8_t, 32>& digest);
// The digest of these bytes, recorded in the message.
void setSourceDigest(Message& message, ByteSpan sourceBytes);

}  // namespace tavrin::store
