#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "PeriodText.h"

namespace {

struct Row {
    std::string text;
    std::optional<int32_t> value;  // nullopt: must fail
};

void PrintTo(const Row &r, std::ostream *os) { *os << '"' << r.text << '"'; }

class PeriodTextRows : public ::testing::TestWithParam<Row> {};

TEST_P(PeriodTextRows, ConvertsOrFails) {
    const Row &r = GetParam();
    int32_t v = 12345;
    const bool ok = PeriodFromText(r.text, v);
    ASSERT_EQ(ok, r.value.has_value());
    EXPECT_EQ(v, r.value.value_or(12345));  // untouched on failure
}

INSTANTIATE_TEST_SUITE_P(Accepted, PeriodTextRows,
                         ::testing::Values(Row{"200", 200}, Row{"  200", 200}, Row{"0", 0}, Row{"+200", 200},
                                           Row{"-300", -300}, Row{"007", 7}, Row{"2147483647", INT32_MAX},
                                           Row{"-2147483648", INT32_MIN}, Row{"$C8", 200}, Row{"$c8", 200},
                                           Row{"xC8", 200}, Row{"XC8", 200}, Row{"0xC8", 200},
                                           Row{"0XC8", 200}, Row{"-$C8", -200}, Row{"  +0x10", 16},
                                           Row{"$FFFFFFFF", -1}, Row{"$7FFFFFFF", INT32_MAX},
                                           Row{"$000000001", 1}, Row{"65536", 65536}));

INSTANTIATE_TEST_SUITE_P(
    Refused, PeriodTextRows,
    ::testing::Values(Row{"", std::nullopt}, Row{"   ", std::nullopt}, Row{"+", std::nullopt},
                      Row{"-", std::nullopt}, Row{"$", std::nullopt}, Row{"0x", std::nullopt},
                      Row{"-x", std::nullopt}, Row{"200 ", std::nullopt}, Row{"\t200", std::nullopt},
                      Row{"- 2", std::nullopt}, Row{"+-2", std::nullopt}, Row{"2e3", std::nullopt},
                      Row{"2147483648", std::nullopt}, Row{"-2147483649", std::nullopt},
                      Row{"99999999999999999999", std::nullopt}, Row{"$100000000", std::nullopt},
                      Row{"$G", std::nullopt}, Row{"C8", std::nullopt}, Row{"1.5", std::nullopt},
                      Row{"$ C8", std::nullopt}, Row{"00x5", std::nullopt},
                      Row{std::string("2\0", 2), std::nullopt}));

}  // namespace
