// msg2pst convert on the real message file samples (../shared/samples/msg),
// and the PST it writes read back four ways: our verifier, our dump-pst
// against dump-msg of every source file, libpff's pffexport and libpst's
// readpst. Skipped when the samples, msg2pst or a reader are absent.
//
// The one damaged sample (a fuzzer case POI keeps, with one value stream
// missing) is salvaged: every file converts.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "store/core/sha256.h"
#include "store/msg/json_value.h"
#include "cli_test_util.h"

namespace tavrin {
namespace {

namespace fsys = std::filesystem;
using testing::JsonValue;
using namespace clitest;

std::string text(const JsonValue* v) { return v && v->kind == JsonValue::String ? v->s : std::string(); }

const char* const kDamaged = "clusterfuzz-testcase-minimized-";

// One converted message: its folder below the top of the tree, its record
// text from dump-msg (the members after "file" and before the reader's
// counts) and the parsed record.
struct Source {
    std::string folder, file, record;
    JsonValue json;
};

// The record members of a dump line: from "subject" up to (not including)
// `end`, or to the closing brace.
std::string recordText(const std::string& line, const std::string& end) {
    const size_t b = line.find("\"subject\":");
    if (b == std::string::npos) return {};
    size_t e = end.empty() ? std::string::npos : line.rfind(end);
    if (e == std::string::npos || e < b) e = line.size() - 1;
    return line.substr(b, e - b);
}

// The conversion marks every message read, with the has-attachment flag
// when it has attachments (the one property write of the import step:
// PR_MESSAGE_FLAGS = 1 or 17). The record's top-level "flags" member is its
// last one.
std::string withConvertedFlags(const std::string& record, bool hasAttachments) {
    static const std::regex flags(",\"flags\":(null|[0-9]+)$");
    return std::regex_replace(record, flags, hasAttachments ? ",\"flags\":17" : ",\"flags\":1");
}

class ConvertSamples : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        bin_ = new fsys::path(builtProgram("msg2pst"));
        samples_ = new fsys::path(fsys::path(TAVRIN_SHARED_DIR) / "samples/msg");
        dir_ = new fsys::path(fsys::temp_directory_path() / ("tavrin-samples-" + std::to_string(processId())));
        sources_ = new std::vector<Source>;
        std::error_code ec;
        if (!fsys::exists(*bin_) || !fsys::is_directory(*samples_, ec)) return;
        fsys::remove_all(*dir_);
        fsys::create_directories(*dir_);
        const std::string cmd = inFolder(*dir_) + quote(*bin_) + " convert " + quote(*samples_) +
                                " out.pst >convert.out 2>convert.err <" + nullDevice();
        status_ = shell(cmd);
        for (const auto& e : fsys::recursive_directory_iterator(*samples_)) {
            if (!e.is_regular_file()) continue;
            std::string ext = e.path().extension().string();
            std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
            if (ext != ".msg") continue;
            Source s;
            s.file = e.path().string();
            s.folder = fsys::relative(e.path().parent_path(), *samples_).generic_string();
            if (s.folder == ".") s.folder.clear();
            const fsys::path out = *dir_ / "one.json";
            if (shell(quote(*bin_) + " dump-msg " + quote(e.path()) + " >" + quote(out) + " 2>" + nullDevice()) == 0) {
                const std::string line = trim(slurp(out));
                s.record = recordText(line, ",\"properties\":");
                testing::parseJson(line, s.json);
            }
            sources_->push_back(std::move(s));
        }
        std::sort(sources_->begin(), sources_->end(), [](const Source& a, const Source& b) { return a.file < b.file; });
    }
    static void TearDownTestSuite() {
        if (dir_ && !dir_->empty()) fsys::remove_all(*dir_);
        delete bin_;
        delete samples_;
        delete dir_;
        delete sources_;
    }
    void SetUp() override {
        if (!fsys::exists(*bin_)) GTEST_SKIP() << "msg2pst is not built at " << *bin_;
        std::error_code ec;
        if (!fsys::is_directory(*samples_, ec)) GTEST_SKIP() << "message file samples not available: " << *samples_;
        ASSERT_FALSE(sources_->empty());
    }
    static fsys::path pst() { return *dir_ / "out.pst"; }
    // dump-pst's lines.
    static std::vector<std::string> dumpPst() {
        const fsys::path out = *dir_ / "dump.jsonl";
        EXPECT_EQ(shell(quote(*bin_) + " dump-pst " + quote(pst()) + " >" + quote(out) + " 2>&1"), 0);
        std::vector<std::string> lines;
        std::istringstream in(slurp(out));
        for (std::string line; std::getline(in, line);)
            if (!line.empty()) lines.push_back(line);
        return lines;
    }

