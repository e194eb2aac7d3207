// The verifier's working state, shared by its three passes: the node
// database (ndb_checks.cpp), the heaps and tables of every node
// (ltp_checks.cpp) and the messaging objects (store_checks.cpp).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "store/core/props.h"
#include "store/pst/ltp/property_reader.h"
#include "store/pst/ndb/database_reader.h"
#include "store/pst/ndb/records.h"
#include "store/pst/verify/verifier.h"

namespace tavrin::pst::verify {

using ndb::Flavour;
using ndb::hex;
using store::Bytes;
using store::ByteSpan;

class Verifier {
public:
    Verifier(std::unique_ptr<ndb::ByteSource> source, const VerifyOptions& options, VerifyReport& report)
        : src_(std::move(source)), options_(options), rep_(report) {}

    void run();

    // ---- shared helpers ----
    void add(std::string where, std::string what);
    // What Outlook itself writes against the letter of [MS-PST]; see
    // VerifyReport::notes.
    void note(std::string where, std::string what);
    static std::string nodeWhere(uint32_t nid) { return "node " + hex(nid); }
    static std::string blockWhere(uint64_t bid, uint64_t ib) { return "block " + hex(bid) + " at " + hex(ib); }
    static std::string pageWhere(const char* kind, uint64_t bid, uint64_t ib) {
        return std::string(kind) + " page " + hex(bid) + " at " + hex(ib);
    }

    // ---- node database pass (ndb_checks.cpp) ----
    bool checkHeader();
    void walkBTree(uint8_t ptype);
    void checkBlocks();
    void checkReferences();
    void checkMaps();
    void checkCounters();

    // ---- heap pass (ltp_checks.cpp) ----
    void checkAllNodes();
    void checkNodeContent(const ndb::Node& node, const std::string& where, uint32_t depth);
    void checkDataTreeLayout(const std::vector<Bytes>& blocks, const std::string& where);
    // Checks a heap's own structure; returns it when it can be read.
    std::optional<ltp::Heap> checkHeap(const ndb::Node& node, const std::string& where);
    void checkBth(const ltp::Heap& heap, uint32_t hid, const std::string& where, uint8_t cbKey, uint8_t cbEnt,
                  std::set<uint32_t>& used);
    void checkPc(const ndb::Node& node, const ltp::Heap& heap, const std::string& where);
    void checkTc(const ndb::Node& node, const ltp::Heap& heap, const std::string& where);
    void checkHnidValue(const ndb::Node& node, const ltp::Heap& heap, uint32_t tag, uint32_t hnid,
                        const std::string& where, std::set<uint32_t>& used);
    void noteNamedId(uint16_t id, const std::string& where);

    // ---- messaging pass (store_checks.cpp) ----
    void checkMessaging();
    void checkMandatoryNodes();
    void checkStoreProperties();
    void checkNameMap();
    void checkFolders();
    void checkFolder(const ndb::NodeInfo& folder);
    void checkMessage(const ndb::Node& node, const std::string& where, uint32_t depth, const store::PropertyBag* row,
                      uint32_t parentFolder);
    // Sum of cb of every external block reachable from a node: its data tree
    // and all of its subnodes, recursively ([MS-PST] 2.4.5.1.1 as Outlook
    // computes PidTagMessageSize).
    std::optional<uint64_t> externalSize(uint64_t bidData, uint64_t bidSub, uint32_t depth);

    // ---- state ----
    std::unique_ptr<ndb::ByteSource> src_;
    VerifyOptions options_;
    VerifyReport& rep_;
    ndb::Header h_;
    Flavour f_ = Flavour::Unicode;
    uint64_t fileSize_ = 0;
    std::unique_ptr<ndb::NodeDatabase> db_;

    struct BlockRec {
        uint64_t bid = 0;
        uint64_t ib = 0;
        uint16_t cb = 0;
        uint16_t cRef = 0;
        uint32_t refs = 0;      // references found (NBT, SLENTRY, SIENTRY, XBLOCK slots)
        bool readable = false;  // trailer checked and data read
    };
    std::map<uint64_t, BlockRec> blocks_;               // by bidKey
    std::vector<ndb::NodeInfo> nodes_;                  // NBT leaves in key order
    std::unordered_map<uint32_t, size_t> nodeIndex_;

    struct Alloc {
        uint64_t ib = 0;
        uint64_t size = 0;
        std::string what;
    };
    std::vector<Alloc> allocs_;
    uint64_t maxPageBid_ = 0;
    uint64_t maxBlockBid_ = 0;

    // Internal blocks, parsed once: data tree children (XBLOCK, XXBLOCK) and
    // subnode tree entries (SLBLOCK) or children (SIBLOCK).
    struct InternalRec {
        uint8_t btype = 0;
        uint8_t cLevel = 0;
        uint32_t lcbTotal = 0;
        std::vector<uint64_t> children;        // XBLOCK/XXBLOCK BIDs, SIBLOCK SLBLOCK BIDs
        std::vector<ndb::SLEntry> entries;     // SLBLOCK entries
        std::vector<uint64_t> siKeys;          // SIBLOCK entry NIDs
    };
    std::unordered_map<uint64_t, InternalRec> internal_;

    // Highest nidIndex per NID type, over NBT and subnode NIDs.
    std::array<uint32_t, 32> maxNidIndex_{};
    // Named property ids met in PCs and TC columns, and where first.
    std::map<uint16_t, std::string> namedIds_;
};

}  // namespace tavrin::pst::verify
