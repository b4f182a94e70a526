// The gateway's command line: CAN settings from options and from a settings file, and one line naming
// every bad value.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <ostream>

#include "GatewayOptions.h"

// Beside CanSetup, so that the test's messages can show one.
std::ostream &operator<<(std::ostream &os, const CanSetup &c) {
    return os << "{row " << c.bitRateRow << ", listen " << c.listening << ", low " << c.lowSpeed << ", tag "
              << std::hex << c.tag << ", mask " << c.mask << std::dec << ", std " << c.standard << "}";
}

namespace {

struct Parsed {
    CommandLine::Outcome outcome;
    GatewayOptions options;
    bool Runs() const { return outcome.run; }
};

Parsed Parse(QStringList args) {
    args.prepend("brisklet-gateway");
    Parsed p;
    p.outcome = ParseGatewayOptions(args, p.options);
    return p;
}

CanSetup CanOf(int row, bool listening, bool lowSpeed, uint32_t tag, uint32_t mask, bool standard) {
    return CanSetup{row, listening, lowSpeed, tag, mask, standard};
}

struct GoodRow {
    const char *name;
    QStringList args;
    CanSetup can;
};

class GoodCommandLines : public ::testing::TestWithParam<GoodRow> {};

TEST_P(GoodCommandLines, GiveTheseSettings) {
    const Parsed line = Parse(GetParam().args);
    ASSERT_TRUE(line.Runs()) << line.outcome.error;
    EXPECT_EQ(line.options.can, GetParam().can) << line.options.can;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, GoodCommandLines,
    ::testing::Values(
        GoodRow{"defaults", {}, CanOf(5, false, false, 0, 0, true)},
        GoodRow{"lowest_rate", {"--bitrate=10"}, CanOf(0, false, false, 0, 0, true)},
        GoodRow{"highest_rate_separate_value", {"--bitrate", "1000"}, CanOf(7, false, false, 0, 0, true)},
        GoodRow{"flags", {"--listen", "--low-speed"}, CanOf(5, true, true, 0, 0, true)},
        GoodRow{
            "standard_filter", {"--tag=7ff", "--mask", "0x7FF"}, CanOf(5, false, false, 0x7FF, 0x7FF, true)},
        GoodRow{"extended_filter",
                {"--29bit", "--tag=1ABCDEF0", "--mask=1FFFFFFF"},
                CanOf(5, false, false, 0x1ABCDEF0, 0x1FFFFFFF, false)},
        // The form is known before the tag is checked, whatever the order on the line.
        GoodRow{"form_after_tag", {"--tag=12345", "--29bit"}, CanOf(5, false, false, 0x12345, 0, false)}),
    [](const auto &info) { return std::string(info.param.name); });

struct BadRow {
    const char *name;
    QStringList args;
    const char *named;  // what the one line must contain
};

class BadCommandLines : public ::testing::TestWithParam<BadRow> {};

TEST_P(BadCommandLines, GiveOneLineNamingTheValue) {
    const Parsed line = Parse(GetParam().args);
    ASSERT_FALSE(line.Runs());
    EXPECT_EQ(line.outcome.exitCode, 2);
    const std::string &text = line.outcome.error;
    EXPECT_NE(text.find(GetParam().named), std::string::npos) << text;
    EXPECT_EQ(text.find('\n'), text.size() - 1) << text;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, BadCommandLines,
    ::testing::Values(
        BadRow{"rate_not_in_list", {"--bitrate=300"}, "--bitrate=300"},
        BadRow{"rate_not_a_number", {"--bitrate=fast"}, "--bitrate=fast"},
        BadRow{"rate_missing", {"--bitrate"}, "bitrate"}, BadRow{"tag_not_hex", {"--tag=7FG"}, "--tag=7FG"},
        BadRow{"tag_empty", {"--tag="}, "--tag="},
        BadRow{"tag_too_wide_for_11_bit", {"--tag=800"}, "--tag=800"},
        BadRow{"mask_too_wide_for_29_bit", {"--29bit", "--mask=20000000"}, "--mask=20000000"},
        BadRow{"mask_over_32_bits", {"--29bit", "--mask=123456789"}, "--mask=123456789"},
        BadRow{"unknown_link", {"--link=usb"}, "usb"},
        BadRow{"log_name_with_blank", {"--log-name=can 0"}, "--log-name=can 0"},
        BadRow{"log_empty", {"--log="}, "--log="},
        BadRow{"traffic_without_sim", {"--link=serial", "--traffic=frames=5"}, "--link=sim"},
        BadRow{"traffic_bad", {"--link=sim", "--traffic=frames=lots"}, "lots"},
        BadRow{"settings_missing", {"--settings=/nonexistent/Brisklet.INI"}, "/nonexistent/Brisklet.INI"},
        BadRow{"unknown_option", {"--colour"}, "colour"}, BadRow{"stray_argument", {"can0"}, "can0"},
        BadRow{"serial_rate_not_offered", {"--link=serial:/dev/null@12345"}, "12345"},
        BadRow{"decode_without_dbc", {"--decode"}, "--dbc"},
        BadRow{"replay_with_a_link", {"--replay=x.log", "--dbc=x.dbc", "--link=sim"}, "--link"},
        BadRow{"list_on_the_logs_output", {"--list", "--log=-"}, "--log=FILE"},
        BadRow{"decode_with_list_and_no_log", {"--list", "--decode", "--dbc=x.dbc"}, "--log=FILE"}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(GatewaySettingsFile, GivesTheWindowsValuesAndTheCommandLineWins) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath("Brisklet.INI");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    // Written as the window writes it; Speed is the list's row (7: 1000 kbit/s), 2.0A=0 means 29-bit.
    file.write(
        "[PATH]\r\nFile=/x/\r\nIni=Brisklet.INI\r\n[CAN]\r\nSpeed=7\r\nListening=1\r\nTag=1ABCDEF0\r\n"
        "Mask=1FFFFFFF\r\n2.0A=0\r\n");
    file.close();

    Parsed line = Parse({"--settings=" + path});
    ASSERT_TRUE(line.Runs()) << line.outcome.error;
    EXPECT_EQ(line.options.can, CanOf(7, true, false, 0x1ABCDEF0, 0x1FFFFFFF, false)) << line.options.can;

    line = Parse({"--settings", path, "--bitrate=125", "--tag=123", "--low-speed"});
    ASSERT_TRUE(line.Runs()) << line.outcome.error;
    EXPECT_EQ(line.options.can, CanOf(4, true, true, 0x123, 0x1FFFFFFF, false)) << line.options.can;

    // The file's 29-bit form is the one a tag on the command line is checked against.
    line = Parse({"--settings=" + path, "--tag=1FFFFFFF"});
    EXPECT_TRUE(line.Runs()) << line.outcome.error;
}

TEST(GatewaySettingsFile, UnreadableOrHugeFileIsRefused) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // A folder cannot be read as a file.
    EXPECT_FALSE(Parse({"--settings=" + dir.path()}).Runs());

    const QString big = dir.filePath("big.ini");
    QFile file(big);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray((1 << 20) + 1, ';'));
    file.close();
    const Parsed line = Parse({"--settings=" + big});
    EXPECT_FALSE(line.Runs());
    EXPECT_NE(line.outcome.error.find("big.ini"), std::string::npos) << line.outcome.error;
}

TEST(GatewayCommandLineText, LogAndLinkOptions) {
    Parsed line = Parse({"--log", "/tmp/trace.log", "--log-name=vcan7", "--link=sim", "--traffic=frames=5"});
    ASSERT_TRUE(line.Runs()) << line.outcome.error;
    EXPECT_EQ(line.options.logPath, "/tmp/trace.log");
    EXPECT_EQ(line.options.logName, "vcan7");
    EXPECT_EQ(line.options.link.kind, LinkKind::Sim);
    EXPECT_TRUE(line.options.traffic);
    EXPECT_EQ(line.options.rates.canFrames, 5);

    line = Parse({});
    EXPECT_EQ(line.options.logPath, "-");
    EXPECT_EQ(line.options.logName, "brisklet0");
    EXPECT_EQ(line.options.link.kind, LinkKind::Auto);
}

}  // namespace
