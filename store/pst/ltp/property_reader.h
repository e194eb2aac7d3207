// Property contexts ([MS-PST] 2.3.3) and table contexts ([MS-PST] 2.3.4)
// read into the shared property model (store/core/props.h).
//
// Values come back raw, as the model keeps them: fixed-size values in
// Property::scalar, variable-size ones in Property::data, multi-valued ones
// in Property::multi. A PT_OBJECT value is left as its 8-byte [MS-PST]
// 2.3.3.5 reference (subnode NID and size) in Property::data; the messaging
// layer turns it into an embedded message or an OLE storage. Named
// properties get no name here: the name-to-id map is a messaging concept.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "fs/result.h"
#include "store/core/props.h"
#include "store/pst/ltp/heap_reader.h"
#include "store/pst/ndb/database_reader.h"

namespace tavrin::pst::ltp {

// An HNID's bytes: a heap allocation or a whole subnode's stream ([MS-PST]
// 2.3.3.2). HNID 0 is an empty value.
Result<Bytes> readHnid(const Heap& heap, const ndb::Node& node, uint32_t hnid);

// A property from its tag and its stored bytes (not for the types stored
// inline in a PC record). Fails when a fixed-size value has the wrong size
// or a multi-valued layout is broken.
Result<store::Property> propertyFromBytes(uint32_t tag, ByteSpan raw);
// Whether propertyFromBytes would take these bytes, with its error when
// not; nothing is copied.
Status checkPropertyBytes(uint32_t tag, ByteSpan raw);

// The heap of a node, read from its data blocks.
Result<Heap> readHeap(const ndb::Node& node);
// The same from the node's data blocks already read (node.dataBlocks()).
Result<Heap> heapFromBlocks(const ndb::Node& node, std::vector<Bytes> blocks);

class PropertyContext {
public:
    // Reads the node's heap and its property BTH. Fails when the heap is
    // not a PC (bClientSig 0xBC) or the BTH is not cbKey 2 / cbEnt 6.
    static Result<PropertyContext> open(const ndb::Node& node);
    // The same over the node's heap already read (readHeap()).
    static Result<PropertyContext> open(const ndb::Node& node, std::shared_ptr<const Heap> heap);

    const std::vector<PropEntry>& entries() const { return entries_; }
    const Heap& heap() const { return *heap_; }
    const ndb::Node& node() const { return node_; }

    // One property's value.
    Result<store::Property> read(const PropEntry& e) const;
    // Every property, in the PC's key order.
    Result<std::vector<store::Property>> readAll() const;

private:
    ndb::Node node_;
    std::shared_ptr<const Heap> heap_;
    std::vector<PropEntry> entries_;
};

class TableContext {
public:
    // Reads the node's heap, TCINFO, row index and row matrix. Fails when
    // the heap is not a TC (bClientSig 0x7C), a column's cell lies outside
    // the row, or the row matrix cannot be read.
    static Result<TableContext> open(const ndb::Node& node);
    // The same over the node's heap already read (readHeap()).
    static Result<TableContext> open(const ndb::Node& node, std::shared_ptr<const Heap> heap);

    const TCINFO& info() const { return info_; }
    const Heap& heap() const { return *heap_; }
    const ndb::Node& node() const { return node_; }
    // Rows in the row matrix.
    uint32_t rowCount() const { return rowCount_; }
    // The row index BTH's records (dwRowID -> dwRowIndex), as stored.
    Result<std::vector<TCROWID>> rowIndex() const;
    // The row's bytes (TCI_bm of them).
    ByteSpan rowBytes(uint32_t i) const;
    // The dwRowID of a row (its first four bytes, PidTagLtpRowId).
    uint32_t rowId(uint32_t i) const;
    // The column with this tag, or null.
    const TCOLDESC* column(uint32_t tag) const;
    // The existing cells of a row, resolved into properties (the LTP
    // columns PidTagLtpRowId/PidTagLtpRowVer included).
    Result<std::vector<store::Property>> row(uint32_t i) const;
    // One cell; nullopt when its existence bit is clear or the column is
    // absent.
    Result<std::optional<store::Property>> cell(uint32_t i, const TCOLDESC& col) const;
    // Where the rows are: in the heap (HID), in a subnode, or nowhere.
    bool rowsInSubnode() const { return info_.hnidRows != 0 && !hnidIsHid(info_.hnidRows); }
    const std::vector<Bytes>& rowBlocks() const { return rowBlocks_; }

private:
    ndb::Node node_;
    std::shared_ptr<const Heap> heap_;
    TCINFO info_;
    std::vector<Bytes> rowBlocks_;       // the row matrix, whole rows per block
    std::vector<uint32_t> rowsBefore_;   // rows in blocks before block b
    uint32_t rowCount_ = 0;
};


}  // namespace tavrin::pst::ltp
