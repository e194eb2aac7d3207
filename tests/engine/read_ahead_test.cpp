// The import loop with message files read ahead on other threads: the same
// store and the same records as without, and a skip or a stop that throws
// away what was read ahead.
#include "engine_fixture.h"

namespace tavrin::engine {
namespace {

using namespace enginetest;

// A tree of message files in folders that map onto the default folders,
// with a file that is not a message, a damaged one and a salvaged one.
void writeTree(const fsys::path& mail) {
    for (int i = 0; i < 12; ++i) writeMsg(mail / ("m" + std::to_string(i) + ".msg"), "top " + std::to_string(i));
    for (int i = 0; i < 8; ++i) writeMsg(mail / "Inbox" / ("i" + std::to_string(i) + ".msg"), "in " + std::to_string(i));
    for (int i = 0; i < 6; ++i)
        writeMsg(mail / "Sent" / "Old" / ("s" + std::to_string(i) + ".MSG"), "old " + std::to_string(i));
    std::ofstream(mail / "notes.txt") << "not a message";
    std::ofstream(mail / "Inbox" / "bad.msg") << "not a compound file";
    tavrin::testing::MessageBuilder m;
    m.unicode(makeTag(PidTagSubject, PT_UNICODE), "salvaged");
    m.entries.push_back({makeTag(0x0071, PT_BINARY), 6, 22});  // its value stream is missing
    const Bytes b = m.file();
    std::ofstream(mail / "Sent" / "salvaged.msg", std::ios::binary)
        .write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

TEST_F(Engine, ReadAheadGivesTheSameStoreAndRecordsAsNone) {
    writeTree(dir_ / "Mail");
    std::vector<std::map<std::string, std::vector<std::string>>> stores;
    std::vector<std::vector<std::string>> records;
    for (int threads : {0, 1, 4}) {
        SingleRun run(dir_);
        run.host.out = (dir_ / ("out" + std::to_string(threads) + ".pst")).string();
        run.e.setReadAheadThreads(threads);
        run.e.setReport(ConversionEngine::ReportMode::None);
        run.e.Form_Load();
        run.e.CmdStartConversion_Click();
        EXPECT_EQ(run.e.lastRun().messagesConverted(), 27) << threads;
        EXPECT_EQ(run.e.lastRun().withWarnings(), 1) << threads;
        stores.push_back(readBack(*run.host.out));
        std::vector<std::string> lines;
        for (const FileRecord& f : recordsOf(run.e.lastRun().records))
            lines.push_back(f.source + "|" + ResultText(f.result) + "|" + f.reason + "|" + f.storeFolder + "|" +
                            f.subject);
        records.push_back(lines);
    }
    ASSERT_EQ(stores[0].count("Sent Items/Old"), 1u);
    EXPECT_EQ(stores[0].at("").size(), 12u);
    EXPECT_EQ(stores[0].at("Inbox").size(), 8u);
    EXPECT_EQ(stores[0].at("Sent Items").size(), 1u);
    EXPECT_EQ(stores[0].at("Sent Items/Old").size(), 6u);
    EXPECT_EQ(records[0].size(), 29u);
    for (size_t k = 1; k < stores.size(); ++k) {
        EXPECT_EQ(stores[k], stores[0]) << k;
        EXPECT_EQ(records[k], records[0]) << k;
    }
}

// A skip (and then a stop) confirmed in the middle: the file holds exactly
// the messages accounted for before the question, in order, however far
// the read-ahead had gone, and the rest are recorded as skipped (or not
// reached).
TEST_F(Engine, ASkipOrAStopThrowsAwayWhatWasReadAhead) {
    for (int i = 0; i < 30; ++i) writeMsg(dir_ / "Mail" / ("m" + std::to_string(i) + ".msg"), "s" + std::to_string(i));
    for (bool stop : {false, true}) {
        SingleRun run(dir_);
        run.host.out = (dir_ / (stop ? "stopped.pst" : "skipped.pst")).string();
        run.e.setReadAheadThreads(4);
        run.e.setReport(ConversionEngine::ReportMode::None);
        run.host.onYield = [&] {
            if (run.view.frame.find("(4 of 30)") == std::string::npos) return;
            if (stop && !run.e.stopRequested()) run.e.CmdStopMigration_Click();
            if (!stop && !run.e.skipRequested() && run.host.asked("Confirm Skip") == 0) run.e.CmdSkip_Click();
        };
        run.e.Form_Load();
        run.e.CmdStartConversion_Click();
        const RunSummary& r = run.e.lastRun();
        EXPECT_EQ(run.host.asked(stop ? "Confirm Stop" : "Confirm Skip"), 1);
        std::vector<std::string> converted;
        size_t rest = 0;
        for (const FileRecord& f : recordsOf(r.records)) {
            if (f.result == FileResult::Converted) {
                EXPECT_EQ(rest, 0u) << "converted after the question: " << f.source;
                converted.push_back(f.subject);
            } else {
                EXPECT_EQ(f.result, stop ? FileResult::NotReached : FileResult::Skipped) << f.source;
                ++rest;
            }
        }
        EXPECT_EQ(converted.size(), 5u) << "the fifth was under way when the button was pressed";
        EXPECT_EQ(converted.size() + rest, 30u);
        auto back = readBack(*run.host.out);
        EXPECT_EQ(back[""], converted) << (stop ? "stop" : "skip");
    }
}

}  // namespace
}  // namespace tavrin::engine
