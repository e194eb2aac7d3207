// The normalized record of a message: one JSON object on one line, the same
// shape the project's test oracles produce for .msg and .pst files, so that
// a message can be compared across readers and across a conversion.
//
// Fields, in this order: subject, sender{name,address},
// recipients[{type,name,address}], messageClass, bodySha256, bodyLength,
// htmlSha256, attachments[{name,size,sha256} | {name,message}],
// submitTime, deliveryTime, flags.
//
// Rules:
//   - texts are taken from PT_UNICODE or PT_STRING8 properties; 8-bit texts
//     are decoded with the message's code page (PR_INTERNET_CPID, then
//     PR_MESSAGE_CODEPAGE, then 1252; an embedded message without one uses
//     its parent's). Trailing NULs are dropped; an empty text is null.
//   - sender: PR_SENDER_NAME; PR_SENDER_SMTP_ADDRESS, else
//     PR_SENDER_EMAIL_ADDRESS. Recipients: PR_RECIPIENT_TYPE (1 "to",
//     2 "cc", 3 "bcc" in the low 4 bits, else the number as a text),
//     PR_DISPLAY_NAME, PR_SMTP_ADDRESS else PR_EMAIL_ADDRESS.
//   - a hashed text (body, HTML) is normalized first: CR LF and lone CR
//     become LF, trailing NULs go; its sha256 is over the UTF-8 bytes, and
//     bodyLength counts those bytes. An empty or absent text is null (0).
//   - an HTML body stored as bytes is decoded with the message's code page,
//     else UTF-8.
//   - attachment names: PR_ATTACH_LONG_FILENAME, PR_ATTACH_FILENAME,
//     PR_DISPLAY_NAME, the first that is not empty. Size and sha256 are of
//     the attachment's data (PR_ATTACH_DATA_BIN), an empty one when it has
//     none; an embedded message gives {name, message: its record}.
//   - times: PR_CLIENT_SUBMIT_TIME, PR_MESSAGE_DELIVERY_TIME as UTC ISO 8601
//     whole seconds ("2007-06-14T09:42:53Z"), null when absent or zero.
//   - flags: PR_MESSAGE_FLAGS as stored, or null.
//   - a subject that starts with U+0001 and a length character (the form
//     PST files store) is shown without those two characters.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "store/core/message.h"

namespace tavrin::store {

struct RecordOptions {
    // Turns an OLE storage attachment (afStorage) into the bytes whose size
    // and sha256 the record shows; typically a compound file writer. Without
    // one, such an attachment shows the size and sha256 of no data.
    Bytes (*storageBytes)(const StorageEntry&) = nullptr;
};

// The record as one line of JSON without a trailing newline. `leading` and
// `trailing` are extra members (key, value already encoded as JSON) placed
// before and after the record's own fields.
std::string messageRecordJson(const Message& m, const std::vector<std::pair<std::string, std::string>>& leading,
                              const std::vector<std::pair<std::string, std::string>>& trailing);
std::string messageRecordJson(const Message& m, const std::vector<std::pair<std::string, std::string>>& leading,
                              const std::vector<std::pair<std::string, std::string>>& trailing,
                              const RecordOptions& options);

// A JSON string literal (with its quotes) of a UTF-8 text, escaped the way
// JSON.stringify escapes: quote, backslash and control characters; other
// characters as they are. Invalid UTF-8 becomes U+FFFD.
std::string jsonString(std::string_view utf8);

// Helpers the record is built from, for callers that show the same values.
// A text property (PT_UNICODE, or PT_STRING8 decoded with `codepage`),
// trailing NULs removed; nullopt when absent or of another type.
std::optional<std::u16string> textProperty(const PropertyBag& bag, uint16_t id, uint32_t codepage);
// Normalizes a text for hashing (CR LF and CR to LF, trailing NULs removed)
// and returns it as UTF-8.
std::string normalizedUtf8(std::u16string_view text);
// "2007-06-14T09:42:53Z" for a FILETIME; empty for zero.
std::string isoTimeFromFiletime(uint64_t filetime);

}  // namespace tavrin::store
