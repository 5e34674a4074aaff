// The BMS tester over a pseudo-terminal: the test plays a real BMS, the engine answers as the
// emulated bank.

#include "emulator/bank_editor.hpp"
#include "engine/emulator_feature.hpp"
#include "support/engine_fixture.hpp"
#include "support/records.hpp"

#include "bus/frames.hpp"
#include "bus/hex.hpp"

#include <string>

namespace zanst::test {
namespace {

using namespace std::chrono_literals;
using bus::Bytes;
using bus::Mode;

Bytes withWakeup(const Bytes& frame) {
    Bytes out(10, 0);
    out.insert(out.end(), frame.begin(), frame.end());
    return out;
}

Bytes bmsInfoRequest() {
    Bytes payload(16, 0);
    bus::putLe16(payload, 0, 0xB00C);
    bus::putAscii(payload, 4, "BMS-0000042");
    return frame(0x01, payload, 0);
}

Bytes bmsMeasurementRequest(int records) {
    Bytes payload(20, 0);
    bus::putLe16(payload, 0, 3400);
    bus::putLe16(payload, 2, static_cast<std::uint16_t>(-255)); // -25.5 A
    bus::putLe16(payload, 4, 531);                              // 53.1 V
    Bytes out = frame(0x02, payload, 2);
    for (int i = 1; i <= records; ++i) {
        const Bytes r = measurementRecord(static_cast<std::uint16_t>(i), 0x00, 0, 0, i < records ? 2 : 0);
        out.insert(out.end(), r.begin(), r.end());
    }
    return out;
}

class EmulatorPty : public EngineFixture {
  protected:
    void SetUp() override {
        EngineFixture::SetUp();
        app::EmulatorFeature* link = host.engine()->emulator();
        QObject::connect(
            link, &app::EmulatorFeature::reported, &context, [this](const emulator::ResponderReport& r) {
                if (r.identityReceived) {
                    identity = QString::fromStdString(bus::ConvertHex1(r.identityReceived->productId, 4)) +
                               "/" + QString::fromLatin1(r.identityReceived->serial.c_str());
                }
                if (r.measurementReceived) {
                    measurement =
                        QString::fromStdString(bus::tenthsText(r.measurementReceived->voltageTenths) + "/" +
                                               bus::groupedTenthsText(r.measurementReceived->currentTenths));
                }
                refreshed += r.measurementAnswered ? 1 : 0;
            });
        openPty();
        selectMode(Mode::BmsTester);
        settings.fwVersionIndex = 2;
        publish(settings);
        applyPreset(0, false);
    }

    // As the window does it: whole snapshots, on the engine's thread.
    void publish(const emulator::BankSettings& s) {
        host.runBlocking([&] { host.engine()->emulator()->setBankSettings(s); });
    }
    void applyPreset(int index, bool announce) {
        host.runBlocking([&] { host.engine()->emulator()->applyBatteryPreset(index, announce); });
    }

    // Sends a request and returns the answer, expecting exactly `size` bytes and nothing after.
    Bytes ask(const Bytes& request, std::size_t size) {
        pty.write(request);
        Bytes answer = pty.read(size, 2000ms);
        EXPECT_TRUE(pty.readFor(100ms).empty()) << "more than " << size << " bytes";
        return answer;
    }

    Bytes infoAnswer(const std::string& serialBase, std::uint16_t pid, std::uint16_t capacity, int cells,
                     int count) {
        Bytes echo = bmsInfoRequest();
        echo[20] = 0x01;
        sealLast(echo);
        Bytes out = withWakeup(echo);
        for (int i = 0; i < count; ++i) {
            InfoFields f;
            f.id = static_cast<std::uint16_t>(i + 1);
            f.flags = i % 4 == 0 ? 0x01 : (i % 4 == 2 ? 0x03 : 0x00);
            f.serial = serialBase + static_cast<char>('1' + i / cells);
            f.productId = pid;
            f.capacity = capacity;
            f.following = i < count - 1 ? 1 : 0;
            const Bytes r = infoRecord(f);
            out.insert(out.end(), r.begin(), r.end());
        }
        return out;
    }

