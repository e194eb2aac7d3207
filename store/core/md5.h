// MD5 (RFC 1321), for the values the PST format defines by it: a message's
// conversation id ([MS-PST] 5.4). Not for anything that needs a secure hash.
#pragma once

#include <array>
#include <cstdint>

#include "store/core/bytes.h"

namespace tavrin::store {

std::array<uint8_t, 16> md5(ByteSpan data);

}  // namespace tavrin::store
