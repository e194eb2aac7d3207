// A PST written in memory by our store writer, for reader and verifier
// tests: fixed time and record keys, so that two runs give the same bytes.
#pragma once

#include <limits>
#include <memory>

#include "fs/file_io.h"
#include "store/pst/messaging/store_writer.h"

namespace tavrin::pst::testing {

struct WrittenStore {
    fs::FailingSink out{std::numeric_limits<uint64_t>::max()};
    fs::FailingSink scratch{std::numeric_limits<uint64_t>::max()};
    std::unique_ptr<messaging::PstWriter> writer;

    explicit WrittenStore(uint8_t cryptMethod = 0x01) {
        messaging::StoreOptions o;
        o.displayName = "Test Store";
        o.now = 0x01DB000000000000ull;
        o.random = [seed = uint32_t(7)](uint8_t* p, size_t n) mutable {
            for (size_t i = 0; i < n; ++i) {
                seed = seed * 1103515245u + 12345u;
                p[i] = static_cast<uint8_t>(seed >> 16);
            }
        };
        o.ndb.cryptMethod = cryptMethod;
        auto w = messaging::PstWriter::create(out, scratch, std::move(o));
        if (w.ok()) writer = std::move(*w);
    }
    // Completes the file; empty on failure.
    store::Bytes finish() {
        if (!writer || !writer->finish().ok()) return {};
        return out.bytes();
    }
};

}  // namespace tavrin::pst::testing
