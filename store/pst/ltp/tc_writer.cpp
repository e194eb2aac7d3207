#include "store/pst/ltp/tc_writer.h"

#include <algorithm>
#include <cstring>

#include "store/core/props.h"

namespace tavrin::pst::ltp {

using store::storeLE16;
using store::storeLE32;
using store::storeLE64;
using store::MutableByteSpan;

namespace {
Error tcError(const std::string& what) { return Error(err::kCallFailed, "PST table writer: " + what); }
}  // namespace

uint8_t TcSchema::cellSize(uint16_t type) {
    if (store::isMultiValued(type)) return store::isKnownType(type) ? 4 : 0;
    switch (type) {
        case store::PT_I8: case store::PT_SYSTIME: case store::PT_DOUBLE: case store::PT_CURRENCY:
        case store::PT_APPTIME:
            return 8;
        case store::PT_LONG: case store::PT_R4: case store::PT_ERROR:
            return 4;
        case store::PT_I2:
            return 2;
        case store::PT_BOOLEAN:
            return 1;
        default:
            // Variable-size values: the cell holds an HNID.
            return store::isVariableSize(type) ? 4 : 0;
    }
}

Result<TcSchema> TcSchema::make(std::span<const uint32_t> tags) {
    TcSchema s;
    std::vector<uint32_t> order = {PidTagLtpRowId, PidTagLtpRowVer};
    for (uint32_t t : tags)
        if (t != PidTagLtpRowId && t != PidTagLtpRowVer) order.push_back(t);
    if (order.size() > 255) return tcError("more than 255 columns");
    for (size_t i = 0; i < order.size(); ++i)
        for (size_t j = 0; j < i; ++j)
            if (store::tagId(order[i]) == store::tagId(order[j])) return tcError("repeated column");
    s.cols_.resize(order.size());
    for (size_t i = 0; i < order.size(); ++i) {
        const uint8_t cb = cellSize(store::tagType(order[i]));
        if (cb == 0) return tcError("column of an unsupported type");
        s.cols_[i] = TcColumn{order[i], 0, cb, static_cast<uint8_t>(i)};
    }
    uint16_t ib = 0;
    for (uint8_t want : {uint8_t(0), uint8_t(2), uint8_t(1)}) {
        for (TcColumn& c : s.cols_) {
            const bool take = want == 0 ? c.cb >= 4 : c.cb == want;
            if (!take) continue;
            c.ib = ib;
            ib = static_cast<uint16_t>(ib + c.cb);
        }
        s.rgib_[want == 0 ? 0 : want == 2 ? 1 : 2] = ib;
    }
    s.rgib_[3] = static_cast<uint16_t>(ib + (s.cols_.size() + 7) / 8);
    return s;
}

int TcSchema::indexOf(uint32_t tag) const {
    for (size_t i = 0; i < cols_.size(); ++i)
        if (cols_[i].tag == tag) return static_cast<int>(i);
    return -1;
}

TableWriter::TableWriter(ndb::BlockSink& ndb, const TcSchema& schema, uint32_t rowCount,
                         std::function<uint32_t()> newLtpNid)
    : ndb_(ndb),
      schema_(schema),
      rowCount_(rowCount),
      newNid_(std::move(newLtpNid)),
      inHeap_(uint64_t(rowCount) * schema.rowSize() <= kMaxHeapAlloc),
      heap_(bTypeTC, inHeap_ ? HeapWriter::BlockSink() : HeapWriter::BlockSink([this](uint32_t idx, Bytes&& b) -> Status {
          while (heapTree_.count() < idx) heapTree_.reserve();
          auto bid = ndb_.writeBlock(b, false);
          if (!bid) return std::move(bid).error();
          out_.external += b.size();
          heapTree_.add(*bid, static_cast<uint32_t>(b.size()));
          return {};
      })),
      index_(heap_, 4, 4),
      heapTree_(ndb),
      matrixTree_(ndb) {
    auto info = heap_.reserve(TCINFO::kHeadSize + TCOLDESC::kSize * schema_.columns().size());
    if (!info) {
        error_ = std::move(info).error();
        return;
    }
    tcinfo_ = *info;
    heap_.setUserRoot(tcinfo_);
    index_.reserveLeaf(rowCount_);
    if (inHeap_ && rowCount_ > 0) {
        auto m = heap_.reserve(size_t(rowCount_) * schema_.rowSize());
        if (!m) {
            error_ = std::move(m).error();
            return;
        }
        matrixHid_ = *m;
        matrix_.reserve(size_t(rowCount_) * schema_.rowSize());
    }
    if (!index_.status()) error_ = index_.status();
}

Status TableWriter::encodeRow(std::span<const TcCell> cells, uint8_t* row) {
    const auto& cols = schema_.columns();
    const uint16_t ceb = schema_.rgib()[2];
    for (size_t i = 0; i < cols.size(); ++i) {
        const TcCell& c = cells[i];
        if (!c.present) continue;
        const TcColumn& col = cols[i];
        uint8_t* cell = row + col.ib;
        switch (col.cb) {
            case 8: storeLE64(cell, c.scalar); break;
            case 2: storeLE16(cell, static_cast<uint16_t>(c.scalar)); break;
            case 1: *cell = c.scalar ? 1 : 0; break;
            default: {
                const uint16_t type = store::tagType(col.tag);
                if (!store::isMultiValued(type) && store::fixedSize(type) == 4) {
                    storeLE32(cell, static_cast<uint32_t>(c.scalar));
                    break;
                }
                uint32_t hnid = 0;
                if (c.data.size() > kMaxHeapAlloc) {
                    const uint32_t nid = newNid_();
                    auto bid = ndb_.writeStream(c.data, &out_.external);
                    if (!bid) return std::move(bid).error();
                    out_.subnodes.push_back({nid, *bid, 0});
                    hnid = nid;
                } else if (!c.data.empty()) {
                    auto hid = heap_.allocate(c.data);
                    if (!hid) return std::move(hid).error();
                    hnid = *hid;
                }
                storeLE32(cell, hnid);
            }
        }
        // [MS-PST] 2.3.4.4: the cell existence bitmap.
        setCebBit(MutableByteSpan(row, schema_.rowSize()), ceb, col.iBit, true);
    }
    return {};
}

Status TableWriter::addRow(std::span<const TcCell> cells) {
    if (!error_) return error_;
    if (cells.size() != schema_.columns().size()) return error_ = tcError("row with the wrong number of cells");
    if (rows_ >= rowCount_) return error_ = tcError("more rows than announced");
    const uint32_t rowId = static_cast<uint32_t>(cells[0].scalar);
    const size_t size = schema_.rowSize();
    uint8_t row[kHeapBlockSize];
    std::memset(row, 0, size);
    if (auto s = encodeRow(cells, row); !s) return error_ = s;
    if (inHeap_) {
        idx_.emplace_back(rowId, rows_);
    } else {
        if (auto s = addIndexRecord(rowId, rows_); !s) return error_ = s;
        // Rows never span blocks ([MS-PST] 2.3.4.4): a block holds whole
        // rows, and one that is followed by another is padded to 8176
        // bytes. The block is written once the next row is known to exist,
        // so that the last block stays unpadded.
        if (matrix_.size() + size > kHeapBlockSize)
            if (auto s = writeMatrixBlock(false); !s) return error_ = s;
    }
    matrix_.insert(matrix_.end(), row, row + size);
    ++rows_;
    return {};
}

// [MS-PST] 2.3.4.3.1 TCROWID: the row id is the key, the row's position in
// the row matrix the data.
Status TableWriter::addIndexRecord(uint32_t rowId, uint32_t position) {
    uint8_t r[8];
    (void)TCROWID{rowId, position}.encode(MutableByteSpan(r, sizeof r));
    return index_.add(rowId, ByteSpan(r + 4, 4));
}

// [MS-PST] 2.3.4.4: "rows per block" = floor(8176 / row size); every
// block but the last is then filled up with zeros to 8176 bytes, as Outlook
// writes it and as readers that step through the row matrix in 8176-byte
// blocks need it.
Status TableWriter::writeMatrixBlock(bool last) {
    if (!last) matrix_.resize(kHeapBlockSize, 0);
    auto bid = ndb_.writeBlock(matrix_, false);
    if (!bid) return std::move(bid).error();
    out_.external += matrix_.size();
    matrixTree_.add(*bid, static_cast<uint32_t>(matrix_.size()));
    matrix_.clear();
    return {};
}

Result<NodeData> TableWriter::finish(uint16_t references) {
    if (!error_) return error_.error();
    if (rows_ != rowCount_) return tcError("fewer rows than announced");
    uint32_t hnidRows = 0;
    if (inHeap_) {
        if (rows_ > 0) {
            if (auto s = heap_.patch(matrixHid_, 0, matrix_); !s) return std::move(s).take();
            hnidRows = matrixHid_;
        }
        std::sort(idx_.begin(), idx_.end());
        for (const auto& [id, pos] : idx_)
            if (auto s = addIndexRecord(id, pos); !s) return std::move(s).take();
    } else if (rows_ > 0) {
        if (!matrix_.empty())
            if (auto s = writeMatrixBlock(true); !s) return std::move(s).take();
        auto bid = matrixTree_.finish();
        if (!bid) return std::move(bid).error();
        out_.subnodes.push_back({kRowMatrixNid, *bid, 0});
        hnidRows = kRowMatrixNid;
    }
    if (auto s = index_.finish(); !s) return std::move(s).take();

    // [MS-PST] 2.3.4.1 TCINFO, descriptors sorted by tag as Outlook sorts them.
    TCINFO info;
    info.rgib = schema_.rgib();
    info.hidRowIndex = index_.headerHid();
    info.hnidRows = hnidRows;
    info.hidIndex = 0;  // deprecated
    for (const TcColumn& c : schema_.columns()) info.cols.push_back(TCOLDESC{c.tag, c.ib, c.cb, c.iBit});
    std::sort(info.cols.begin(), info.cols.end(), [](const TCOLDESC& a, const TCOLDESC& b) { return a.tag < b.tag; });
    if (auto s = heap_.patch(tcinfo_, 0, info.encode()); !s) return std::move(s).take();

    auto blocks = heap_.finish();
    if (!blocks) return std::move(blocks).error();
    if (references > 1 && (!out_.subnodes.empty() || blocks->size() != 1 || heapTree_.count() > 0))
        return tcError("only a one-block table can be shared");
    if (inHeap_ && blocks->size() == 1 && heapTree_.count() == 0) {
        out_.external += (*blocks)[0].second.size();
        auto bid = ndb_.writeBlock((*blocks)[0].second, false, references);
        if (!bid) return std::move(bid).error();
        out_.bidData = *bid;
    } else {
        for (auto& [idx, bytes] : *blocks) {
            auto bid = ndb_.writeBlock(bytes, false);
            if (!bid) return std::move(bid).error();
            out_.external += bytes.size();
            if (idx < heapTree_.count()) {
                heapTree_.fill(idx, *bid, static_cast<uint32_t>(bytes.size()));
            } else {
                while (heapTree_.count() < idx) heapTree_.reserve();
                heapTree_.add(*bid, static_cast<uint32_t>(bytes.size()));
            }
        }
        auto root = heapTree_.finish();
        if (!root) return std::move(root).error();
        out_.bidData = *root;
    }
    std::sort(out_.subnodes.begin(), out_.subnodes.end(),
              [](const ndb::SubnodeEntry& a, const ndb::SubnodeEntry& b) { return a.nid < b.nid; });
    return std::move(out_);
}

}  // namespace tavrin::pst::ltp
