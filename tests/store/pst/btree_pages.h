// The pages of one B-tree of a PST in memory, for tests that damage them.
#pragma once

#include <cstdint>
#include <vector>

#include "store/pst/ndb/records.h"

namespace tavrin::pst::testing {

// Where one page of a B-tree lies, its BID and its level.
struct PageRef {
    uint64_t ib = 0;
    uint64_t bid = 0;
    uint8_t level = 0;
};

// Every page of the B-tree at `root`, root first, found by walking the
// pages as stored (at most 1000, and never past the end of `file`).
inline std::vector<PageRef> pagesOf(const store::Bytes& file, const ndb::Bref& root) {
    std::vector<PageRef> out;
    std::vector<ndb::Bref> todo = {root};
    while (!todo.empty() && out.size() < 1000) {
        const ndb::Bref r = todo.back();
        todo.pop_back();
        if (r.ib > file.size() || file.size() - r.ib < ndb::kPageSize) break;
        store::ByteSpan p(file.data() + r.ib, ndb::kPageSize);
        auto info = ndb::BTPageInfo::decode(p);
        if (!info) break;
        out.push_back({r.ib, r.bid, info->cLevel});
        if (info->cLevel > 0)
            for (uint32_t i = 0; i < info->cEnt; ++i)
                todo.push_back(ndb::BTEntry::decode(p.subspan(i * info->cbEnt, info->cbEnt))->bref);
    }
    return out;
}

}  // namespace tavrin::pst::testing
