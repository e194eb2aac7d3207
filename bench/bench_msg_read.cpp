// Message file reader throughput: parsing .msg files from memory and from
// disk, each against just reading the same bytes, in one run.
//
//   bench_msg_read [--rounds N] [DIR...]
//
// DIR: folders searched (recursively) for *.msg files. Without one, a
// synthetic corpus of 1000 messages of about 20 KB is written to a temporary
// folder first. Target: reading plus parsing a file takes at most 1.5 times
// as long as reading it.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "fs/file_io.h"
#include "fs/text.h"
#include "store/core/props.h"
#include "store/core/tags.h"
#include "store/msg/cfb/cfb_writer.h"
#include "store/msg/oxmsg/msg_reader.h"

namespace {

using namespace tavrin;
using namespace tavrin::store;
namespace fsys = std::filesystem;
using Clock = std::chrono::steady_clock;

// --- a synthetic corpus -------------------------------------------------

struct Rng {
    uint64_t s;
    uint32_t next() {
        s = s * 6364136223846793005ull + 1442695040888963407ull;
        return static_cast<uint32_t>(s >> 33);
    }
};

std::string hex8(uint32_t v) {
    char b[9];
    std::snprintf(b, sizeof b, "%08X", v);
    return b;
}

struct Object {
    Bytes props;
    std::vector<StorageEntry> streams;
    void fixed(uint32_t tag, uint64_t v) {
        ByteWriter w;
        w.u32(tag);
        w.u32(6);
        w.u64(v);
        props.insert(props.end(), w.buffer().begin(), w.buffer().end());
    }
    void variable(uint32_t tag, Bytes data) {
        const uint64_t extra = tagType(tag) == PT_UNICODE ? 2 : 0;
        ByteWriter w;
        w.u32(tag);
        w.u32(6);
        w.u32(static_cast<uint32_t>(data.size() + extra));
        w.u32(0);
        props.insert(props.end(), w.buffer().begin(), w.buffer().end());
        StorageEntry s;
        s.name = text::toUtf16("__substg1.0_" + hex8(tag));
        s.data = std::move(data);
        streams.push_back(std::move(s));
    }
    void text(uint32_t tag, const std::string& utf8) {
        const std::u16string u = text::toUtf16(utf8);
        Bytes b(u.size() * 2);
        for (size_t i = 0; i < u.size(); ++i) storeLE16(b.data() + 2 * i, u[i]);
        variable(tag, std::move(b));
    }
    StorageEntry storage(const std::string& name, size_t header) const {
        StorageEntry s;
        s.name = text::toUtf16(name);
        s.isStorage = true;
        s.children = streams;
        StorageEntry p;
        p.name = u"__properties_version1.0";
        p.data.assign(header, 0);
        p.data.insert(p.data.end(), props.begin(), props.end());
        s.children.push_back(std::move(p));
        return s;
    }
};

std::string words(Rng& r, size_t bytes) {
    static const char* const w[] = {"meeting", "budget", "report", "the", "and", "Grüße", "quarterly", "team",
                                    "update", "please", "review", "attached", "thanks", "日本語", "schedule"};
    std::string s;
    while (s.size() < bytes) {
        s += w[r.next() % 15];
        s += (r.next() % 12 == 0) ? "\r\n" : " ";
    }
    return s;
}

Bytes syntheticMessage(Rng& r, int n) {
    using namespace tags;
    Object m;
    m.text(makeTag(PidTagSubject, PT_UNICODE), "Message " + std::to_string(n) + " " + words(r, 40));
    m.text(makeTag(PidTagMessageClass, PT_UNICODE), "IPM.Note");
    m.text(makeTag(PidTagSenderName, PT_UNICODE), "Alice Example");
    m.text(makeTag(PidTagSenderEmailAddress, PT_UNICODE), "alice@example.com");
    m.text(makeTag(PidTagSenderSmtpAddress, PT_UNICODE), "alice@example.com");
    m.text(makeTag(PidTagDisplayTo, PT_UNICODE), "Bob; Carol; Dave");
    m.text(makeTag(PidTagBody, PT_UNICODE), words(r, 5000));
    const std::string html = "<html><body><p>" + words(r, 4000) + "</p></body></html>";
    m.variable(makeTag(PidTagHtml, PT_BINARY), Bytes(html.begin(), html.end()));
    Bytes key(16);
    for (auto& b : key) b = static_cast<uint8_t>(r.next());
    m.variable(makeTag(PidTagSearchKey, PT_BINARY), key);
    m.fixed(makeTag(PidTagMessageFlags, PT_LONG), 0x11);
    m.fixed(makeTag(PidTagInternetCodepage, PT_LONG), 65001);
    m.fixed(makeTag(PidTagClientSubmitTime, PT_SYSTIME), 0x01D7000000000000ull + r.next());
    m.fixed(makeTag(PidTagMessageDeliveryTime, PT_SYSTIME), 0x01D7000000000000ull + r.next());
    for (uint16_t id = 0x3000; id < 0x3020; ++id) m.fixed(makeTag(id, PT_LONG), r.next());
    StorageEntry root;
    root.isStorage = true;
    root.name = u"Root Entry";
    for (int i = 0; i < 3; ++i) {
        Object rc;
        rc.fixed(makeTag(PidTagRecipientType, PT_LONG), 1 + i % 2);
        rc.text(makeTag(PidTagDisplayName, PT_UNICODE), "Recipient " + std::to_string(i));
        rc.text(makeTag(PidTagEmailAddress, PT_UNICODE), "r" + std::to_string(i) + "@example.com");
        rc.text(makeTag(PidTagAddressType, PT_UNICODE), "SMTP");
        root.children.push_back(rc.storage("__recip_version1.0_#" + hex8(static_cast<uint32_t>(i)), 8));
    }
    Object a;
    a.fixed(makeTag(PidTagAttachMethod, PT_LONG), afByValue);
    a.text(makeTag(PidTagAttachLongFilename, PT_UNICODE), "notes.txt");
    const std::string data = words(r, 3000);
    a.variable(makeTag(PidTagAttachDataBinary, PT_BINARY), Bytes(data.begin(), data.end()));
    root.children.push_back(a.storage("__attach_version1.0_#00000000", 8));
    StorageEntry top = m.storage("", 32);
    for (auto& c : top.children) root.children.push_back(std::move(c));
    auto b = cfb::writeCompoundFile(root);
    return b.ok() ? std::move(b).value() : Bytes();
}

// --- measuring ----------------------------------------------------------

struct Corpus {
    std::vector<std::string> paths;
    std::vector<Bytes> data;
    uint64_t bytes = 0;
};

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

template <class F>
double bestOf(int rounds, F f) {
    double best = 1e300;
    for (int i = 0; i < rounds; ++i) {
        const auto t0 = Clock::now();
        f();
        best = std::min(best, seconds(Clock::now() - t0));
    }
    return best;
}

void report(const char* what, double s, const Corpus& c) {
    std::printf("  %-28s %8.3f s  %9.1f MB/s  %9.0f msgs/s\n", what, s, c.bytes / s / 1e6, c.paths.size() / s);
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = 5;
    std::vector<std::string> dirs;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc) rounds = std::max(1, std::atoi(argv[++i]));
        else if (std::strcmp(argv[i], "--help") == 0) {
            std::puts("usage: bench_msg_read [--rounds N] [DIR...]");
            return 0;
        } else dirs.push_back(argv[i]);
    }
    fsys::path temp;
    if (dirs.empty()) {
        temp = fsys::temp_directory_path() / ("tavrin-bench-msg-" + std::to_string(::getpid()));
        fsys::create_directories(temp);
        Rng r{42};
        for (int i = 0; i < 1000; ++i) {
            const Bytes b = syntheticMessage(r, i);
            std::ofstream(temp / ("m" + std::to_string(i) + ".msg"), std::ios::binary)
                .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
        }
        dirs.push_back(temp.string());
        std::printf("corpus: 1000 synthetic messages in %s\n", temp.c_str());
    }
    Corpus c;
    for (const auto& d : dirs) {
        std::error_code ec;
        for (const auto& e : fsys::recursive_directory_iterator(d, ec))
            if (e.is_regular_file() && text::equalsIgnoreAsciiCase(e.path().extension().string(), ".msg"))
                c.paths.push_back(e.path().string());
    }
    std::sort(c.paths.begin(), c.paths.end());
    for (const auto& p : c.paths) {
        auto b = fs::readFile(p);  // also warms the page cache
        c.data.push_back(b.ok() ? std::move(b).value() : Bytes());
        c.bytes += c.data.back().size();
    }
    if (c.paths.empty()) {
        std::fprintf(stderr, "no .msg files found\n");
        return 1;
    }
    size_t failures = 0;
    for (const auto& b : c.data) failures += !oxmsg::readMsg(b).ok();
    std::printf("%zu files, %.1f MB (%.1f KB each), %zu unreadable, best of %d rounds\n", c.paths.size(),
                c.bytes / 1e6, c.bytes / 1e3 / c.paths.size(), failures, rounds);

    volatile uint64_t sink = 0;
    const double memCopy = bestOf(rounds, [&] {
        for (const auto& b : c.data) {
            Bytes copy(b.begin(), b.end());
            sink = sink + copy.size();
        }
    });
    const double memParse = bestOf(rounds, [&] {
        for (const auto& b : c.data) {
            auto m = oxmsg::readMsg(b);
            sink = sink + (m.ok() ? m->props.size() : 0);
        }
    });
    const double diskRead = bestOf(rounds, [&] {
        for (const auto& p : c.paths) {
            auto b = fs::readFile(p);
            sink = sink + (b.ok() ? b->size() : 0);
        }
    });
    const double diskParse = bestOf(rounds, [&] {
        for (const auto& p : c.paths) {
            auto m = oxmsg::readMsgFile(p);
            sink = sink + (m.ok() ? m->props.size() : 0);
        }
    });
    std::puts("from memory:");
    report("copy the bytes", memCopy, c);
    report("parse", memParse, c);
    std::puts("from disk (page cache):");
    report("read the file", diskRead, c);
    report("read and parse", diskParse, c);
    const double ratio = diskParse / diskRead;
    std::printf("read+parse / read: %.2f (target <= 1.50: %s)\n", ratio, ratio <= 1.5 ? "met" : "MISSED");
    std::printf("parse / copy (memory): %.2f\n", memParse / memCopy);
    if (!temp.empty()) fsys::remove_all(temp);
    return 0;
}
