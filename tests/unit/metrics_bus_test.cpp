// The metrics request and answer on the bus, and the fetch that drives them.

#include "metrics_sample.hpp"

#include "metrics/answer.hpp"
#include "metrics/fetch.hpp"
#include "metrics/files.hpp"
#include "metrics/fuzz_entry.hpp"
#include "support/fake_port.hpp"
#include "support/records.hpp"
#include "support/sim_process.hpp"

#include <gtest/gtest.h>

#include <ctime>
#include <vector>

namespace zanst::metrics {
namespace {

using Millis = std::chrono::milliseconds;
const bus::Bytes kWakeup(10, 0x00);

// Plays the window: console lines kept, records stored through a real file store.
class Window {
  public:
    explicit Window(const std::string& folder) : store(folder) {}

    // A report handled in the order the window handles it.
    void take(const FetchReport& report) {
        if (report.started) {
            ++started;
            store.forgetActiveFile();
        }
        for (const MetricsMetadata& record : report.recordsReceived) {
            std::tm now{};
            now.tm_year = 125;
            now.tm_mday = 7;
            const StoreResult stored = store.storeMetricsInActiveFile(record, now);
            if (!stored.message.empty()) {
                console.push_back(stored.message);
            }
        }
        console.insert(console.end(), report.consoleLines.begin(), report.consoleLines.end());
        if (report.ended) {
            summaries.push_back(*report.ended);
            console.push_back(fetchEndedLine(store.storedInActiveFile(), report.ended->requested));
        }
    }

    MetricsFileStore store;
    std::vector<std::string> console;
    std::vector<FetchSummary> summaries;
    int started = 0;
};

// The fetch as the engine drives it: every report goes to the window.
class DrivenFetch {
  public:
    DrivenFetch(bus::BusPort& port, bool& frameReceiving, Window& window)
        : fetch_(port, frameReceiving), window_(window) {}
    void requestAllMetrics(Millis now) { window_.take(fetch_.requestAllMetrics(now)); }
    void frameReceived(std::span<const std::uint8_t> frame, Millis now) {
        window_.take(fetch_.frameReceived(frame, now));
    }
    void tick(Millis now) { window_.take(fetch_.tick(now)); }
    void cancel(const std::string& reason) { window_.take(fetch_.cancel(reason)); }
    bool running() const { return fetch_.running(); }
    std::optional<Millis> deadline() const { return fetch_.deadline(); }
    int nrOfInstances() const { return fetch_.nrOfInstances(); }
    int instanceIDToFetch() const { return fetch_.instanceIDToFetch(); }

