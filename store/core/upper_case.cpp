#include "store/core/upper_case.h"

namespace tavrin::store {

char16_t simpleUpperCase(char16_t c) {
    if (c < 0x80) return (c >= u'a' && c <= u'z') ? char16_t(c - 0x20) : c;
    if (c < 0x100) {
        if (c == 0xFF) return 0x178;  // ÿ -> Ÿ
        if (c >= 0xE0 && c != 0xF7) return char16_t(c - 0x20);
        if (c == 0xB5) return 0x39C;  // micro sign -> Greek capital mu
        return c;
    }
    // Latin Extended-A: pairs of capital (even) and small (odd) letters, with
    // the pairs shifted by one in 0x0139..0x0148 and 0x0179..0x017E.
    if (c >= 0x100 && c <= 0x17F) {
        if (c == 0x131) return u'I';
        if (c == 0x17F) return u'S';
        if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) return (c & 1) ? c : char16_t(c - 1);
        if (c == 0x138 || c == 0x149) return c;
        return (c & 1) ? char16_t(c - 1) : c;
    }
    if (c >= 0x3B1 && c <= 0x3CB && c != 0x3C2) return char16_t(c - 0x20);  // Greek
    if (c == 0x3C2) return 0x3A3;                                            // final sigma
    if (c >= 0x3AC && c <= 0x3CE) {
        switch (c) {
            case 0x3AC: return 0x386;
            case 0x3AD: return 0x388;
            case 0x3AE: return 0x389;
            case 0x3AF: return 0x38A;
            case 0x3CC: return 0x38C;
            case 0x3CD: return 0x38E;
            case 0x3CE: return 0x38F;
            default: return c;
        }
    }
    if (c >= 0x430 && c <= 0x44F) return char16_t(c - 0x20);  // Cyrillic
    if (c >= 0x450 && c <= 0x45F) return char16_t(c - 0x50);
    if ((c >= 0x460 && c <= 0x481) || (c >= 0x48A && c <= 0x4BF)) return (c & 1) ? char16_t(c - 1) : c;
    if (c >= 0x561 && c <= 0x586) return char16_t(c - 0x30);  // Armenian
    if (c >= 0xFF41 && c <= 0xFF5A) return char16_t(c - 0x20);  // full-width Latin
    return c;
}

}  // namespace tavrin::store
