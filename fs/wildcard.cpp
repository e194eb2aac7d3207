#include "fs/wildcard.h"

#include <algorithm>
#include <vector>

#include "fs/text.h"

namespace tavrin::fs {
namespace {

char16_t foldAscii(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - u'a' + u'A') : c; }

}  // namespace

bool hasWildcards(std::string_view namePattern) { return namePattern.find_first_of("*?") != std::string_view::npos; }

std::u16string toSearchExpression(std::u16string_view pattern) {
    // The characters after a position decide its rewriting, and they are
    // read before the trailing dots are dropped: "*." gives DOS_STAR.
    size_t keep = pattern.size();
    while (keep > 0 && pattern[keep - 1] == u'.') --keep;
    const std::u16string_view kept = pattern.substr(0, keep);
    if (kept == u"*.*") return u"*";
    std::u16string out;
    out.reserve(keep);
    for (size_t i = 0; i < keep; ++i) {
        const char16_t c = pattern[i];
        const char16_t next = i + 1 < pattern.size() ? pattern[i + 1] : u'\0';
        if (c == u'?') out.push_back(kDosQm);
        else if (c == u'*' && next == u'.') out.push_back(kDosStar);
        else if (c == u'.' && (next == u'?' || next == u'*')) out.push_back(kDosDot);
        else out.push_back(c);
    }
    return out;
}

bool matchesSearchExpression(std::u16string_view expr, std::u16string_view name) {
    const size_t P = expr.size(), N = name.size();
    // Position of the name's last "." (N when it has none): DOS_STAR may
    // not consume it.
    size_t lastDot = N;
    for (size_t k = N; k > 0; --k)
        if (name[k - 1] == u'.') { lastDot = k - 1; break; }

    // reach[n]: the expression prefix matched so far can end at name
    // position n. One row per expression character; O(P * N) in all.
    std::vector<char> reach(N + 1, 0), nextReach(N + 1, 0);
    reach[0] = 1;
    for (size_t p = 0; p < P; ++p) {
        std::fill(nextReach.begin(), nextReach.end(), 0);
        const char16_t e = expr[p];
        if (e == u'*' || e == kDosStar) {
            // Runs of characters, swept left to right. DOS_STAR's run may
            // end just before the last "." but not go past it.
            bool active = false;
            for (size_t n = 0; n <= N; ++n) {
                if (reach[n]) active = true;
                nextReach[n] = active;
                if (e == kDosStar && n == lastDot) active = false;
            }
        } else {
            for (size_t n = 0; n <= N; ++n) {
                if (!reach[n]) continue;
                switch (e) {
                    case kDosQm:
                        if (n == N || name[n] == u'.') nextReach[n] = 1;
                        else nextReach[n + 1] = 1;
                        break;
                    case kDosDot:
                        if (n == N) nextReach[n] = 1;
                        else if (name[n] == u'.') nextReach[n + 1] = 1;
                        break;
                    case u'?':
                        if (n < N) nextReach[n + 1] = 1;
                        break;
                    default:
                        if (n < N && foldAscii(name[n]) == foldAscii(e)) nextReach[n + 1] = 1;
                        break;
                }
            }
        }
        reach.swap(nextReach);
    }
    return reach[N] != 0;
}

bool matchesWindowsPattern(std::string_view namePattern, std::string_view name) {
    return matchesSearchExpression(toSearchExpression(text::toUtf16(namePattern)), text::toUtf16(name));
}

}  // namespace tavrin::fs
