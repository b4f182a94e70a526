// Whole files: real ones and a large generated one load; broken ones give one line naming the place;
// what cannot be decoded soundly is left out, named with its line, and the rest loads.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QTemporaryDir>
#include <string>

#include "DbcReader.h"
#include "GeneratedDbc.h"

namespace {

std::string Skips(const dbc::Database &db) {
    std::string all;
    for (const dbc::Skipped &s : db.skipped) all += s.text + "\n";
    return all;
}

TEST(DbcLoad, RealFilesLoadWhole) {
    const auto gm = dbc::LoadDbcFile(BRISKLET_TEST_DATA "/dbc/gm_global_a_object.dbc");
    ASSERT_TRUE(gm.database) << gm.error;
    EXPECT_EQ(Skips(*gm.database), "");
    EXPECT_EQ(gm.database->messages.size(), 59u);  // and Vector's pseudo-message left out
    EXPECT_EQ(gm.database->Find(0x308, false)->signalList[2].LabelOf(1), "Active");

    const std::string mazdaPath = BRISKLET_TEST_DATA "/dbc/mazda_2017.dbc";
    const auto mazda = dbc::LoadDbcFile(mazdaPath);
    ASSERT_TRUE(mazda.database) << mazda.error;
    EXPECT_EQ(mazda.database->messages.size(), 102u);
    // Motorola 56|5 starts at byte 7 bit 0 and would go on into a ninth byte.
    EXPECT_EQ(Skips(*mazda.database), mazdaPath + ":290: signal NEW_SIGNAL_4 of message HVAC (0x436): it runs "
                                                  "past the 64 bits of a frame; skipped\n");
}

TEST(DbcLoad, FiveHundredMessagesLoad) {
    const auto loaded = dbc::ParseDbc(GeneratedDbc(500), "generated.dbc");
    ASSERT_TRUE(loaded.database) << loaded.error;
    EXPECT_EQ(Skips(*loaded.database), "");
    ASSERT_EQ(loaded.database->messages.size(), 500u);
    EXPECT_EQ(loaded.database->MostSignals(), 9u);
    const dbc::Message *last = loaded.database->Find(0x18F00000 + 499, true);
    ASSERT_TRUE(last);
    EXPECT_EQ(last->signalList[3].comment, "Vehicle speed,\nmeasured at the \"wheels\"");
    EXPECT_EQ(last->signalList[5].LabelOf(3), "Drive");
}

struct BadRow {
    const char *what;
    const char *body;     // after "VERSION \"\"\nBU_: A\n", so its first line is line 3
    const char *skipped;  // every skipped line, less "t.dbc:" and "; skipped"
    std::size_t kept;     // signals loaded
};

class BadInput : public ::testing::TestWithParam<BadRow> {};

TEST_P(BadInput, IsNamedWithItsLineAndTheRestLoads) {
    const BadRow &row = GetParam();
    const auto loaded = dbc::ParseDbc(std::string("VERSION \"\"\nBU_: A\n") + row.body, "t.dbc");
    ASSERT_TRUE(loaded.database) << loaded.error;
    std::string skipped;
    std::size_t kept = 0;
    for (const dbc::Skipped &s : loaded.database->skipped)
        skipped += s.text.substr(6, s.text.size() - 6 - 9) + "\n";
    for (const dbc::Message &m : loaded.database->messages) kept += m.signalList.size();
    EXPECT_EQ(skipped, row.skipped);
    EXPECT_EQ(kept, row.kept);
}

#define OK " SG_ Ok : 0|8@1+ (1,0) [0|0] \"\" A\n"
INSTANTIATE_TEST_SUITE_P(
    Rows, BadInput,
    ::testing::Values(
        BadRow{"past 64 bits", "BO_ 1 M: 8 A\n SG_ S : 60|8@1+ (1,0) [0|0] \"\" A\n" OK,
               "4: signal S of message M (0x1): it runs past the 64 bits of a frame\n", 1},
        BadRow{"past the frame", "BO_ 1 M: 2 A\n" OK " SG_ S : 23|8@0+ (1,0) [0|0] \"\" A\n",
               "5: signal S of message M (0x1): it runs past the message's 2 bytes (to byte 2)\n", 1},
        BadRow{"duplicate identifier", "BO_ 1 M: 8 A\n" OK "BO_ 1 N: 8 A\n" OK,
               "5: message N (0x1): identifier 0x1 is taken already by M (line 3)\n", 1},
        BadRow{"unknown byte order", "BO_ 1 M: 8 A\n SG_ S : 0|8@2+ (1,0) [0|0] \"\" A\n" OK,
               "4: signal S of message M (0x1): unknown byte order mark @2 (expected @0 or @1)\n", 1},
        BadRow{"zero length", "BO_ 1 M: 8 A\n" OK " SG_ S : 8|0@1+ (1,0) [0|0] \"\" A\n",
               "5: signal S of message M (0x1): its length is 0\n", 1},
        BadRow{"factor 0", "BO_ 1 M: 8 A\n SG_ S : 8|8@1+ (0,1) [0|0] \"\" A\n" OK,
               "4: signal S of message M (0x1): its factor is 0\n", 1},
        BadRow{"65 bits", "BO_ 1 M: 8 A\n SG_ S : 0|65@1+ (1,0) [0|0] \"\" A\n",
               "4: signal S of message M (0x1): its length of 65 bits is more than 64\n", 0},
        BadRow{"float of 16 bits", "BO_ 1 M: 8 A\n SG_ S : 8|16@1+ (1,0) [0|0] \"\" A\nSIG_VALTYPE_ 1 S : 1;\n",
               "4: signal S of message M (0x1): it is a 32-bit float (SIG_VALTYPE_ on line 5) but 16 bits long\n", 0},
        BadRow{"no multiplexer", "BO_ 1 M: 8 A\n" OK " SG_ S m1 : 8|8@1+ (1,0) [0|0] \"\" A\n",
               "5: signal S of message M (0x1): it is multiplexed (m1) but the message has no multiplexer signal "
               "(M)\n", 1},
        BadRow{"extended multiplexing", "BO_ 1 M: 8 A\n SG_ Ok M : 0|4@1+ (1,0) [0|0] \"\" A\n"
                                        " SG_ S m1M : 4|4@1+ (1,0) [0|0] \"\" A\n",
               "5: signal S of message M (0x1): extended multiplexing (several multiplexers in one message) is "
               "not read\n", 1},
        BadRow{"same name twice", "BO_ 1 M: 8 A\n" OK OK,
               "5: signal Ok of message M (0x1): a signal of this name is on line 4 already\n", 1},
        BadRow{"11-bit identifier too large", "BO_ 2048 M: 8 A\n" OK "BO_ 2 N: 8 A\n" OK,
               "3: message M (0x800): identifier 0x800 is not an 11-bit identifier (a 29-bit one has bit 31 "
               "set: 2147485696)\n", 1},
        BadRow{"CAN FD length", "BO_ 1 M: 64 A\n" OK,
               "3: message M (0x1): its length of 64 bytes is more than a CAN frame's 8 (CAN FD is not read)\n", 0}),
    [](const auto &info) {
        std::string name = info.param.what;
        for (char &c : name)
            if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
        return name;
    });

struct BrokenRow {
    std::string text;
    std::string error;  // less "t.dbc:"
};

class Broken : public ::testing::TestWithParam<BrokenRow> {};

TEST_P(Broken, IsNotLoadedAndSaysWhereAndWhat) {
    const auto loaded = dbc::ParseDbc(GetParam().text, "t.dbc");
    EXPECT_FALSE(loaded.database);
    EXPECT_EQ(loaded.error, "t.dbc:" + GetParam().error);
}

constexpr const char *Keyword = "expected a DBC keyword (VERSION, NS_, BU_, BO_, SG_, CM_, ...), found ";
INSTANTIATE_TEST_SUITE_P(
    Rows, Broken,
    ::testing::Values(
        BrokenRow{"", "1: not a DBC file: it has no VERSION, NS_, BU_ or BO_ line"},
        BrokenRow{"hello, world\n", std::string("1: ") + Keyword + "'hello,'"},
        BrokenRow{"\x89PNG\r\n", std::string("1: ") + Keyword + "byte 0x89"},
        BrokenRow{"VERSION \"\"\r\nBU_: A\r\nBO_ x M: 8 A\r\n", "3: expected the message identifier, found 'x'"},
        BrokenRow{"BU_: A\n SG_ S : 0|8@1+ (1,0) [0|0] \"\" A\n",
                  "2: SG_ outside a message: expected a BO_ line before it"},
        BrokenRow{"BO_ 1 M: 8 A\n\tSG_ S : 0 8@1+ (1,0) [0|0] \"\" A\n",
                  "2: expected '|' between start bit and length, found '8@1+'"},
        BrokenRow{"BO_ 1 M: 8 A\n SG_ S : 0|8@1* (1,0) [0|0] \"\" A\n",
                  "2: expected '+' or '-' after the byte order, found '*'"},
        BrokenRow{"BO_ 1 M: 8 A\n SG_ S : 0|8@1+ (1,0) [0|0] \"\"\n SG_ T : 8|8@1+ (1,0) [0|1e999] \"\" A\n",
                  "3: the maximum 1e999 is out of range"},
        BrokenRow{"BO_ 1 M: 8 A\n SG_ S : 99999999999999999999|8@1+ (1,0) [0|0] \"\" A\n",
                  "2: the start bit 99999999999999999999 is too large"},
        BrokenRow{"VERSION \"1\nBU_: A\nBO_ 1 M: 8 A\n", "1: the string opened on this line is never closed (expected '\"')"},
        BrokenRow{"VERSION \"\"\nCM_ SG_ 1 S \"one\ntwo\" \"three\";\n", std::string("3: ") + Keyword + "'\"three\";'"},
        BrokenRow{std::string(dbc::MaxLineBytes + 1, 'x'), "1: line longer than 1 MiB: not a DBC file"}));

TEST(DbcLoad, OnlyRegularFiles) {
    QTemporaryDir dir;
    const std::string fifo = dir.path().toStdString() + "/fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(dbc::LoadDbcFile(fifo).error, fifo + ": is not a regular file");  // and no wait for a writer
    EXPECT_EQ(dbc::LoadDbcFile(dir.path().toStdString()).error, dir.path().toStdString() + ": is a folder, not a DBC file");
    EXPECT_EQ(dbc::LoadDbcFile(fifo + "x").error, fifo + "x: No such file or directory");
}

}  // namespace
