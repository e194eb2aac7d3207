#include "store/core/message.h"

#include "store/core/tags.h"

namespace tavrin::store {

uint32_t Message::codepage(uint32_t fallback) const {
    if (auto cp = props.getInt32(tags::PidTagInternetCodepage); cp && *cp > 0) return static_cast<uint32_t>(*cp);
    if (auto cp = props.getInt32(tags::PidTagMessageCodepage); cp && *cp > 0) return static_cast<uint32_t>(*cp);
    return fallback;
}

}  // namespace tavrin::store
