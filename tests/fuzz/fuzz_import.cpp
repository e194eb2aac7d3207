// libFuzzer target: the whole import path on arbitrary bytes, as the
// conversion runs it. The bytes are read as a message file (an Outlook
// message file or an Internet message, as their bytes say); what reads
// (whole or salvaged) is imported into a new store, flagged as the engine
// flags it, saved, and the store completed. The file written must then pass
// the strict verifier and read back with the message's record unchanged.
// Any failure after the read is a fault of ours and aborts: a message we
// could read is a message we must be able to write.
//
// The store is written to a folder of this process's own under the system's
// temporary folder, emptied after every input and removed when the process
// ends (or, after a timeout, by the next run).
#ifdef _WIN32
#include <windows.h>
#include <process.h>
#else
#include <signal.h>
#include <unistd.h>
#endif

#include <cerrno>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unordered_map>
#include <vector>

#include "store/core/record.h"
#include "store/core/tags.h"
#include "store/message_files.h"
#include "store/msg/cfb/compound_file.h"
#include "store/pst/messaging/pst_reader.h"
#include "store/pst/verify/verifier.h"
#include "store/session.h"

// Present in sanitizer builds only.
extern "C" void __sanitizer_set_death_callback(void (*callback)(void)) __attribute__((weak));

namespace {

namespace fsys = std::filesystem;
using namespace tavrin;

long currentProcessId() {
#ifdef _WIN32
    return static_cast<long>(::_getpid());
#else
    return static_cast<long>(::getpid());
#endif
}

// True when no process with this id runs any more.
bool processGone(long pid) {
#ifdef _WIN32
    HANDLE h = ::OpenProcess(SYNCHRONIZE, FALSE, static_cast<DWORD>(pid));
    if (h == nullptr) return ::GetLastError() == ERROR_INVALID_PARAMETER;
    const bool exited = ::WaitForSingleObject(h, 0) == WAIT_OBJECT_0;
    ::CloseHandle(h);
    return exited;
#else
    return ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
#endif
}

class ScratchFolder {
public:
    static constexpr char kPrefix[] = "tavrin-fuzz-import-";