    static fsys::path* bin_;
    static fsys::path* samples_;
    static fsys::path* dir_;
    static std::vector<Source>* sources_;
    static int status_;
};
fsys::path* ConvertSamples::bin_ = nullptr;
fsys::path* ConvertSamples::samples_ = nullptr;
fsys::path* ConvertSamples::dir_ = nullptr;
std::vector<Source>* ConvertSamples::sources_ = nullptr;
int ConvertSamples::status_ = -1;

TEST_F(ConvertSamples, EveryFileConvertsTheDamagedOneSalvaged) {
    const std::string err = slurp(*dir_ / "convert.err");
    EXPECT_EQ(status_, 0) << err;
    EXPECT_EQ(err.find("could not be converted"), std::string::npos) << err;
    const auto damaged = std::find_if(sources_->begin(), sources_->end(),
                                      [](const Source& s) { return s.file.find(kDamaged) != std::string::npos; });
    ASSERT_NE(damaged, sources_->end());
    const JsonValue* warnings = damaged->json.get("warnings");
    ASSERT_NE(warnings, nullptr);
    ASSERT_EQ(warnings->items.size(), 1u);
    EXPECT_EQ(warnings->items[0].s, "property 0x00710102: the value stream is missing (22 bytes)");
}

TEST_F(ConvertSamples, PassesTheVerifier) {
    int status = -1;
    const std::string out = capture(quote(*bin_) + " verify " + quote(pst()) + " 2>&1", status);
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find(": 0 finding(s);"), std::string::npos) << out;
}

// Every source message comes back with the same record, in the folder that
// mirrors its source folder. The differences allowed: "folder" (dump-pst's,
// where dump-msg has "file" and its property counts) and the top-level
// flags, which the conversion sets.
TEST_F(ConvertSamples, DumpPstGivesEveryMessageTheRecordOfItsSource) {
    std::multiset<std::pair<std::string, std::string>> ours;
    for (const std::string& line : dumpPst()) {
        JsonValue v;
        ASSERT_TRUE(testing::parseJson(line, v)) << line;
        ours.emplace(text(v.get("folder")), recordText(line, ""));
    }
    EXPECT_EQ(ours.size(), sources_->size());
    for (const Source& s : *sources_) {
        SCOPED_TRACE(s.file);
        ASSERT_FALSE(s.record.empty()) << "dump-msg cannot read a sample that converted";
        const JsonValue* atts = s.json.get("attachments");
        const std::string want = withConvertedFlags(s.record, atts && !atts->items.empty());
        auto it = ours.find({s.folder, want});
        if (it == ours.end()) {
            std::string near;
            for (const auto& [f, r] : ours)
                if (f == s.folder && r.substr(0, 60) == want.substr(0, 60)) near += "\n  ours: " + r;
            ADD_FAILURE() << "no message in \"" << s.folder << "\" with the record\n  want: " << want << near;
            continue;
        }
        ours.erase(it);
    }
}

// ---- libpff ----

// What both sides show of a message.
struct Seen {
    std::string subject, senderName;
    size_t recipients = 0;
    std::string bodySha;  // "-": not compared
    std::vector<std::string> attachments;  // "name size" or "(embedded SUBJECT)"
    std::string key() const {
        std::string k = subject + " | " + senderName + " | " + std::to_string(recipients);
        for (const auto& a : attachments) k += " | " + a;
        return k;
    }
};

// True when a UTF-8 text holds a character beyond U+FFFF (a 4-byte form).
bool beyondBmp(const std::string& s) {
    return std::any_of(s.begin(), s.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xF8) == 0xF0; });
}

