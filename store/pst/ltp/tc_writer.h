// Table context writer ([MS-PST] 2.3.4).
//
// A small table (its row matrix fits one heap allocation) is laid out in
// memory the way Outlook lays it out: row-index BTHHEADER at HID 0x20,
// TCINFO at 0x40, the row-index leaf at 0x60, the row matrix at 0x80, then
// the cell values. A larger table streams: heap pages are written as they
// fill, the row matrix goes to a subnode in blocks of whole rows (padded to
// 8176 bytes but the last), and rows must then come in ascending row id
// (which the row index needs anyway).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "fs/result.h"
#include "store/core/bytes.h"
#include "store/pst/ltp/heap_writer.h"
#include "store/pst/ndb/ndb_writer.h"

namespace tavrin::pst::ltp {

// The NID Outlook gives a row matrix kept in a subnode.
inline constexpr uint32_t kRowMatrixNid = 0x3F;

// [MS-PST] 2.3.4.2 TCOLDESC.
struct TcColumn {
    uint32_t tag = 0;
    uint16_t ib = 0;
    uint8_t cb = 0;
    uint8_t iBit = 0;
};

// The columns of a table and its row layout. Columns keep the order they
// are given in (PidTagLtpRowId and PidTagLtpRowVer first): the cell bit of
// a column is its position, 4- and 8-byte cells follow each other in that
// order, then 2-byte cells, then 1-byte cells, then the cell existence
// bitmap, as Outlook lays out its tables.
class TcSchema {
public:
    static Result<TcSchema> make(std::span<const uint32_t> tags);
    const std::vector<TcColumn>& columns() const { return cols_; }
    // TCI_4b, TCI_2b, TCI_1b, TCI_bm ([MS-PST] 2.3.4.1).
    const std::array<uint16_t, 4>& rgib() const { return rgib_; }
    uint16_t rowSize() const { return rgib_[3]; }
    int indexOf(uint32_t tag) const;
    static uint8_t cellSize(uint16_t type);

private:
    std::vector<TcColumn> cols_;
    std::array<uint16_t, 4> rgib_{};
};

// One cell: absent, or a value (fixed-size in `scalar`, otherwise bytes).
struct TcCell {
    bool present = false;
    uint64_t scalar = 0;
    ByteSpan data;
};

// A node's data stream and subnodes as written.
struct NodeData {
    uint64_t bidData = 0;
    std::vector<ndb::SubnodeEntry> subnodes;  // sorted by NID
    uint64_t external = 0;                    // bytes of every external block written
};

class TableWriter {
public:
    // `rowCount` rows will be added. `newLtpNid` gives NIDs for cell values
    // too large for the heap.
    TableWriter(ndb::BlockSink& ndb, const TcSchema& schema, uint32_t rowCount,
                std::function<uint32_t()> newLtpNid);

    // `cells` has one entry per column; cells[0] is the row id and cells[1]
    // the row version.
    Status addRow(std::span<const TcCell> cells);
    // Writes what is left. `references` > 1 shares the table's one block
    // between that many nodes (only for a table without subnodes).
    Result<NodeData> finish(uint16_t references = 1);

private:
    Status encodeRow(std::span<const TcCell> cells, uint8_t* row);
    Status writeMatrixBlock(bool last);
    Status addIndexRecord(uint32_t rowId, uint32_t position);

    ndb::BlockSink& ndb_;
    const TcSchema& schema_;
    uint32_t rowCount_;
    uint32_t rows_ = 0;
    std::function<uint32_t()> newNid_;
    bool inHeap_;
    HeapWriter heap_;
    BthWriter index_;
    uint32_t tcinfo_ = 0;
    uint32_t matrixHid_ = 0;
    Bytes matrix_;                                  // rows in memory (heap mode) or the current block
    std::vector<std::pair<uint32_t, uint32_t>> idx_;  // heap mode: row id, row index
    ndb::DataTreeBuilder heapTree_;
    ndb::DataTreeBuilder matrixTree_;
    NodeData out_;
    Status error_;
};

}  // namespace tavrin::pst::ltp