    ScratchFolder() {
        std::error_code ec;
        const fsys::path temp = fsys::temp_directory_path(ec);
        // A run that ended without cleaning up (a libFuzzer timeout exits at
        // once) left its folder: those of processes that are gone go now.
        for (const auto& e : fsys::directory_iterator(temp, ec)) {
            const std::string name = e.path().filename().string();
            if (name.rfind(kPrefix, 0) != 0) continue;
            const long pid = std::strtol(name.c_str() + sizeof kPrefix - 1, nullptr, 10);
            if (pid > 0 && processGone(pid)) fsys::remove_all(e.path(), ec);
        }
        path_ = temp / (kPrefix + std::to_string(currentProcessId()));
        fsys::remove_all(path_, ec);
        fsys::create_directories(path_, ec);
    }
    ~ScratchFolder() {
        std::error_code ec;
        fsys::remove_all(path_, ec);
    }
    const fsys::path& path() const { return path_; }
    // Removes whatever a run left.
    void empty() const {
        std::error_code ec;
        for (const auto& e : fsys::directory_iterator(path_, ec)) fsys::remove_all(e.path(), ec);
    }

private:
    fsys::path path_;
};

ScratchFolder& scratch();

// A crash a sanitizer reports ends the process without destructors: the
// folder goes first.
void removeScratch() {
    std::error_code ec;
    fsys::remove_all(scratch().path(), ec);
}

ScratchFolder& scratch() {
    static ScratchFolder folder;
    static const bool hooked = [] {
        if (__sanitizer_set_death_callback) __sanitizer_set_death_callback(removeScratch);
        return true;
    }();
    (void)hooked;
    return folder;
}

[[noreturn]] void fault(const std::string& what) {
    std::fprintf(stderr, "fuzz_import: %s\n", what.c_str());
    std::fflush(stderr);
    removeScratch();
    std::abort();
}

template <typename T>
void require(const T& result, const char* step) {
    if (!result.ok()) fault(std::string(step) + " failed: " + result.error().description);
}

Result<store::StorageEntry> decodeStorage(store::ByteSpan b) {
    auto cf = store::cfb::CompoundFile::open(b);
    if (!cf) return std::move(cf).error();
    return cf->copyStorage(store::cfb::CompoundFile::root());
}

store::Bytes storageBytes(const store::StorageEntry& e) {
    auto b = store::writeStorageAsCompoundFile(e);
    return b.ok() ? std::move(b).value() : store::Bytes();
}

// Whether the writer can store a value of this type and shape.
bool storable(const store::Property& p) {
    using namespace store;
    const uint16_t type = p.type();
    if (!isKnownType(type) || type == PT_NULL || type == PT_UNSPECIFIED || baseType(type) == PT_OBJECT) return false;
    if (type == PT_CLSID) return p.data.size() == 16;
    if (isMultiValued(type)) {
        const uint16_t base = baseType(type);
        const uint32_t fixed = base == PT_CLSID ? 16 : fixedSize(base);
        if (base != PT_STRING8 && base != PT_UNICODE && fixed != 0)
            for (const Bytes& e : p.multi)
                if (e.size() != fixed) return false;
    }
    return true;
}

// The writer's rule for a damaged file that gives one id several values:
// of those it can store, the first is kept, except that a Unicode form wins
// over an 8-bit one that came before it.
void onePerId(store::PropertyBag& bag) {
    using namespace store;
    const auto& items = bag.items();
    std::unordered_map<uint16_t, size_t> pick;  // id -> index kept
    for (size_t i = 0; i < items.size(); ++i) {
        if (!storable(items[i])) continue;
        auto [it, fresh] = pick.emplace(items[i].id(), i);
        if (!fresh && baseType(items[it->second].type()) == PT_STRING8 && baseType(items[i].type()) != PT_STRING8)
            it->second = i;
    }
    std::vector<Property> kept;
    for (size_t i = 0; i < items.size(); ++i) {
        auto it = pick.find(items[i].id());
        if (it != pick.end() && it->second == i) kept.push_back(items[i]);
    }
    bag.items() = std::move(kept);
}

// What conversion changes, applied to the message read from the file: one
// value per id, as above; the store gives a message without a class
// IPM.Note, and an embedded message without flags the flags 0; the import
// step marks the message read, with the has-attachment flag when it has
// attachments.
void asConverted(store::Message& m, bool embedded) {
    using namespace store;
    onePerId(m.props);
    for (auto& r : m.recipients) onePerId(r.props);
    for (auto& a : m.attachments) onePerId(a.props);
    if (!m.props.find(tags::PidTagMessageClass))
        m.props.set(Property::unicodeUtf8(makeTag(tags::PidTagMessageClass, PT_UNICODE), "IPM.Note"));
    if (!embedded)
        m.props.set(Property::int32(makeTag(tags::PidTagMessageFlags, PT_LONG), m.attachments.empty() ? 0x01 : 0x11));
    else if (!m.props.find(tags::PidTagMessageFlags))
        m.props.set(Property::int32(makeTag(tags::PidTagMessageFlags, PT_LONG), 0));
    for (auto& a : m.attachments)
        if (a.embedded) asConverted(*a.embedded, true);
}

std::string record(const store::Message& m) {
    store::RecordOptions options;
    options.storageBytes = storageBytes;
    return store::messageRecordJson(m, {}, {}, options);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto read = store::parseMessage(store::ByteSpan(data, size));
    if (!read) return 0;  // not a message: refused, nothing to write
    store::Message source = std::move(read).value();
    auto imported = store::parseMessage(store::ByteSpan(data, size));  // a second copy, for the item to take
    require(imported, "reading the same bytes again");

    const ScratchFolder& dir = scratch();
    dir.empty();
    const std::string path = (dir.path() / "out.pst").string();
    {
        store::RDOSession session;
        auto st = session.LogonPstStore(path, store::olStoreUnicode, "Fuzz");
        require(st, "LogonPstStore");
        auto top = (*st)->IPMRootFolder();
        require(top, "IPMRootFolder");
        auto item = (*top)->Items().Add(0);
        require(item, "Items.Add");
        require((*item)->ImportMessage(std::move(imported).value()), "ImportMessage");
        if ((*item)->Warnings() != source.warnings) fault("the item's warnings are not the reader's");
        const bool hasAttachments = (*item)->AttachmentCount() > 0;
        const int32_t flags = 0x01 | (hasAttachments ? 0x10 : 0);
        store::MAPIUtils utils;
        require(utils.HrSetOneProp((*item)->MAPIOBJECT(), 0x0E070003u, flags, true), "HrSetOneProp");
        require((*item)->Save(), "Save");
        require(session.Logoff(), "Logoff");
    }

    asConverted(source, false);
    pst::verify::VerifyOptions options;
    options.strict = true;
    options.maxFindings = 5;
    auto report = pst::verify::verifyFile(path, options);
    require(report, "verify");
    if (!report->clean()) {
        std::string shown;
        for (const auto& f : report->findings) shown += "\n  " + f.text();
        fault("verify finds " + std::to_string(report->totalFindings) + " finding(s) in a store we wrote:" + shown);
    }

    pst::messaging::ReadOptions readOptions;
    readOptions.decodeStorage = decodeStorage;
    auto reader = pst::messaging::PstReader::open(path, readOptions);
    require(reader, "PstReader::open");
    auto tree = (*reader)->folderTree((*reader)->ipmSubtree());
    require(tree, "folderTree");
    size_t messages = 0;
    for (const auto& e : *tree) {
        for (uint32_t nid : e.folder.messages) {
            auto back = (*reader)->readMessage(nid);
            require(back, "readMessage");
            ++messages;
            const std::string want = record(source);
            const std::string got = record(*back);
            if (got != want) fault("the message reads back differently:\n  wrote " + want + "\n  read  " + got);
        }
    }
    if (messages != 1) fault(std::to_string(messages) + " messages read back instead of 1");
    dir.empty();
    return 0;
}