  private:
    MetricsFetch fetch_;
    Window& window_;
};

struct Fixture : testing::Test {
    test::TempDir dir;
    test::FakePort port;
    bool frameReceiving = true;
    Window window{dir.path()};
    DrivenFetch fetch{port, frameReceiving, window};
};

TEST_F(Fixture, GetAllMetricsSendsTheRequestForInstanceOne) {
    fetch.requestAllMetrics(Millis(0));

    const bus::Bytes expected{0xAA, 0x50, 0x01, 0x0D, 0x01, 0x04, 0x00, 0x04, 0x00, 0x04,
                              0x00, 0x04, 0x00, 0x04, 0x00, 0x04, 0x00, 0x00, 0xF1};
    ASSERT_EQ(port.writes.size(), 2u);
    EXPECT_EQ(port.writes[0], kWakeup);
    EXPECT_EQ(port.writes[1], expected);
    EXPECT_FALSE(frameReceiving);
    EXPECT_EQ(window.started, 1);
    EXPECT_EQ(window.console, std::vector<std::string>{"Fetching instance 1"});
    EXPECT_EQ(fetch.nrOfInstances(), 4);
    EXPECT_EQ(fetch.instanceIDToFetch(), 1);
}

TEST_F(Fixture, OnlyTheLowEightBitsOfTheInstanceReachTheBus) {
    const std::pair<int, std::uint8_t> rows[] = {{4, 0x04}, {256, 0x00}, {258, 0x02}, {-1, 0xFF}};
    for (const auto& [instance, byte] : rows) {
        const bus::Bytes frame = buildMetricsRequest(instance);
        ASSERT_EQ(frame.size(), kRequestSize);
        EXPECT_EQ(frame[4], byte) << instance;
        EXPECT_EQ(frame[18], test::crc8(frame, 18)) << instance;
    }
}

TEST_F(Fixture, ClosedPortStillLogsAndTheFetchEndsByItself) {
    port.open = false;
    fetch.requestAllMetrics(Millis(0));
    for (int guard = 0; fetch.running() && guard < 100; ++guard) {
        fetch.tick(*fetch.deadline());
    }
    EXPECT_FALSE(fetch.running());
    EXPECT_TRUE(port.writes.empty());
    EXPECT_EQ(window.console.front(), "Fetching instance 1");
    EXPECT_EQ(window.console.back(), "Metrics fetch done: 0 of 4 instances stored");
    ASSERT_EQ(window.summaries.size(), 1u);
    EXPECT_EQ(window.summaries[0].answered, 0);
}

TEST(MetricsFetchClosedPort, NothingCanAnswerSoTheFetchEndsAtOnce) {
    // Where the port is found closed: at the press, when the next instance is due, at a retry.
    enum class ClosedAt { Press, NextInstance, Retry };
    struct Row {
        ClosedAt at;
        std::vector<std::string> console;
        int answered;
    };
    const Row rows[] = {
        {ClosedAt::Press,
         {"Fetching instance 1", "Metrics fetch stopped: the port is closed",
          "Metrics fetch done: 0 of 4 instances stored"},
         0},
        {ClosedAt::NextInstance,
         {"Fetching instance 1", "Fetching instance 2", "Metrics fetch stopped: the port is closed",
          "Metrics fetch done: 1 of 4 instances stored"},
         1},
        {ClosedAt::Retry,
         {"Fetching instance 1", "Metrics fetch stopped: the port is closed",
          "Metrics fetch done: 0 of 4 instances stored"},
         0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(static_cast<int>(row.at));
        test::TempDir dir;
        test::FakePort port;
        bool frameReceiving = true;
        Window window{dir.path()};
        DrivenFetch fetch{port, frameReceiving, window};
        port.open = row.at != ClosedAt::Press;
        fetch.requestAllMetrics(Millis(0));
        if (row.at == ClosedAt::NextInstance) {
            port.open = false; // the connection is lost while instance 1 answers
            fetch.frameReceived(buildMetricsAnswer(test::sampleMetrics(1)), Millis(20));
        } else if (row.at == ClosedAt::Retry) {
            port.open = false;
            fetch.tick(Millis(1000));
        }
        EXPECT_FALSE(fetch.running());
        EXPECT_FALSE(fetch.deadline().has_value());
        EXPECT_EQ(window.console, row.console);
        ASSERT_EQ(window.summaries.size(), 1u);
        EXPECT_EQ(window.summaries[0].answered, row.answered);
        // Nothing went out on the closed port.
        EXPECT_EQ(port.writes.size(), row.at == ClosedAt::Press ? 0u : 2u);
    }
}

TEST_F(Fixture, MissingAnswerIsRetriedThenSkippedAndTheFetchEnds) {
    const auto answer = [](std::uint16_t instance) {
        return buildMetricsAnswer(test::sampleMetrics(instance, instance));
    };
    fetch.requestAllMetrics(Millis(0));
    fetch.frameReceived(buildMetricsRequest(1), Millis(5)); // the request's echo
    fetch.frameReceived(answer(1), Millis(20));
    EXPECT_EQ(fetch.instanceIDToFetch(), 2);

    // Instance 2 stays silent: two more requests a second apart, then it is given up.
    fetch.tick(Millis(1019));
    EXPECT_EQ(port.writes.size(), 4u);
    fetch.tick(Millis(1020));
    fetch.tick(Millis(2020));
    EXPECT_EQ(fetch.instanceIDToFetch(), 2);
    fetch.tick(Millis(3020));
    EXPECT_EQ(fetch.instanceIDToFetch(), 3);

    // A late answer for 2 and a corrupted one are not taken for 3.
    fetch.frameReceived(answer(2), Millis(3030));
    bus::Bytes corrupted = answer(3);
    corrupted[100] ^= 0x01;
    fetch.frameReceived(corrupted, Millis(3040));
    EXPECT_EQ(fetch.instanceIDToFetch(), 3);
    fetch.frameReceived(answer(3), Millis(3050));
    fetch.frameReceived(answer(4), Millis(3100));
    EXPECT_FALSE(fetch.running());
    EXPECT_FALSE(fetch.deadline().has_value());

    const std::vector<std::string> expected{
        "Fetching instance 1",
        "Fetching instance 2",
        "No answer from instance 2, asking again (1 of 2)",
        "No answer from instance 2, asking again (2 of 2)",
        "Instance 2 did not answer",
        "Fetching instance 3",
        "Ignored metrics answer for instance 2 while fetching instance 3",
        "Metrics answer refused: wrong CRC",
        "Fetching instance 4",
        "Metrics fetch done: 3 of 4 instances stored",
    };
    EXPECT_EQ(window.console, expected);
    ASSERT_EQ(window.summaries.size(), 1u);
    EXPECT_EQ(window.summaries[0].requested, 4);
    EXPECT_EQ(window.summaries[0].answered, 3);

    // Every request went out after its wake-up prefix; instance 2 three times.
    std::vector<int> asked;
    for (std::size_t i = 0; i + 1 < port.writes.size(); i += 2) {
        EXPECT_EQ(port.writes[i], kWakeup);
        asked.push_back(port.writes[i + 1][4]);
    }
    EXPECT_EQ(asked, (std::vector<int>{1, 2, 2, 2, 3, 4}));

    // The file holds the three answers in order; its second block is instance 3.
    const MetricsFileRead second = readMetricsInstance(window.store.activeMetricsFileName(), 2);
    EXPECT_EQ(second.nrOfInstances, 3);
    ASSERT_TRUE(second.view) << second.reason;
    EXPECT_EQ(second.instanceInFile, 3u);
    EXPECT_EQ(second.view->fields[0], "90064");
}

TEST_F(Fixture, CancelEndsARunningFetchOnceWithWhatWasStored) {
    fetch.cancel("not running"); // no fetch: nothing is said
    fetch.requestAllMetrics(Millis(0));
    fetch.frameReceived(buildMetricsAnswer(test::sampleMetrics(1)), Millis(20));
    fetch.cancel("Metrics fetch stopped");
    fetch.cancel("twice");
    fetch.tick(Millis(10000));
    fetch.frameReceived(buildMetricsAnswer(test::sampleMetrics(2)), Millis(10020));

    EXPECT_FALSE(fetch.running());
    EXPECT_EQ(window.console,
              (std::vector<std::string>{"Fetching instance 1", "Fetching instance 2", "Metrics fetch stopped",
                                        "Metrics fetch done: 1 of 4 instances stored"}));
    ASSERT_EQ(window.summaries.size(), 1u);
    EXPECT_EQ(window.summaries[0].answered, 1);
}

TEST(MetricsAnswer, RoundTripsEveryMemberAndIsSizedAtByteFive) {
    const MetricsMetadata record = test::sampleMetrics(3);
    const bus::Bytes frame = buildMetricsAnswer(record);
    ASSERT_EQ(frame.size(), 448u);
    EXPECT_EQ((bus::Bytes{frame[0], frame[1], frame[2], frame[3], frame[4], frame[5]}),
              (bus::Bytes{0xAA, 0x50, 0x01, 0xFF, 0x01, 0xBA}));
    EXPECT_EQ(frame[6], 0x01); // layoutVersion, little-endian, first
    EXPECT_EQ(frame[7], 0x00);
    EXPECT_EQ(bus::getLe16(frame, 442), 3); // instanceNumber, then the balancer's checksum
    EXPECT_EQ(bus::getLe16(frame, 444), test::referenceStoreChecksum(record));
    EXPECT_EQ(storeChecksum(record), record.storeChecksum);
    EXPECT_EQ(frame[446], 0x00);
    EXPECT_EQ(frame[447], test::crc8(frame, 447));

    const DecodedAnswer decoded = decodeMetricsAnswer(frame);
    EXPECT_EQ(decoded.error, AnswerError::None);
    ASSERT_TRUE(decoded.record);
    EXPECT_EQ(*decoded.record, record);

    // As a receiver sizes it: the default until byte 5, then 448; the request at byte 3.
    int size = 18;
    for (int i = 0; i < 6; ++i) {
        size = bus::frameSizeAfter(bus::FrameKind::Metrics, frame, i, size);
        EXPECT_EQ(size, i < 5 ? 18 : 448) << i;
    }
    EXPECT_EQ(bus::frameSizeAfter(bus::FrameKind::Metrics, buildMetricsRequest(1), 3, 18), 19);
    EXPECT_FALSE(bus::isMetricsAnswer(buildMetricsRequest(1)));
}

TEST(MetricsAnswer, LayoutVersionAndBalancerChecksumAreChecked) {
    const std::string_view digits = "123456789";
    ASSERT_EQ(test::referenceCrc16(std::span(reinterpret_cast<const std::uint8_t*>(digits.data()), 9)),
              0x29B1);
    const MetricsMetadata good = test::sampleMetrics(2);
    const auto with = [&](auto change, bool checksumAgain) {
        MetricsMetadata m = good;
        change(m);
        if (checksumAgain) {
            m.storeChecksum = test::referenceStoreChecksum(m);
        }
        return m;
    };
    struct Row {
        const char* name;
        bus::Bytes frame;
        std::string reason; // "accepted" when taken
    };
    bus::Bytes badCrcAndLayout =
        buildMetricsAnswer(with([](MetricsMetadata& m) { m.layoutVersion = 7; }, true));
    badCrcAndLayout[447] ^= 0x01;
    const Row rows[] = {
        {"the sample", buildMetricsAnswer(good), "accepted"},
        {"layout version 0", buildMetricsAnswer(with([](MetricsMetadata& m) { m.layoutVersion = 0; }, true)),
         "layout version is not 1"},
        {"layout version 2", buildMetricsAnswer(with([](MetricsMetadata& m) { m.layoutVersion = 2; }, true)),
         "layout version is not 1"},
        {"layout version 0x0100 (byte order)",
         buildMetricsAnswer(with([](MetricsMetadata& m) { m.layoutVersion = 0x0100; }, true)),
         "layout version is not 1"},
        {"checksum one off", buildMetricsAnswer(with([](MetricsMetadata& m) { ++m.storeChecksum; }, false)),
         "balancer checksum does not match the record"},
        {"checksum zero", buildMetricsAnswer(with([](MetricsMetadata& m) { m.storeChecksum = 0; }, false)),
         "balancer checksum does not match the record"},
        {"a value changed after the checksum",
         buildMetricsAnswer(with([](MetricsMetadata& m) { m.timeMatrix[2][1][3] ^= 0x100; }, false)),
         "balancer checksum does not match the record"},
        {"the instance changed after the checksum",
         buildMetricsAnswer(with([](MetricsMetadata& m) { m.instanceNumber = 3; }, false)),
         "balancer checksum does not match the record"},
        {"the layout version changed after the checksum",
         buildMetricsAnswer(with([](MetricsMetadata& m) { m.layoutVersion = 0; }, false)),
         "layout version is not 1"},
        {"a damaged transfer is named first", badCrcAndLayout, "wrong CRC"},
    };
    for (const Row& row : rows) {
        const DecodedAnswer decoded = decodeMetricsAnswer(row.frame);
        EXPECT_EQ(answerErrorText(decoded.error), row.reason) << row.name;
        EXPECT_EQ(decoded.record.has_value(), row.reason == "accepted") << row.name;
    }
}

TEST(MetricsAnswer, DamagedFramesAreRefusedWithTheirReason) {
    const bus::Bytes good = buildMetricsAnswer(test::sampleMetrics(1));
    const auto changed = [&](auto change) {
        bus::Bytes f = good;
        change(f);
        return f;
    };
    const auto resealed = [&](auto change) {
        bus::Bytes f = changed(change);
        test::sealLast(f);
        return f;
    };
    const std::pair<bus::Bytes, AnswerError> rows[] = {
        {{}, AnswerError::Truncated},
        {bus::Bytes(good.begin(), good.begin() + 5), AnswerError::Truncated},
        {bus::Bytes(good.begin(), good.end() - 1), AnswerError::Truncated},
        {changed([](bus::Bytes& f) { f.push_back(0); }), AnswerError::Oversized},
        {resealed([](bus::Bytes& f) { f[5] = 0xBB; }), AnswerError::WrongLength},
        {resealed([](bus::Bytes& f) { f[4] = 0xFF; }), AnswerError::WrongLength},
        {changed([](bus::Bytes& f) { f[447] ^= 0x80; }), AnswerError::WrongCrc},
        {changed([](bus::Bytes& f) { f[300] ^= 0x04; }), AnswerError::WrongCrc},
        {resealed([](bus::Bytes& f) { f[0] = 0x55; }), AnswerError::NotAnAnswer},
        {resealed([](bus::Bytes& f) { f[1] = 0x51; }), AnswerError::NotAnAnswer},
        {buildMetricsRequest(1), AnswerError::NotAnAnswer},
    };
    for (const auto& [frame, error] : rows) {
        const DecodedAnswer decoded = decodeMetricsAnswer(frame);
        EXPECT_EQ(decoded.error, error) << frame.size() << " " << answerErrorText(error);
        EXPECT_FALSE(decoded.record);
        fuzzMetricsAnswer(frame); // must return on every shape
    }
}

} // namespace
} // namespace zanst::metrics