std::string normalizedBodySha(std::string body) {
    std::string out;
    for (size_t i = 0; i < body.size(); ++i) {
        if (body[i] == '\r') {
            out += '\n';
            if (i + 1 < body.size() && body[i + 1] == '\n') ++i;
        } else {
            out += body[i];
        }
    }
    while (!out.empty() && out.back() == '\0') out.pop_back();
    if (out.empty()) return "null";
    return store::sha256Hex(store::ByteSpan(reinterpret_cast<const uint8_t*>(out.data()), out.size()));
}

const std::regex& pffItem() {
    static const std::regex re(
        "(Message|Appointment|Contact|DistributionList|Task|Note|Meeting|Activity|Document|Conflict|RSS)[0-9]{5}");
    return re;
}

// pffexport writes an attachment's file under its name with the ASCII
// characters it does not allow in file names replaced by '_'.
std::string pffFileName(std::string n) {
    for (char& c : n)
        if (static_cast<unsigned char>(c) < 0x80 && !std::isalnum(static_cast<unsigned char>(c)) &&
            std::string(" .-_()[]{}',+=~!#$%@^").find(c) == std::string::npos)
            c = '_';
    return n;
}

// pffexport writes the item kinds libpff knows and skips the others
// ("Skipped item N out of M of type: IPM.Post."), posts and unknown classes
// among them.
bool pffexportWrites(const std::string& messageClass) {
    for (const char* p : {"IPM.Note", "IPM.Contact", "IPM.Appointment", "IPM.Schedule", "REPORT.", "IPM.Activity",
                          "IPM.Task", "IPM.StickyNote", "IPM.DistList", "IPM.Document", "IPM.Conflict"})
        if (messageClass.rfind(p, 0) == 0) return true;
    return false;
}

Seen pffSeen(const fsys::path& item, bool withBody) {
    auto h = pffItemHeaders(item);
    Seen s{h["Subject"], h["Sender name"], 0, {}, {}};
    const std::string recips = slurp(item / "Recipients.txt");
    for (size_t at = recips.find("Display name:"); at != std::string::npos; at = recips.find("Display name:", at + 1))
        ++s.recipients;
    if (withBody) {
        const std::string body = fsys::exists(item / "Message.txt") ? slurp(item / "Message.txt") : std::string();
        // libpff decodes UTF-16 surrogate pairs wrongly (see
        // docs/formats/pst-writer.md): such bodies are not compared.
        s.bodySha = !fsys::exists(item / "Message.txt") || beyondBmp(body) ? "-" : normalizedBodySha(body);
    }
    if (fsys::is_directory(item / "Attachments"))
        for (const auto& a : fsys::directory_iterator(item / "Attachments")) {
            if (a.is_directory()) {
                std::string inner;
                for (const auto& e : fsys::directory_iterator(a.path()))
                    if (e.is_directory() && std::regex_match(e.path().filename().string(), pffItem()))
                        inner = pffItemHeaders(e.path())["Subject"];
                s.attachments.push_back("(embedded " + inner + ")");
                continue;
            }
            std::string n = a.path().filename().string();  // "N_name"
            n = n.substr(n.find('_') + 1);
            s.attachments.push_back(pffFileName(n) + " " + std::to_string(a.file_size()));
        }
    std::sort(s.attachments.begin(), s.attachments.end());
    return s;
}

