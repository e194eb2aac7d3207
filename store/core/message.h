// A message as a tree of property bags: the message itself, its recipients
// and its attachments, each attachment holding by-value data in its bag, an
// embedded message, or an OLE storage kept whole so that it can be written
// out again as a compound file.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "store/core/props.h"

namespace tavrin::store {

// A storage or stream of a compound file ([MS-CFB] 2.6), kept with what a
// writer needs to reproduce it: names, CLSID, state bits, times and data.
struct StorageEntry {
    std::u16string name;
    bool isStorage = false;
    Guid clsid;
    uint32_t stateBits = 0;
    uint64_t creationTime = 0;
    uint64_t modifiedTime = 0;
    Bytes data;                          // streams only
    std::vector<StorageEntry> children;  // storages only
};

struct Message;

struct Recipient {
    PropertyBag props;
};

struct Attachment {
    PropertyBag props;
    // afEmbeddedMessage (method 5): the message inside the attachment.
    std::unique_ptr<Message> embedded;
    // afStorage (method 6): the OLE object's storage (its root entry's name
    // is irrelevant; children and CLSID are what matters).
    std::unique_ptr<StorageEntry> storage;
};

struct Message {
    PropertyBag props;
    std::vector<Recipient> recipients;
    std::vector<Attachment> attachments;
    // What a reader could not read and left out of this message, one line
    // each ("attachment 2: no property stream"); empty when the message was
    // read whole. A reader that salvages a damaged file fills it on the
    // message it returns (nested messages' findings included, with where
    // they are), not on embedded messages.
    std::vector<std::string> warnings;

    const std::vector<std::string>& Warnings() const { return warnings; }

    // The code page of the message's 8-bit strings (PT_STRING8):
    // PR_MESSAGE_CODEPAGE, else the ANSI code page of PR_MESSAGE_LOCALE_ID,
    // else PR_INTERNET_CPID, else `fallback`. (PR_INTERNET_CPID describes
    // the internet form of the body: a message written on a German system
    // can carry it as 65001 while its 8-bit strings are in 1252.)
    uint32_t codepage(uint32_t fallback = 1252) const;
    // The code page of the body's internet form, for an HTML body stored as
    // bytes: PR_INTERNET_CPID, else PR_MESSAGE_CODEPAGE, else `fallback`.
    uint32_t internetCodepage(uint32_t fallback = 65001) const;
};

}  // namespace tavrin::store
