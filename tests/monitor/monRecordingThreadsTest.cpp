// The recording behind "Запись" on the real polling thread against the simulated meter (both
// clocks ten times faster): journals begun and ended from another thread while the poll runs
// each hold decodable records, the settings read before they began included.
#include "channel/LCAObject.h"
#include "connection/CcnConnectionList.h"
#include "journal/jnJournal.h"
#include "monitor/monRecording.h"
#include "simulator/MeterSimulator.h"
#include "tests/support/ChannelGuards.h"
#include "tests/support/FastClocks.h"
#include "tests/support/MeterConnection.h"
#include "tests/support/RecordingListener.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <set>
#include <thread>

namespace qz {
namespace {

constexpr int kFast = 10;

TEST(RecordingThreads, JournalsBegunAndEndedWhilePolling) {
    test::TLCAModule module;
    TSimOptions so;
    so.ModelIndex = 1;
    so.Address = 1;
    so.ListenPort = 0;
    so.Clock = test::FastMeterClock(NowDateTime(), kFast);
    TMeterSimulator sim(so);
    std::string error;
    ASSERT_TRUE(sim.Start(&error)) << error;
    const std::string folder =
        (std::filesystem::temp_directory_path() / ("qz-rec-" + std::to_string(::getpid())))
            .string() +
        "/Записи/";

    TmonSharedStorage storage;
    test::TRecordingListener window; // the window's side: the records it was shown
    TmonRecording recording(storage, &window);
    int failures = 0;
    recording.OnFailure = [&failures](const std::string&, const std::string&) { ++failures; };
    auto connection = test::TcpConnection(dtQZ2M, sim.port(), "127.0.0.1", test::kOwnAttempts,
                                          test::kOwnAttempts, 77);
    TMainExchangeThread thread(&recording, connection.get(), &storage);
    thread.SetClock(test::FastTicks(kFast));
    thread.Start();
    ASSERT_TRUE(window.WaitRecords(1, 60000)); // the settings are read before any journal begins

    std::vector<std::string> files;
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(recording.Start(folder, *connection, error)) << error;
        EXPECT_TRUE(recording.Active());
        files.push_back(recording.FileName());
        ASSERT_TRUE(window.WaitRecords(window.RecordCount() + 2, 60000));
        EXPECT_EQ(recording.Stop(), "");
        EXPECT_FALSE(recording.Active());
    }
    thread.Stop();
    thread.Join();
    const int shown = int(window.RecordCount());
    EXPECT_EQ(failures, 0);
    // Begun within the same second they still get names of their own.
    EXPECT_EQ(std::set<std::string>(files.begin(), files.end()).size(), files.size());

    int64_t total = 0;
    for (const std::string& f : files) {
        SCOPED_TRACE(f);
        TjnReader reader;
        ASSERT_EQ(reader.Open(f, error), TjnOpenResult::Ok) << error;
        EXPECT_EQ(reader.Meter().FactoryNumber, 77);
        EXPECT_FALSE(std::filesystem::exists(f + "-wal")); // closed into one file
        TjnDecoder decoder(reader);
        int64_t n = 0;
        ASSERT_TRUE(reader.ForEachRecord(
            kjnAnyTimeFrom, kjnAnyTimeTo,
            [&](const TjnRecordView& r) {
                TmonData3sec d;
                EXPECT_NE(r.SettingsId, 0); // decoded with the settings in force
                EXPECT_NE(r.ScaleId, 0);
                EXPECT_TRUE(decoder.Decode(r, d, error)) << error;
                EXPECT_GT(d.F, 40.0);
                ++n;
                return true;
            },
            error))
            << error;
        EXPECT_GE(n, 1);
        total += n;
    }
    EXPECT_LE(total, shown);
    size_t reads = 0;
    for (const TSimRequest& r : sim.RequestLog())
        reads += r.Cmd == 27 && r.Cmd1 == 1;
    EXPECT_GE(reads, size_t(shown));
    sim.Stop();
    std::error_code ec;
    std::filesystem::remove_all(std::filesystem::path(folder).parent_path().parent_path(), ec);
}

} // namespace
} // namespace qz