TEST_F(ConvertSamples, PffexportReadsBackEveryMessage) {
    if (!haveTool("pffexport")) GTEST_SKIP() << "pffexport (libpff) is not installed";
    const fsys::path target = *dir_ / "pff";
    ASSERT_EQ(std::system(("pffexport -q -m items -t " + quote(target) + " " + quote(pst()) + " >/dev/null 2>&1").c_str()), 0);
    const fsys::path top = *dir_ / "pff.export" / "Top of Outlook data file";
    ASSERT_TRUE(fsys::is_directory(top));
    // Ours, as the source records show them: key -> body hash.
    std::map<std::string, std::multimap<std::string, std::string>> want, got;
    for (const Source& s : *sources_) {
        if (!pffexportWrites(text(s.json.get("messageClass")))) continue;
        Seen v;
        v.subject = trim(text(s.json.get("subject")));
        if (const JsonValue* snd = s.json.get("sender")) v.senderName = trim(text(snd->get("name")));
        if (const JsonValue* r = s.json.get("recipients")) v.recipients = r->items.size();
        const std::string sha = text(s.json.get("bodySha256"));
        v.bodySha = sha.empty() ? "null" : sha;
        if (const JsonValue* atts = s.json.get("attachments"))
            for (const auto& a : atts->items) {
                if (const JsonValue* m = a.get("message")) {
                    v.attachments.push_back("(embedded " + trim(text(m->get("subject"))) + ")");
                    continue;
                }
                const JsonValue* size = a.get("size");
                v.attachments.push_back(pffFileName(text(a.get("name"))) + " " +
                                        std::to_string(size ? static_cast<uint64_t>(size->n) : 0));
            }
        std::sort(v.attachments.begin(), v.attachments.end());
        want[s.folder].emplace(v.key(), v.bodySha);
    }
    size_t bodies = 0;
    for (auto& [folder, items] : want) {
        SCOPED_TRACE(folder);
        const fsys::path where = folder.empty() ? top : top / folder;
        ASSERT_TRUE(fsys::is_directory(where));
        std::string extra;
        for (const auto& e : fsys::directory_iterator(where)) {
            if (!e.is_directory() || !std::regex_match(e.path().filename().string(), pffItem())) continue;
            const Seen s = pffSeen(e.path(), true);
            // The same message, and its plain body where libpff wrote one it
            // could decode.
            auto [b, end] = items.equal_range(s.key());
            auto it = std::find_if(b, end, [&](const auto& kv) { return s.bodySha == "-" || kv.second == s.bodySha; });
            if (it == end) {
                extra += "\n  " + s.key() + " | body " + s.bodySha;
                continue;
            }
            bodies += s.bodySha != "-";
            items.erase(it);
        }
        std::string missing;
        for (const auto& [k, body] : items) missing += "\n  " + k + " | body " + body;
        EXPECT_TRUE(missing.empty() && extra.empty()) << "sources not read back:" << missing << "\nread instead:" << extra;
    }
    EXPECT_GT(bodies, 30u) << "plain bodies compared";
}

// ---- libpst ----

// An RFC 2047 header word in UTF-8 base64 decoded; other texts as they are.
std::string decodedHeader(const std::string& v) {
    static const std::regex word("=\\?utf-8\\?B\\?([A-Za-z0-9+/=]*)\\?=", std::regex::icase);
    std::smatch m;
    if (!std::regex_match(v, m, word)) return v;
    std::string out;
    uint32_t acc = 0;
    int bits = 0;
    for (char c : m[1].str()) {
        int d;
        if (c >= 'A' && c <= 'Z') d = c - 'A';
        else if (c >= 'a' && c <= 'z') d = c - 'a' + 26;
        else if (c >= '0' && c <= '9') d = c - '0' + 52;
        else if (c == '+') d = 62;
        else if (c == '/') d = 63;
        else continue;
        acc = (acc << 6) | static_cast<uint32_t>(d);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<char>((acc >> bits) & 0xFF));
        }
    }
    return out;
}

size_t countOf(const std::string& s, const std::string& needle) {
    size_t n = 0;
    for (size_t at = s.find(needle); at != std::string::npos; at = s.find(needle, at + 1)) ++n;
    return n;
}

// The names of readpst's MIME parts: filename*=utf-8''NAME (percent-encoded).
std::vector<std::string> readpstFileNames(const std::string& eml) {
    std::vector<std::string> out;
    const std::string key = "filename*=utf-8''";
    for (size_t at = eml.find(key); at != std::string::npos; at = eml.find(key, at + 1)) {
        const size_t b = at + key.size();
        const size_t e = eml.find_first_of(";\r\n", b);
        const std::string raw = eml.substr(b, e - b);
        std::string name;
        for (size_t i = 0; i < raw.size(); ++i) {
            if (raw[i] == '%' && i + 2 < raw.size()) {
                name += static_cast<char>(std::stoi(raw.substr(i + 1, 2), nullptr, 16));
                i += 2;
            } else {
                name += raw[i];
            }
        }
        out.push_back(name);
    }
    return out;
}

