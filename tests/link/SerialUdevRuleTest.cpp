// The udev rule shipped for the adapter stays narrow: it names the FTDI product ids the adapter's chips
// use on every rule, never hands a device to a group or changes its mode, and only tags it for the user
// at the seat.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

namespace {

std::string RulePath() {
    std::string here = __FILE__;  // relative to the build folder where the compiler was given it so
    if (here.front() != '/') here = std::string(BRISKLET_BINARY_DIR) + "/" + here;
    return here.substr(0, here.rfind("/tests/")) + "/packaging/udev/70-brisklet-ftdi.rules";
}

TEST(SerialUdevRule, MatchesTheAdaptersChipsOnlyAndLeavesGroupsAlone) {
    std::ifstream in(RulePath());
    ASSERT_TRUE(in) << RulePath();
    int rules = 0;
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#' || line.find("idVendor") == std::string::npos) continue;
        ++rules;
        EXPECT_NE(line.find("{idVendor}==\"0403\""), std::string::npos) << line;
        const bool product = line.find("{idProduct}==\"6001|6014|6015\"") != std::string::npos;
        EXPECT_TRUE(product) << "a rule on FTDI's vendor id alone: " << line;
        EXPECT_EQ(line.find("GROUP"), std::string::npos) << line;
        EXPECT_EQ(line.find("MODE"), std::string::npos) << line;
        EXPECT_EQ(line.find("OWNER"), std::string::npos) << line;
        EXPECT_NE(line.find("TAG+=\"uaccess\""), std::string::npos) << line;
    }
    EXPECT_EQ(rules, 2);  // the raw USB device and its ttyUSB node
}

}  // namespace
