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
#include <type_traits>
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

// Where a finding is. Its text is built only when a finding is added, so
// that the checks format nothing on their way through a sound file. A Where
// refers to a string or to a callable returning one, which must outlive it:
// pass it down as a parameter, and keep a callable in a named local.
class Where {
public:
    Where(const char* text) : obj_(text), fn_([](const void* o) { return std::string(static_cast<const char*>(o)); }) {}
    Where(const std::string& text)
        : obj_(&text), fn_([](const void* o) { return *static_cast<const std::string*>(o); }) {}
    template <class F, class = std::enable_if_t<std::is_invocable_r_v<std::string, const F&>>>
    Where(const F& f) : obj_(&f), fn_([](const void* o) { return std::string((*static_cast<const F*>(o))()); }) {}

    std::string text() const { return fn_(obj_); }

private:
    const void* obj_;
    std::string (*fn_)(const void*);
};

class Verifier {
public:
    Verifier(std::unique_ptr<ndb::ByteSource> source, const VerifyOptions& options, VerifyReport& report)
        : src_(std::move(source)), options_(options), rep_(report) {}

    void run();

    // ---- shared helpers ----
    void add(const Where& where, std::string what);
    // What Outlook itself writes against the letter of [MS-PST]; see
    // VerifyReport::notes.
    void note(const Where& where, std::string what);
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
    void checkNodeContent(const ndb::Node& node, const Where& where, uint32_t depth);
    void checkDataTreeLayout(const std::vector<Bytes>& blocks, const Where& where);
    // Checks the structure of the heap in a node's data blocks; returns it
    // when it can be read.
    std::shared_ptr<const ltp::Heap> checkHeap(const ndb::Node& node, std::vector<Bytes> blocks, const Where& where);
    // HIDs a property or table context uses (gathered, then asked).
    using HidList = std::vector<uint32_t>;
    void checkBth(const ltp::Heap& heap, uint32_t hid, const Where& where, uint8_t cbKey, uint8_t cbEnt, HidList& used);
    void checkPc(const ndb::Node& node, const std::shared_ptr<const ltp::Heap>& heap, const Where& where);
    void checkTc(const ndb::Node& node, const std::shared_ptr<const ltp::Heap>& heap, const Where& where);
    void checkHnidValue(const ndb::Node& node, const ltp::Heap& heap, uint32_t tag, uint32_t hnid, const Where& where,
                        HidList& used);
    // Every allocation of the heap that `used` does not name.
    void checkUnusedAllocations(const ltp::Heap& heap, HidList& used, const Where& where);
    void noteNamedId(uint16_t id, const Where& where);

    // ---- messaging pass (store_checks.cpp) ----
    void checkMessaging();
    void checkMandatoryNodes();
    void checkStoreProperties();
    void checkNameMap();
    void checkFolders();
    void checkFolder(const ndb::NodeInfo& folder);
    void checkMessage(const ndb::Node& node, const Where& where, uint32_t depth, const store::PropertyBag* row,
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
    bool mapsUntrusted_ = false;  // fAMapValid says INVALID_AMAP
    std::unique_ptr<ndb::NodeDatabase> db_;

    struct BlockRec {
        uint64_t bid = 0;
        uint64_t ib = 0;
        uint16_t cb = 0;
        uint16_t cRef = 0;
        uint32_t refs = 0;      // references found (NBT, SLENTRY, SIENTRY, XBLOCK slots)
        bool readable = false;  // trailer checked and data read
    };
    // The BBT's blocks, sorted by bidKey once the B-trees are walked (a
    // sound BBT gives them in that order).
    std::vector<BlockRec> blocks_;
    // The block with this BID (bit 0 ignored); null when the BBT has none.
    BlockRec* findBlockRec(uint64_t bid);
    // Whether the BBT walk meets this bidKey for the first time. Keys that
    // come in ascending order need no set; the first one out of order
    // starts one.
    bool firstBlockKey(uint64_t key);
    bool blockKeysUnordered_ = false;
    std::unordered_set<uint64_t> blockKeys_;

    std::vector<ndb::NodeInfo> nodes_;                  // NBT leaves in key order
    std::unordered_map<uint32_t, size_t> nodeIndex_;
    // (nidParent, nid) of every node, sorted: a folder's children.
    std::vector<std::pair<uint32_t, uint32_t>> byParent_;

    // Space in use: a B-tree or map page, or a block. What it is, for a
    // finding, is told by where() from the kind and the IDs.
    struct Alloc {
        enum class Kind : uint8_t { BTreePage, MapPage, Block };
        uint64_t ib = 0;
        uint64_t size = 0;
        uint64_t bid = 0;
        const char* name = "";  // "NBT"/"BBT" or "AMap", "PMap", ...
        Kind kind = Kind::Block;
        std::string where() const;
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
