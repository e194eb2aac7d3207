#include "store/msg/oxmsg/nameid.h"

#include <algorithm>

#include "store/msg/oxmsg/oxmsg_format.h"

namespace tavrin::store::oxmsg {

NameMap NameMap::parse(ByteSpan guids, ByteSpan entries, ByteSpan strings) {
    NameMap m;
    const size_t count = entries.size() / kNameEntrySize;
    m.names_.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* p = entries.data() + i * kNameEntrySize;
        const uint32_t key = loadLE32(p);
        const uint16_t kindAndGuid = loadLE16(p + 4);
        const uint16_t index = loadLE16(p + 6);
        const bool isString = (kindAndGuid & 1) != 0;
        const uint16_t guidIndex = static_cast<uint16_t>(kindAndGuid >> 1);
        NamedPropName n;
        if (guidIndex == kGuidIndexPsMapi) {
            n.guid = PS_MAPI;
        } else if (guidIndex == kGuidIndexPublicStrings) {
            n.guid = PS_PUBLIC_STRINGS;
        } else if (guidIndex >= kGuidIndexFirstStream) {
            auto g = getSlice(guids, uint64_t(guidIndex - kGuidIndexFirstStream) * 16, 16);
            if (!g) { m.skip(index, "its GUID index is out of range"); continue; }
            n.guid = *Guid::fromSpan(*g);
        } else {
            m.skip(index, "its GUID index is 0");  // not defined
            continue;
        }
        n.isString = isString;
        if (isString) {
            // [MS-OXMSG] 2.2.3.1.4 string stream: length in bytes (4), then UTF-16LE.
            auto len = getLE32(strings, key);
            if (!len || (*len & 1) || !inBounds(strings.size(), uint64_t(key) + 4, *len)) {
                m.skip(index, "its name is out of range of the string stream");
                continue;
            }
            n.name.resize(*len / 2);
            const uint8_t* s = strings.data() + key + 4;
            for (size_t k = 0; k < n.name.size(); ++k) n.name[k] = static_cast<char16_t>(loadLE16(s + 2 * k));
            while (!n.name.empty() && n.name.back() == u'\0') n.name.pop_back();
        } else {
            n.lid = key;
        }
        m.names_.emplace_back(index, std::move(n));
    }
    // The first entry for an index wins when a file repeats one.
    std::stable_sort(m.names_.begin(), m.names_.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    m.names_.erase(std::unique(m.names_.begin(), m.names_.end(), [](const auto& a, const auto& b) { return a.first == b.first; }),
                   m.names_.end());
    std::stable_sort(m.broken_.begin(), m.broken_.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    return m;
}

void NameMap::skip(uint16_t index, const char* why) {
    ++skipped_;
    broken_.emplace_back(index, why);
}

const char* NameMap::problem(uint16_t propertyId) const {
    if (propertyId < 0x8000) return nullptr;
    const uint16_t index = static_cast<uint16_t>(propertyId - 0x8000);
    auto it = std::lower_bound(broken_.begin(), broken_.end(), index, [](const auto& e, uint16_t v) { return e.first < v; });
    return it != broken_.end() && it->first == index ? it->second : nullptr;
}

const NamedPropName* NameMap::find(uint16_t propertyId) const {
    if (propertyId < 0x8000) return nullptr;
    const uint16_t index = static_cast<uint16_t>(propertyId - 0x8000);
    auto it = std::lower_bound(names_.begin(), names_.end(), index, [](const auto& e, uint16_t v) { return e.first < v; });
    if (it == names_.end() || it->first != index) return nullptr;
    return &it->second;
}

}  // namespace tavrin::store::oxmsg
