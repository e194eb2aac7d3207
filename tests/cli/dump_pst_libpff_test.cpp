// msg2pst dump-pst against libpff's pffexport on the Outlook-written sample
// PSTs: the same folders, the same number of messages in each, and per
// message the same subject, sender and attachments. Skipped when the
// samples or pffexport are absent.
//
// pffexport writes a folder tree with one directory per item
// (Message00001, Appointment00001, Contact00001, ...) holding a text file of
// "Key:<tabs>value" lines and an Attachments directory (a file "N_name" per
// attachment with data, a directory AttachmentNNNNN per embedded message).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "store/msg/json_value.h"
#include "cli_test_util.h"

namespace tavrin {
namespace {

namespace fsys = std::filesystem;
using testing::JsonValue;
using namespace clitest;

// One message as both sides can describe it.
struct Item {
    std::string subject, senderName, senderAddress;
    std::vector<std::string> attachments;  // "name size", or "(embedded)"
    std::string key() const {
        std::string k = subject + " | " + senderName;
        for (const auto& a : attachments) k += " | " + a;
        return k;
    }
};

using Listing = std::map<std::string, std::vector<Item>>;  // folder path -> items

std::string jsonText(const JsonValue* v) { return v && v->kind == JsonValue::String ? trim(v->s) : std::string(); }

const std::regex& itemDirectory() {
    static const std::regex re(
        "(Message|Appointment|Contact|DistributionList|Task|Note|Meeting|Activity|Document|Conflict|RSS)[0-9]{5}");
    return re;
}

void walkExport(const fsys::path& dir, const std::string& rel, Listing& out, std::set<std::string>& folders) {
    folders.insert(rel);
    std::vector<fsys::path> children;
    for (const auto& e : fsys::directory_iterator(dir))
        if (e.is_directory()) children.push_back(e.path());
    std::sort(children.begin(), children.end());
    for (const auto& c : children) {
        const std::string name = c.filename().string();
        if (!std::regex_match(name, itemDirectory())) {
            walkExport(c, rel.empty() ? name : rel + "/" + name, out, folders);
            continue;
        }
        auto h = pffItemHeaders(c);
        Item it{h["Subject"], h["Sender name"], h["Sender email address"], {}};
        if (fsys::is_directory(c / "Attachments"))
            for (const auto& a : fsys::directory_iterator(c / "Attachments")) {
                if (a.is_directory()) {
                    it.attachments.push_back("(embedded)");
                    continue;
                }
                // "N_name"
                std::string n = a.path().filename().string();
                n = n.substr(n.find('_') + 1);
                it.attachments.push_back(n + " " + std::to_string(a.file_size()));
            }
        std::sort(it.attachments.begin(), it.attachments.end());
        out[rel].push_back(std::move(it));
    }
}

class DumpPstAgainstLibpff : public ::testing::Test {
protected:
    void SetUp() override {
        bin_ = fsys::path(TAVRIN_BIN_DIR) / "msg2pst";
        if (!fsys::exists(bin_)) GTEST_SKIP() << "msg2pst is not built at " << bin_;
        samples_ = fsys::path(TAVRIN_SHARED_DIR) / "samples/pst";
        std::error_code ec;
        if (!fsys::is_directory(samples_, ec)) GTEST_SKIP() << "shared PST samples not available: " << samples_;
        if (!haveTool("pffexport")) GTEST_SKIP() << "pffexport (libpff) is not installed";
        dir_ = fsys::temp_directory_path() / ("tavrin-libpff-" + std::to_string(processId()));
        fsys::remove_all(dir_);
        fsys::create_directories(dir_);
    }
    void TearDown() override {
        if (!dir_.empty()) fsys::remove_all(dir_);
    }
    std::vector<JsonValue> dump(const fsys::path& pst, const std::string& options) {
        const fsys::path out = dir_ / "dump.jsonl";
        const std::string cmd = quote(bin_) + " dump-pst " + options + " " + quote(pst) + " >" + quote(out) + " 2>/dev/null";
        EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
        std::vector<JsonValue> lines;
        std::istringstream in(slurp(out));
        for (std::string line; std::getline(in, line);) {
            JsonValue v;
            EXPECT_TRUE(testing::parseJson(line, v)) << line;
            lines.push_back(std::move(v));
        }
        return lines;
    }
    fsys::path bin_, samples_, dir_;
};

TEST_F(DumpPstAgainstLibpff, FoldersMessagesSubjectsSendersAndAttachmentsAgree) {
    std::vector<fsys::path> files;
    for (const auto& e : fsys::recursive_directory_iterator(samples_))
        if (e.is_regular_file() && e.path().extension() == ".pst") files.push_back(e.path());
    std::sort(files.begin(), files.end());
    if (files.empty()) GTEST_SKIP() << "no sample PSTs in " << samples_;
    size_t compared = 0;
    for (const auto& pst : files) {
        SCOPED_TRACE(pst.string());
        // Ours.
        std::string top;
        std::set<std::string> ourFolders;
        for (const auto& f : dump(pst, "--folders")) {
            ourFolders.insert(jsonText(f.get("folder")));
            if (const JsonValue* d = f.get("depth"); d && d->n == 0) top = jsonText(f.get("name"));
        }
        ASSERT_FALSE(top.empty());
        Listing ours;
        for (const auto& m : dump(pst, "")) {
            Item it;
            it.subject = jsonText(m.get("subject"));
            if (const JsonValue* s = m.get("sender")) {
                it.senderName = jsonText(s->get("name"));
                it.senderAddress = jsonText(s->get("address"));
            }
            if (const JsonValue* atts = m.get("attachments"))
                for (const auto& a : atts->items) {
                    if (a.get("message")) {
                        it.attachments.push_back("(embedded)");
                        continue;
                    }
                    const JsonValue* size = a.get("size");
                    it.attachments.push_back(jsonText(a.get("name")) + " " +
                                             std::to_string(size ? static_cast<uint64_t>(size->n) : 0));
                }
            std::sort(it.attachments.begin(), it.attachments.end());
            ours[jsonText(m.get("folder"))].push_back(std::move(it));
        }
        // libpff's.
        const fsys::path target = dir_ / "export";
        fsys::remove_all(dir_ / "export.export");
        const std::string cmd = "pffexport -q -t " + quote(target) + " " + quote(pst) + " >/dev/null 2>&1";
        ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
        const fsys::path theirTop = dir_ / "export.export" / top;
        ASSERT_TRUE(fsys::is_directory(theirTop)) << "pffexport has no folder " << top;
        Listing theirs;
        std::set<std::string> theirFolders;
        walkExport(theirTop, "", theirs, theirFolders);

        EXPECT_EQ(ourFolders, theirFolders);
        std::set<std::string> paths;
        for (const auto& [p, v] : ours) paths.insert(p);
        for (const auto& [p, v] : theirs) paths.insert(p);
        for (const auto& p : paths) {
            auto a = ours[p], b = theirs[p];
            ASSERT_EQ(a.size(), b.size()) << "messages in folder \"" << p << "\"";
            auto byKey = [](const Item& x, const Item& y) { return x.key() < y.key(); };
            std::sort(a.begin(), a.end(), byKey);
            std::sort(b.begin(), b.end(), byKey);
            for (size_t i = 0; i < a.size(); ++i) {
                EXPECT_EQ(a[i].key(), b[i].key()) << "folder \"" << p << "\"";
                // The record prefers the sender's SMTP address; libpff shows
                // the stored address, which for Exchange senders is an X.500
                // name.
                const bool x500 = !b[i].senderAddress.empty() && b[i].senderAddress[0] == '/';
                if (!(x500 && a[i].senderAddress.find('@') != std::string::npos)) {
                    EXPECT_EQ(a[i].senderAddress, b[i].senderAddress) << a[i].key();
                }
                ++compared;
            }
        }
    }
    EXPECT_GT(compared, 10u);
}

}  // namespace
}  // namespace tavrin
