// Internet mail (RFC 5322 / MIME messages, .eml, and mbox files) into the
// shared property-bag model, as Outlook's own MIME conversion stores a
// message it receives ([MS-OXCMAIL]).
//
// This is the one interface of store/mime; the rest of the directory is
// its inner working (the MIME structure, header values, charsets and
// transfer encodings, TNEF, the mbox splitter).
//
// What a message becomes:
//   - the raw header block in PidTagTransportMessageHeaders;
//   - Subject (RFC 2047 words decoded) in PidTagSubject, with its prefix
//     ("Re: ") and normalized subject, and the conversation topic;
//   - From in the sent-representing properties, Sender (else From) in the
//     sender properties: name, SMTP address type and address, one-off
//     entry id and search key; To, Cc and Bcc as recipients with the same;
//     Reply-To in PidTagReplyRecipientNames and ...Entries;
//   - Date in PidTagClientSubmitTime; the newest (topmost) Received in
//     PidTagMessageDeliveryTime, else Date;
//   - Message-ID, In-Reply-To, References, Thread-Index and Thread-Topic;
//     Importance (or X-Priority, Priority, X-MSMail-Priority), Priority
//     and Sensitivity;
//   - the inline text/plain parts as PidTagBody and the inline text/html
//     parts as PidTagHtml (each kind joined in order when there are
//     several), with PidTagInternetCodepage; multipart/alternative gives
//     both; the images of multipart/related that the HTML refers to are
//     hidden attachments with their Content-ID;
//   - every other leaf part as an attachment, named from its RFC 2231 or
//     RFC 2047 file name (Outlook's "ATT00001.ext" when it has none);
//     message/rfc822 parts as embedded messages; text/calendar parts stay
//     attachments;
//   - a winmail.dat (application/ms-tnef) decoded into the message's own
//     properties and attachments;
//   - S/MIME: a clear-signed message (multipart/signed) is
//     IPM.Note.SMIME.MultipartSigned with its body taken from the signed
//     part and the signed MIME entity kept as the attachment "smime.p7m";
//     an opaque (application/pkcs7-mime) one is IPM.Note.SMIME, kept whole
//     as "smime.p7m".
// Every string is PT_UNICODE. Charsets go through the code page layer.
//
// Damage is salvaged and told in Message::warnings, never a failure: a
// truncated message, a missing closing boundary, bad base64 or
// quoted-printable, missing header fields, mixed line ends, lines over
// 998 characters, unknown charsets. Only bytes that hold no header field
// at all (an empty file, UTF-16 text, binary data) are not a message.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fs/file_io.h"
#include "fs/result.h"
#include "store/core/bytes.h"
#include "store/core/message.h"

namespace tavrin::store::mime {

// Messages attached inside messages deeper than this are kept as .eml
// attachments instead of embedded messages.
inline constexpr int kMaxEmbedding = 32;

// Whether the bytes start like an Internet message (a header field, after
// an optional UTF-8 byte order mark and mbox "From " line).
bool looksLikeInternetMessage(ByteSpan head);

// Reads one Internet message. Fails (err::kCorrupt) only when the bytes
// hold no header field; running out of memory is err::kNoMemory.
Result<Message> readInternetMessage(ByteSpan bytes);

// One message of an mbox file, as MboxReader gives it.
struct MboxMessage {
    uint64_t ordinal = 0;  // 1 for the first message of the file
    uint64_t offset = 0;   // of its "From " line in the file
    Bytes bytes;           // the message without its "From " line, ">From " quoting undone
};

// The messages of an mbox file, one at a time, in file order, reading the
// file in fixed-size pieces: memory stays flat whatever the file's size
// (one message at a time, plus a 1 MiB buffer).
//
// A message starts at a line beginning "From " whose next line is a header
// field; the empty line before it belongs to the separator, and text
// before the first such line is skipped (told in Warnings()). A
// Content-Length field is a hint only: it is followed where it ends
// exactly at such a line (or at the end of the file), so that an unquoted
// "From " line inside that body does not split it; otherwise it is
// ignored. ">From ", ">>From " ... lose one '>' (mboxrd), except in a
// message whose Content-Length was followed and whose body holds an
// unquoted "From " line (mboxcl2, which does not quote).
class MboxReader {
public:
    ~MboxReader();
    MboxReader(MboxReader&&) noexcept;
    MboxReader& operator=(MboxReader&&) noexcept;

    // Opens the file read-only.
    static Result<MboxReader> open(const std::string& path);

    // The next message, or nullopt after the last. A read error fails, and
    // so does every later call.
    Result<std::optional<MboxMessage>> next();
    // The next message read into the model (readInternetMessage of its
    // bytes, its failure given as it is), or nullopt after the last.
    Result<std::optional<std::pair<uint64_t, Result<Message>>>> nextMessage();

    // For progress: the file's size, and how far it has been read.
    uint64_t size() const;
    uint64_t position() const;
    // What the reader found about the file as a whole (text before the
    // first message; a file with no message at all).
    const std::vector<std::string>& Warnings() const;

    // The number of messages of the file, counted by the same rule
    // without keeping any (one pass over the file).
    static Result<uint64_t> count(const std::string& path);

private:
    struct Impl;
    explicit MboxReader(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

// Splits mbox bytes already in memory by the same rule (tests, tools).
std::vector<MboxMessage> splitMbox(ByteSpan bytes, std::vector<std::string>* warnings = nullptr);

}  // namespace tavrin::store::mime
