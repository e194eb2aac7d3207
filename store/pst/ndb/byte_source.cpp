#include "store/pst/ndb/byte_source.h"

#include <cstring>

#include "store/pst/ndb/records.h"

namespace tavrin::pst::ndb {

Result<std::unique_ptr<FileSource>> FileSource::open(const std::string& path) {
    auto f = fs::InputFile::open(path);
    if (!f) return std::move(f).error();
    return std::unique_ptr<FileSource>(new FileSource(std::move(f).value()));
}

Status FileSource::readAt(uint64_t offset, store::MutableByteSpan out) const {
    if (!store::inBounds(file_.size(), offset, out.size()))
        return makeError(err::kCorrupt, "read of " + std::to_string(out.size()) + " bytes at offset " + hex(offset) +
                                            " is past the end of the file");
    return file_.readAt(offset, out);
}

Status MemorySource::readAt(uint64_t offset, store::MutableByteSpan out) const {
    if (!store::inBounds(view_.size(), offset, out.size()))
        return makeError(err::kCorrupt, "read of " + std::to_string(out.size()) + " bytes past the end of the data");
    if (!out.empty()) std::memcpy(out.data(), view_.data() + offset, out.size());
    return {};
}

}  // namespace tavrin::pst::ndb
