// [MS-OXTNEF] Transport Neutral Encapsulation Format reader: the
// "winmail.dat" (application/ms-tnef) part Outlook sends, into the shared
// property-bag model.
//
// What it reads: the message attributes (class, subject, body, dates,
// priority, OEM code page), the encapsulated MAPI properties of the
// message (attMsgProps), its recipient table (attRecipTable), and each
// attachment's rendering, data, title, dates and encapsulated properties
// (attAttachment), an embedded message's own TNEF stream included
// (PR_ATTACH_DATA_OBJ with IID_IMessage). 8-bit strings are made Unicode
// with the stream's OEM code page, so that the result can be merged into a
// message read from MIME.
//
// Every field is read through a bounds-checked reader; every count is
// checked against the bytes left. A stream that is not TNEF, or nested too
// deep, fails with err::kCorrupt; damage after a sound signature is
// salvaged: what comes before it is kept, and Message::warnings says what
// was left out.
#pragma once

#include <cstdint>

#include "fs/result.h"
#include "store/core/bytes.h"
#include "store/core/message.h"

namespace tavrin::store::tnef {

inline constexpr uint32_t kSignature = 0x223E9F78;
// Embedded messages inside a TNEF stream nested deeper than this are
// refused.
inline constexpr int kMaxDepth = 16;

Result<Message> readTnef(ByteSpan data);

// Whether `data` starts with the TNEF signature.
bool isTnef(ByteSpan data);

}  // namespace tavrin::store::tnef