// The names of a record's attachments with data, its embedded messages'
// included, and the number of embedded messages.
void attachmentNames(const JsonValue& record, std::multiset<std::string>& names, size_t& embedded) {
    const JsonValue* atts = record.get("attachments");
    if (!atts) return;
    for (const auto& a : atts->items) {
        if (const JsonValue* m = a.get("message")) {
            ++embedded;
            attachmentNames(*m, names, embedded);
        } else {
            names.insert(text(a.get("name")));
        }
    }
}

// readpst writes only the item kinds it knows (mail, reports, meetings,
// contacts, appointments, journal entries); it skips tasks, notes, posts
// and unknown classes, and says so in its count of skipped items.
bool readpstWrites(const std::string& messageClass) {
    for (const char* p : {"IPM.Note", "IPM.Contact", "IPM.Appointment", "IPM.Schedule", "REPORT.", "IPM.Activity"})
        if (messageClass.rfind(p, 0) == 0) return true;
    return false;
}

TEST_F(ConvertSamples, ReadpstReadsBackEveryMessage) {
    if (!haveTool("readpst")) GTEST_SKIP() << "readpst (libpst) is not installed";
    const fsys::path out = *dir_ / "readpst";
    fsys::create_directories(out);
    ASSERT_EQ(std::system(("readpst -q -j 0 -e -D -b -8 -o " + quote(out) + " " + quote(pst()) + " >/dev/null 2>&1").c_str()), 0);
    std::vector<fsys::path> tops;
    for (const auto& e : fsys::directory_iterator(out))
        if (e.is_directory()) tops.push_back(e.path());
    ASSERT_EQ(tops.size(), 1u);
    std::map<std::string, std::vector<const Source*>> byFolder;
    for (const Source& s : *sources_) byFolder[s.folder].push_back(&s);
    size_t compared = 0;
    for (const auto& [folder, sources] : byFolder) {
        SCOPED_TRACE(folder);
        std::multiset<std::string> subjects, wantSubjects, names, wantNames;
        size_t embedded = 0, wantEmbedded = 0;
        size_t files = 0, written = 0;
        const fsys::path where = folder.empty() ? tops[0] : tops[0] / folder;
        ASSERT_TRUE(fsys::is_directory(where));
        for (const auto& e : fsys::directory_iterator(where)) {
            if (!e.is_regular_file()) continue;
            ++files;
            if (e.path().extension() != ".eml") continue;
            std::istringstream in(slurp(e.path()));
            // The header, folded lines joined.
            std::vector<std::string> header;
            for (std::string line; std::getline(in, line) && !line.empty();) {
                if ((line[0] == ' ' || line[0] == '\t') && !header.empty()) header.back() += line;
                else header.push_back(line);
            }
            for (const std::string& line : header)
                if (line.rfind("Subject: ", 0) == 0) subjects.insert(trim(decodedHeader(line.substr(9))));
            // Attachment names anywhere in the message (embedded messages
            // are written inline as message/rfc822 parts).
            for (const std::string& n : readpstFileNames(slurp(e.path()))) names.insert(n);
            embedded += countOf(slurp(e.path()), "Content-Type: message/rfc822");
        }
        for (const Source* s : sources) {
            const std::string cls = text(s->json.get("messageClass"));
            if (!readpstWrites(cls)) continue;
            ++written;
            if (cls.rfind("IPM.Note", 0) != 0) continue;
            wantSubjects.insert(trim(text(s->json.get("subject"))));
            attachmentNames(s->json, wantNames, wantEmbedded);
        }
        EXPECT_EQ(files, written) << "items readpst wrote";
        // Subjects readpst left in another charset's encoded words are not
        // compared.
        for (auto it = subjects.begin(); it != subjects.end();)
            it = it->rfind("=?", 0) == 0 ? subjects.erase(it) : std::next(it);
        for (const std::string& w : wantSubjects) {
            auto it = subjects.find(w);
            if (it != subjects.end()) {
                subjects.erase(it);
                ++compared;
            }
        }
        EXPECT_LE(subjects.size(), 0u) << "subjects readpst read that no source has";
        EXPECT_EQ(names, wantNames) << "attachment names";
        EXPECT_EQ(embedded, wantEmbedded) << "embedded messages";
    }
    EXPECT_GT(compared, 30u);
}

}  // namespace
}  // namespace tavrin
