// The decoded export's pieces: values and CSV lines written, candump log lines read back.
#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <string>

#include "CandumpReader.h"
#include "DecodedCsv.h"
#include "TestFiles.h"

namespace {

struct ValueRow {
    dbc::ValueType type;
    bool isSigned;
    double factor, offset;
    int decimals;
    uint64_t raw;
    double value;
    const char *text;
};

class CsvValue : public ::testing::TestWithParam<ValueRow> {};

TEST_P(CsvValue, IsWrittenWithoutNoise) {
    const ValueRow &row = GetParam();
    dbc::Signal s;
    s.type = row.type;
    s.isSigned = row.isSigned;
    s.factor = row.factor;
    s.offset = row.offset;
    s.decimals = row.decimals;
    char out[dbc::MaxValueLength];
    EXPECT_EQ(std::string(out, dbc::FormatValue(out, {&s, row.value, row.raw, {}})), row.text);
}

using T = dbc::ValueType;
INSTANTIATE_TEST_SUITE_P(
    Rows, CsvValue,
    ::testing::Values(ValueRow{T::Integer, false, 1, 0, 0, ~0ull, 1.8e19, "18446744073709551615"},
                      ValueRow{T::Integer, true, 1, 0, 0, ~0ull - 4, -5, "-5"},
                      ValueRow{T::Integer, false, 0.1, 0, 1, 3, 3 * 0.1, "0.3"},
                      ValueRow{T::Integer, false, 0.25, 0, 2, 4, 1, "1"},
                      ValueRow{T::Integer, false, 0.25, -40, 2, 7, 7 * 0.25 - 40, "-38.25"},
                      ValueRow{T::Integer, false, 0.7874016, 0, 7, 127, 127 * 0.7874016, "100.0000032"},
                      ValueRow{T::Integer, false, 1e298, 0, 0, 100, 1e300, "1e+300"},
                      ValueRow{T::Integer, false, 0.1, 0.2, -1, 1, 0.1 + 0.2, "0.30000000000000004"},
                      ValueRow{T::Float, false, 1, 0, -1, 0x7F7FFFFF, 3.4028234663852886e+38,
                               "3.4028234663852886e+38"},
                      ValueRow{T::Double, false, 1, 0, -1, 0, -2.5, "-2.5"}));

TEST(CsvLine, FieldsAsCandumpWritesThemAndQuotedWhereNeeded) {
    dbc::Message engine, ccvs;
    dbc::Signal rpm, gear;
    engine.id = 0x202, engine.name = "ENGINE_DATA", rpm.name = "RPM", rpm.unit = "rpm";
    ccvs.id = 0x18FEF1FE, ccvs.extended = true, ccvs.name = "CCVS";
    gear.name = "Gear", gear.unit = "\"", gear.factor = 2, gear.decimals = 0;
    std::string out(dbc::CsvHeader);
    dbc::AppendCsvLine(out, {1733655296, 123000}, engine, {&rpm, 2000, 2000, {}});
    dbc::AppendCsvLine(out, {5, 7}, ccvs, {&gear, 6, 3, "Drive, \"3rd\""});
    EXPECT_EQ(out, "time,identifier,message,signal,value,unit,label\n"
                   "1733655296.123000,202,ENGINE_DATA,RPM,2000,rpm,\n"
                   "0000000005.000007,18FEF1FE,CCVS,Gear,6,\"\"\"\",\"Drive, \"\"3rd\"\"\"\n");
}

// What the reader made of a line, written back by the writer: the line itself for a canonical one.
std::string ReadBack(std::string_view line) {
    candump::LogRecord r;
    const candump::LineResult result = candump::ReadLogLine(line, r);
    if (result.kind != candump::LineKind::Record)
        return result.kind == candump::LineKind::Blank ? "blank" : result.kind == candump::LineKind::NotClassic ? "not classic" : std::string("malformed: ") + result.why;
    char out[candump::MaxLineLength];
    const BusEvent &e = r.event;
    const std::size_t n = e.kind == BusEvent::Kind::BusError
                              ? candump::FormatBusError(out, r.time, r.interface, e.errorFlags)
                              : candump::FormatCanFrame(out, r.time, r.interface, e.id,
                                                        static_cast<uint8_t>(e.dlc | (e.extended ? 0x10 : 0)),
                                                        e.remote, e.data);
    return std::string(out, n - 1) + (e.transmitted ? " T" : "") + (e.dlc > 8 ? " dlc" + std::to_string(e.dlc) : "");
}

struct LogRow {
    const char *line;
    const char *read = nullptr;  // the line itself
};

class LogLine : public ::testing::TestWithParam<LogRow> {};

TEST_P(LogLine, ReadsBack) { EXPECT_EQ(ReadBack(GetParam().line), GetParam().read ? GetParam().read : GetParam().line); }

#define AT "(1733655296.123000) can0 "
INSTANTIATE_TEST_SUITE_P(
    Rows, LogLine,
    ::testing::Values(LogRow{AT "123#1122"}, LogRow{AT "1ABCDEF0#1122334455667788"}, LogRow{AT "1ABCDEF0#"},
                      LogRow{AT "123#R"}, LogRow{AT "123#R3"}, LogRow{AT "20000088#0000040000000000"},
                      LogRow{AT "123#1122 T"}, LogRow{AT "123#1122 R", AT "123#1122"},
                      LogRow{AT "123#11.22.33", AT "123#112233"},
                      LogRow{"(1733655296.1)\tcan0  123#11\r", "(1733655296.100000) can0 123#11"},
                      LogRow{AT "123#1122334455667788_C", AT "123#1122334455667788 dlc12"},
                      LogRow{AT "123##311", "not classic"}, LogRow{" \t", "blank"},
                      LogRow{AT "123#112", "malformed: expected data as pairs of hex digits"},
                      LogRow{AT "123#11.", "malformed: expected a data byte after '.'"},
                      LogRow{AT "800#11", "malformed: an 11-bit identifier is at most 7FF"},
                      LogRow{AT "123#112233445566778899", "malformed: more than 8 data bytes"},
                      LogRow{AT "12#11", "malformed: expected a 3 or 8 digit hex identifier and '#'"},
                      LogRow{AT "123#R9", "malformed: a remote frame's length is at most 8"},
                      LogRow{AT "123#1122 X", "malformed: expected the end of the line or a direction (T or R)"},
                      LogRow{"1733655296.123000 can0 123#11", "malformed: expected '(' and the time stamp"},
                      LogRow{"(1733655296.123000)", "malformed: expected a blank after the time stamp"},
                      LogRow{"(99999999999999999999.0) can0 123#", "malformed: the time stamp is out of range"}));

TEST(LogReader, ReadsLineByLineThroughItsBuffer) {
    QTemporaryDir dir;
    const std::string path = dir.path().toStdString() + "/log";
    Spit(path, "(1.000000) can0 123#11\n" + std::string(100000, 'x') + "\n(2.000000) can0 124#22\r\n\n" +
                   "(3.000000) can0 125#33");
    candump::LogReader reader;
    std::string why;
    ASSERT_TRUE(reader.Open(path, why)) << why;
    std::string seen;
    candump::LogRecord r;
    for (candump::LineResult l; (l = reader.Next(r)).kind != candump::LineKind::End;)
        seen += std::to_string(reader.Line()) + (l.kind == candump::LineKind::Record ? ":" + std::to_string(r.event.id) : std::string(" ") + l.why) + "\n";
    EXPECT_EQ(seen, "1:291\n2 the line is too long for a log line\n3:292\n4 \n5:293\n");
}

}  // namespace