    emulator::BankSettings settings;
    QString identity;
    QString measurement;
    int refreshed = 0;
};

TEST_F(EmulatorPty, FullInfoAndMeasurementExchange) {
    EXPECT_EQ(ask(bmsInfoRequest(), 10 + 22 + 4 * 32), infoAnswer("HQ2200A602", 0xA602, 100, 4, 4));

    const Bytes request = bmsMeasurementRequest(4);
    Bytes expected = withWakeup(Bytes(request.begin(), request.begin() + 26));
    for (int i = 1; i <= 4; ++i) {
        const Bytes r =
            measurementRecord(static_cast<std::uint16_t>(i), 0x40, 0x000008FC, 0x1900, i < 4 ? 2 : 0);
        expected.insert(expected.end(), r.begin(), r.end());
    }
    EXPECT_EQ(ask(request, expected.size()), expected);

    EXPECT_TRUE(waitUntil([&] { return refreshed == 1; }));
    EXPECT_EQ(identity, QStringLiteral("B00C/BMS-0000042"));
    EXPECT_EQ(measurement, QStringLiteral("53.1/-25.5"));
    bool infoReceived = false;
    host.runBlocking(
        [&] { infoReceived = host.engine()->emulator()->responder().bmsTesterBalancersInfoReceived(); });
    EXPECT_TRUE(infoReceived);
}

TEST_F(EmulatorPty, PresetChangeIsAnnouncedAndAnsweredWithTheEchoUntilTheNextInfoRequest) {
    ask(bmsInfoRequest(), 10 + 22 + 4 * 32);
    applyPreset(10, true); // 25.6 V / 300 Ah, 8 cells
    EXPECT_EQ(pty.read(32, 2000ms), withWakeup(bus::buildIdentityFrame(0x31)));

    const Bytes request = bmsMeasurementRequest(8);
    EXPECT_EQ(ask(request, 36), withWakeup(Bytes(request.begin(), request.begin() + 26)));

    EXPECT_EQ(ask(bmsInfoRequest(), 10 + 22 + 8 * 32), infoAnswer("HQ2200A60A", 0xA60A, 300, 8, 8));
    EXPECT_EQ(ask(request, 36 + 8 * 12).size(), 36u + 8 * 12);
}

TEST_F(EmulatorPty, SliderChangeShowsInTheNextAnswer) {
    settings.numBatText = "2";
    publish(settings);
    ask(bmsInfoRequest(), 10 + 22 + 8 * 32);
    const Bytes request = bmsMeasurementRequest(8);
    Bytes before = ask(request, 36 + 8 * 12);
    ASSERT_EQ(before.size(), 36u + 8 * 12);
    EXPECT_EQ(bus::getLe32(before, 36 + 2 * 12 + 4), 0x000008FCu);

    settings.voltageMv[2] = 2500;
    settings.tempTenths[2] = -400;
    settings.currentA = -500;
    publish(settings);
    const Bytes after = ask(request, 36 + 8 * 12);
    ASSERT_EQ(after.size(), 36u + 8 * 12);
    for (int battery = 0; battery < 2; ++battery) {
        const std::size_t cell3 = 36 + static_cast<std::size_t>(battery * 4 + 2) * 12;
        EXPECT_EQ(bus::getLe32(after, cell3 + 4), 0x85EE05DCu) << battery; // -500 A, 2500 mV
        EXPECT_EQ(bus::getLe16(after, cell3 + 8), 0xCE00) << battery;
        EXPECT_EQ(after[cell3 + 3] >> 4, 1) << "second answer";
    }
}

TEST_F(EmulatorPty, RequestsAreNotAnsweredOutsideTheBmsTesterTab) {
    selectMode(Mode::Sniffer);
    pump(50ms);
    // The sniffer repeats the bytes as they are; the emulator adds nothing.
    const Bytes request = bmsInfoRequest();
    EXPECT_EQ(ask(request, request.size()), request);
    selectMode(Mode::BmsTester);
    pump(50ms);
    EXPECT_EQ(ask(bmsInfoRequest(), 10 + 22 + 4 * 32).size(), 10u + 22 + 4 * 32);
}

} // namespace
} // namespace zanst::test
