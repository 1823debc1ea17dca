// The collector's configuration file, its messages and its durable mark, without a broker.
#include "collector/colInFlight.h"
#include "collector/colMark.h"
#include "collector/colPayload.h"
#include "tests/support/TempDir.h"
#include "tools/qzcli/CliCollect.h"

#include <gtest/gtest.h>

#include <fstream>

namespace qz {
namespace {

const char* const kGood = "# station 7\n"
                          "name = st7\n"
                          "recordings = /var/lib/qz\n"
                          "rotate = week\n"
                          "reconnect-max = 120\n"
                          "mqtt = mqtts://broker.example:8884\n"
                          "mqtt-prefix = utility/pq\n"
                          "mqtt-user = collector\n"
                          "mqtt-password-file = /etc/qzmonitor/mqtt.pass\n"
                          "meter = --id 2\n"
                          "meter = --model qz2m --factory 1234 --tcp 10.0.0.5:5000  # feeder 3\n"
                          "meter = --model qz2 --factory 77 --com COM3 --baud 9600\n";

TEST(CollectConfig, ReadsEverySetting) {
    TCollectConfig c;
    std::string error;
    ASSERT_TRUE(ParseCollectConfig(kGood, c, error)) << error;
    EXPECT_EQ(c.Name, "st7");
    EXPECT_EQ(c.Mqtt.Name, "st7");
    EXPECT_EQ(c.RecordingsDir, "/var/lib/qz");
    EXPECT_EQ(c.Rotation, TjnRotation::Week);
    EXPECT_EQ(c.ReconnectMaxSec, 120u);
    EXPECT_TRUE(c.HaveMqtt);
    EXPECT_TRUE(c.Mqtt.Tls);
    EXPECT_EQ(c.Mqtt.Host, "broker.example");
    EXPECT_EQ(c.Mqtt.Port, 8884);
    EXPECT_EQ(c.Mqtt.Prefix, "utility/pq");
    EXPECT_EQ(c.Mqtt.PasswordFile, "/etc/qzmonitor/mqtt.pass");
    ASSERT_EQ(c.Meters.size(), 3u);
    EXPECT_EQ(c.Meters[0].Options.Id, 2);
    EXPECT_EQ(c.Meters[1].Line, 11);
    EXPECT_EQ(c.Meters[1].Text, "--model qz2m --factory 1234 --tcp 10.0.0.5:5000");
    EXPECT_EQ(c.Meters[1].Options.TcpPort, 5000);
    EXPECT_EQ(c.Meters[2].Options.ComPort, "COM3");
    EXPECT_EQ(c.Meters[2].Options.Baud, 9600u);
}

// Each fault is refused with the number of the line that holds it.
TEST(CollectConfig, ErrorsNameTheLine) {
    const struct {
        const char* Text;
        const char* Expected;
    } cases[] = {
        {"recordings = /r\nmeter = --id 1\nfoo = 1\n", "Строка 3: неизвестный параметр foo"},
        {"recordings = /r\n\nmeter --id 1\n", "Строка 3: ожидается"},
        {"recordings = /r\nrecordings = /s\nmeter = --id 1\n", "Строка 2: параметр recordings"},
        {"recordings = /r\nrotate = month\nmeter = --id 1\n", "Строка 2: rotate"},
        {"recordings = /r\nmeter = --model qz2m --factory 1 --tcp h:1 --json\n",
         "Строка 2: параметр --json"},
        {"recordings = /r\nmeter = --model qz2m --factory 1\n", "Строка 2: Укажите ровно одно"},
        {"recordings = /r\nmeter = --model qz9 --factory 1 --tcp h:1\n", "Строка 2: "},
        {"recordings = /r\nmeter = --model qz2m --factory 1 --tcp \"h:1\n", "Строка 2: не закрыта"},
        {"recordings = /r\nmeter = --id 1\nmqtt = http://h:1\n", "Строка 3: Адрес брокера"},
        {"recordings = /r\nmeter = --id 1\nmqtt = mqtt://h:99999\n", "Строка 3: Неверный порт"},
        {"recordings = /r\nmeter = --id 1\nreconnect-max = 1\n", "Строка 3: reconnect-max"},
        {"recordings = /r\nmeter = --id 1\nname = a/b\n", "Строка 3: имя сборщика"},
        {"meter = --id 1\n", "не задана папка записей"},
        {"recordings = /r\n", "не задан ни один измеритель"},
        {"recordings = /r\nmeter = --id 1\nmqtt-cert = /c\n", "mqtt-cert"},
        {"recordings = /r\nmeter = --id 1\nmqtt-password-file = /p\n", "mqtt-user"},
    };
    for (const auto& c : cases) {
        TCollectConfig config;
        std::string error;
        EXPECT_FALSE(ParseCollectConfig(c.Text, config, error)) << c.Text;
        EXPECT_NE(error.find(c.Expected), std::string::npos) << c.Text << " -> " << error;
    }
}

TEST(CollectPayload, RecordIsThePollObjectWithMeterAndTime) {
    const TcolMeterId meter{"qz2m", "QZ2-M \"new\"", 1234};
    TDateTime t = 0;
    ASSERT_TRUE(TryEncodeDateTime({2026, 12, 8, 14, 23, 11, 0}, t));
    EXPECT_EQ(RecordPayload("{\"Time\":1,\"F\":50}", meter, t),
              "{\"Time\":1,\"F\":50,\"Meter\":{\"Model\":\"QZ2-M \\\"new\\\"\",\"FactoryNumber\":"
              "1234},\"TimeISO\":\"2026-12-08T14:23:11.000\"}");
    EXPECT_EQ(MeterTopic("a/b", meter, "record"), "a/b/qz2m/1234/record");
    EXPECT_EQ(StatusTopic("a", "st7"), "a/collector/st7/status");
    EXPECT_EQ(JsonStringText("x\n\x01"), "\"x\\u000a\\u0001\"");
}

TEST(CollectMark, SurvivesARestartAndRefusesDamage) {
    test::TempDir dir("qz-mark");
    const std::string file = MarkFileName(dir.Path());
    TcolMark m, back;
    std::string error;
    EXPECT_TRUE(LoadMark(file, back, error)) << "an absent mark is the start";
    EXPECT_EQ(back, TcolMark());
    m.Record = 46364.658506944441;
    m.OutageBegan = 46364.5;
    m.OutageEnded = 46364.25;
    ASSERT_TRUE(SaveMark(file, m, error)) << error;
    ASSERT_TRUE(LoadMark(file, back, error)) << error;
    EXPECT_EQ(back, m); // bit for bit: the next record is the first one after it
    for (const char* bad : {"record 1\n", "record x\noutage-began 0\noutage-ended 0\n",
                            "record -1\noutage-began 0\noutage-ended 0\n",
                            "record nan\noutage-began 0\noutage-ended 0\n", ""}) {
        std::ofstream(file, std::ios::trunc) << bad;
        EXPECT_FALSE(LoadMark(file, back, error)) << bad;
        EXPECT_EQ(back, TcolMark()) << "a damaged mark sends everything again";
    }
}

// Acknowledgements out of order, and one that never comes because the connection broke: the
// mark passes only what was acknowledged without a gap, and reading starts again after it.
TEST(CollectMark, MovesOnlyOverAnUnbrokenRunOfAcknowledgements) {
    auto rec = [](double t) {
        TcolMark m;
        m.Record = t;
        return m;
    };
    TcolInFlight f;
    f.Reset(rec(10));
    f.Add(1, rec(11));
    f.Add(2, rec(12));
    f.Pass(rec(13)); // a record that could not be decoded
    f.Add(3, rec(14));
    EXPECT_EQ(f.Sent(), rec(14));
    EXPECT_TRUE(f.Ack(3));
    EXPECT_EQ(f.Acked(), rec(10)) << "3 waits for those before it";
    EXPECT_TRUE(f.Ack(1));
    EXPECT_EQ(f.Acked(), rec(11)) << "12 was never acknowledged";
    EXPECT_EQ(f.Unacked(), 1u);
    EXPECT_FALSE(f.Ack(3)) << "acknowledged twice";
    EXPECT_FALSE(f.Ack(77)) << "not in flight";
    EXPECT_EQ(f.Acked(), rec(11));

    // The broker went away before 12 was acknowledged: sent again from the mark.
    f.GiveUp();
    EXPECT_EQ(f.Sent(), rec(11));
    EXPECT_TRUE(f.Empty());
    EXPECT_FALSE(f.Ack(2)) << "an acknowledgement of what was given up moves nothing";
    f.Add(4, rec(12));
    f.Pass(rec(13));
    EXPECT_TRUE(f.Ack(4));
    EXPECT_EQ(f.Acked(), rec(13));
    EXPECT_TRUE(f.Empty());
}

} // namespace
} // namespace qz
