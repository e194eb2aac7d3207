// The strict PST verifier: everything a reader can check about a PST, each
// problem reported with where it is (file offset, BID or NID) and what is
// wrong. Used by `msg2pst verify`, and by the writer's tests on every file
// they write.
//
// What it checks, layer by layer:
//   header   both CRCs, magic values, sentinel, crypt method, ibFileEof,
//            ibAMapLast, cbAMapFree, cbPMapFree, bidNextB/bidNextP and
//            rgnid[] above everything in use;
//   pages    every page trailer (type, signature, CRC, BID) of the B-trees,
//            the AMap/PMap/FMap/FPMap pages at their intervals and the DList;
//   B-trees  key order inside and across pages, levels, entry sizes and
//            counts, each page reached once;
//   blocks   every block trailer (cb, BID, signature, CRC), internal block
//            structure (XBLOCK, XXBLOCK, SLBLOCK, SIBLOCK), every referenced
//            BID present, cRef = 1 + the references found;
//   AMaps    the bits match exactly the pages and blocks in use, no two
//            allocations overlap, none straddles a section;
//   layout   every block of a data tree but the last holds 8176 bytes;
//            row-matrix blocks hold whole rows, zero-padded to 8176 bytes
//            but the last ([MS-PST] 2.3.4.4), as Outlook writes them;
//   heaps    page maps, fill levels, BTree-on-heap structure, property and
//            table contexts (row index against row matrix, cells);
//   store    mandatory nodes, message store properties and EntryIDs, the
//            name-to-id map (entries, hash buckets, every named id used is
//            mapped), folders (hierarchy rows against sub-folders, contents
//            and FAI rows against messages, counts), messages (size as
//            Outlook computes it, attachment table, contents-row cells equal
//            to the message's properties).
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "fs/result.h"
#include "store/pst/ndb/byte_source.h"

namespace tavrin::pst::verify {

struct Finding {
    std::string where;  // "offset 0x4400 (AMap page)", "block 0x48 at 0x4a00", "node 0x8022"
    std::string what;
    std::string text() const { return where + ": " + what; }
};

struct VerifyOptions {
    // Findings kept in the report (all of them are counted).
    size_t maxFindings = 10000;
    // Also report what Outlook itself leaves in files it has used for a
    // while, which a file written in one go (as the writer does) must not
    // have:
    //   - whole 512-byte pages marked in use in an AMap that hold no page
    //     or block (superseded B-tree pages not yet reused);
    //   - a contents-table PidTagMessageSize cell that differs from the
    //     message's own (Outlook updates the row lazily);
    //   - a PidTagMessageSize that is not the newer block-sum formula but
    //     the older Outlook estimate;
    //   - a named-property table column that no row uses and the
    //     name-to-id map does not know;
    //   - a DList whose BID is below the header's bidNextP.
    bool strict = false;
    // Check the values a table's cells name (heap allocations and
    // subnodes, and which allocations no cell uses). Off, a table is
    // checked as a structure only: heap, row index, row matrix, columns.
    bool tableCellValues = true;
};

struct VerifyReport {
    std::vector<Finding> findings;
    uint64_t totalFindings = 0;
    // Notes: what [MS-PST] rules out or a writer must not do, but Outlook
    // itself leaves in files it wrote, so that it is no fault of the file:
    //   - a non-zero qwUnused in the header;
    //   - blocks in the block B-tree that no node or block references;
    //   - a heap fill level one class off what the free space gives (at a
    //     class boundary Outlook's level is one class emptier);
    //   - allocation maps marked invalid (fAMapValid INVALID_AMAP), as a
    //     writer that stopped in the middle of a change leaves them: the
    //     maps, the density list and bytes past ibFileEof are then not
    //     checked, since the next writer rebuilds them from the B-trees.
    // They never make a report unclean; `verify --strict` shows them.
    std::vector<Finding> notes;
    uint64_t totalNotes = 0;
    // What was looked at.
    uint64_t pages = 0;
    uint64_t blocks = 0;
    uint64_t nodes = 0;
    uint64_t heaps = 0;
    uint64_t folders = 0;
    uint64_t messages = 0;
    bool clean() const { return totalFindings == 0; }
};

// Verifies the PST at `path`. Fails only when the file cannot be opened;
// a file that is not a PST is a report with a finding.
Result<VerifyReport> verifyFile(const std::string& path, const VerifyOptions& options = {});
VerifyReport verify(std::unique_ptr<ndb::ByteSource> source, const VerifyOptions& options = {});

// The checks of the heap pass over a few nodes of a file: each node's data
// tree layout, its heap, property or table context, and its subnodes, the
// same way, with block CRCs and trailers as the node database reads them.
// For a change that must not rewrite a node with findings. `source` is
// borrowed for the call.
std::vector<Finding> verifyNodes(const ndb::ByteSource& source, std::span<const uint32_t> nids,
                                 const VerifyOptions& options = {});

}  // namespace tavrin::pst::verify
