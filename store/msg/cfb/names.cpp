#include "store/msg/cfb/names.h"

#include "store/core/upper_case.h"

namespace tavrin::store::cfb {

int compareNames(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
    for (size_t i = 0; i < a.size(); ++i) {
        const char16_t x = simpleUpperCase(a[i]), y = simpleUpperCase(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    return 0;
}

}  // namespace tavrin::store::cfb
