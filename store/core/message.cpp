#include "store/core/message.h"

#include "store/core/codepage.h"
#include "store/core/tags.h"

namespace tavrin::store {

namespace {
std::optional<uint32_t> positive(const PropertyBag& bag, uint16_t id) {
    if (auto v = bag.getInt32(id); v && *v > 0) return static_cast<uint32_t>(*v);
    return std::nullopt;
}
}  // namespace

uint32_t Message::codepage(uint32_t fallback) const {
    if (auto cp = positive(props, tags::PidTagMessageCodepage)) return *cp;
    if (auto lcid = positive(props, tags::PidTagMessageLocaleId))
        if (const uint32_t cp = ansiCodepageForLcid(*lcid)) return cp;
    if (auto cp = positive(props, tags::PidTagInternetCodepage)) return *cp;
    return fallback;
}

uint32_t Message::internetCodepage(uint32_t fallback) const {
    if (auto cp = positive(props, tags::PidTagInternetCodepage)) return *cp;
    if (auto cp = positive(props, tags::PidTagMessageCodepage)) return *cp;
    return fallback;
}

}  // namespace tavrin::store
