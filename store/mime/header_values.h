// Structured header values of RFC 5322: address lists and date-times.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "store/mime/mime_text.h"

namespace tavrin::store::mime {

struct Mailbox {
    std::u16string name;  // display name, RFC 2047 words decoded; may be empty
    std::string address;  // the address as written ("user@example.com"); may be empty
};

// The mailboxes of an address list (RFC 5322 3.4, with the obsolete forms
// real mail uses): groups are flattened ("undisclosed-recipients:;" gives
// none), a comment stands for a missing display name ("a@b (Ann)"), an
// entry without '@' is a name without an address. `value` is unfolded.
std::vector<Mailbox> parseAddressList(std::string_view value, Findings* findings, std::string_view where);

// An RFC 5322 date-time (and the obsolete and sloppy forms mail carries:
// no day name, two-digit years, zone names, no seconds, no zone (UTC),
// asctime and ISO 8601 forms) as a FILETIME; nullopt when unreadable.
std::optional<uint64_t> parseDateTime(std::string_view value);

// The date of a Received field: what follows its last ';'.
std::optional<uint64_t> parseReceivedDate(std::string_view value);

}  // namespace tavrin::store::mime
