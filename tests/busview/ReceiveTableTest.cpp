// The receive table from the adapter's stamps: cycle time, jitter, changed bytes and greyed rows; a full
// table; a receive thread adding while another takes snapshots; the table as terminal text.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "BusEvents.h"
#include "CountingNew.h"
#include "ReceiveTable.h"
#include "TextTable.h"

using namespace busview;

namespace {

constexpr int32_t Day = BusEvent::MsPerDay;

TEST(ReceiveTable, CycleTimeAndJitterFromTheAdapterStamps) {
    const struct {
        const char *name;
        std::vector<int32_t> stamps;
        CycleStats cycle;
    } rows[] = {
        {"steady", {0, 100, 200, 300}, {true, 100, 100, 100}},
        {"jitter", {1000, 1098, 1200, 1301}, {true, 301 / 3.0, 98, 102}},
        {"across midnight", {Day - 50, Day - 10, 30, 70}, {true, 40, 40, 40}},
        {"the last 16 periods only",
         {0, 1000, 1010, 1020, 1030, 1040, 1050, 1060, 1070, 1080, 1090, 1100, 1110, 1120, 1130, 1140, 1150,
          1160},
         {true, 10, 10, 10}},
        {"the adapter's clock set back", {5000, 5100, 1000, 1050}, {true, 50, 50, 50}},
        {"no stamps", {-1, -1, -1}, {}},
        {"seen once", {100}, {}},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        ReceiveTable table;
        ReceiveSnapshot view;
        for (std::size_t i = 0; i < row.stamps.size(); ++i) {
            const BusEvent f = FrameEvent(0x100, {1}, row.stamps[i], T0 + static_cast<int64_t>(i) * 1000);
            table.Add({&f, 1});
        }
        table.Take(view, T0);
        ASSERT_EQ(view.Rows().size(), 1u);
        const CycleStats cycle = CycleOf(view.Rows()[0]);
        EXPECT_EQ(view.Rows()[0].count, row.stamps.size());
        EXPECT_EQ(cycle.known, row.cycle.known);
        EXPECT_DOUBLE_EQ(cycle.meanMs, row.cycle.meanMs);
        EXPECT_EQ(cycle.minMs, row.cycle.minMs);
        EXPECT_EQ(cycle.maxMs, row.cycle.maxMs);
    }
}

TEST(ReceiveTable, ChangedBytesFadeAndSilentRowsGreyOut) {
    ReceiveTable table;
    ReceiveSnapshot view;
    const BusEvent frames[] = {
        FrameEvent(0x200, {0x11, 0x22, 0x33}, 0, T0),
        FrameEvent(0x200, {0x11, 0x22, 0x34}, 100, T0 + 100'000),
        FrameEvent(0x200, {0x11, 0x22, 0x34, 0x44}, 200, T0 + 200'000),  // a byte more counts as changed
        FrameEvent(0x300, {0x01}, 0, T0 + 200'000),                      // seen once: no cycle time
    };
    table.Add(frames);
    const struct {
        int64_t at;
        int fades[4];  // 0x200's bytes
        bool stale200, stale300;
    } rows[] = {
        {T0 + 200'000, {0, 0, 229, 255}, false, false},
        {T0 + 600'000, {0, 0, 127, 153}, true, false},  // 3 cycle times of 100 ms have passed
        {T0 + 1'200'000, {0, 0, 0, 0}, true, false},    // both changes a second or more ago
        {T0 + 2'300'000, {0, 0, 0, 0}, true, true},     // 2 s without a cycle time
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.at - T0);
        table.Take(view, row.at);
        const FrameRow &r200 = view.Rows()[0], &r300 = view.Rows()[1];
        for (int i = 0; i < 4; ++i) EXPECT_EQ(ByteFade(r200, i, row.at), row.fades[i]) << "byte " << i;
        EXPECT_EQ(IsStale(r200, row.at), row.stale200);
        EXPECT_EQ(IsStale(r300, row.at), row.stale300);
    }
}

TEST(ReceiveTable, FullTableCountsTheRestInOneOtherRowWithoutAllocating) {
    std::vector<BusEvent> bus;
    for (uint32_t id = 0; id < StandardIds; ++id)
        for (bool remote : {false, true}) bus.push_back(FrameEvent(id, {1, 2}, 0, T0, false, remote, 2));
    for (uint32_t k = 0; k < ExtendedRows + 10; ++k)
        bus.push_back(FrameEvent(0x10000 + 7 * k, {3}, 0, T0, true));
    bus.push_back(FrameEvent(0x10000, {4}, 10, T0, true));  // a 29-bit identifier that has its row
    ReceiveTable table;
    ReceiveSnapshot view;

    counting = true;
    table.Add(bus);
    table.Take(view, T0 + 1'000'000);
    counting = false;
    EXPECT_EQ(allocations.exchange(0), 0);

    ASSERT_EQ(view.Rows().size(), static_cast<std::size_t>(RowCapacity));
    uint64_t total = 0;
    for (const FrameRow &row : view.Rows()) total += row.count;
    EXPECT_EQ(total, bus.size()) << "every frame is counted somewhere";
    const FrameRow &others = view.Rows().back();
    EXPECT_TRUE(others.other);
    EXPECT_EQ(others.count, 10u);
    EXPECT_EQ(view.Rows()[StandardRows].count, 2u);
    EXPECT_EQ(view.Load().frames, static_cast<int64_t>(bus.size()));
}

// 21,300 frames/s over 2,000 identifiers, one second in reads of 213, each identifier with a period of
// its own; the window's side takes snapshots the whole time. The figures match what was sent exactly.
TEST(ReceiveTable, FiguresMatchWhatWasSentWhileSnapshotsAreTaken) {
    constexpr int Ids = 2000, PerRead = 213, Reads = 100;
    auto period = [](uint32_t id) { return 50 + static_cast<int32_t>(id % 50); };
    ReceiveTable table;
    std::atomic<bool> done{false};
    std::thread receive([&] {
        BusEvent batch[PerRead];
        for (int read = 0; read < Reads; ++read) {
            for (int i = 0; i < PerRead; ++i) {
                const int n = read * PerRead + i;
                const uint32_t id = static_cast<uint32_t>(n % Ids);
                batch[i] = FrameEvent(id, {static_cast<uint8_t>(n)}, (Day - 500 + n / Ids * period(id)) % Day,
                                      T0 + read * 10'000);
            }
            table.Add(batch);
        }
        done = true;
    });
    ReceiveSnapshot view;
    while (!done) table.Take(view, T0 + 500'000);  // each Take copies only what changed since the one before
    receive.join();
    table.Take(view, T0 + 1'000'000);
    ASSERT_EQ(view.Rows().size(), static_cast<std::size_t>(Ids));
    uint64_t total = 0;
    for (const FrameRow &row : view.Rows()) {
        total += row.count;
        const CycleStats cycle = CycleOf(row);
        ASSERT_TRUE(cycle.known);
        EXPECT_EQ(cycle.meanMs, period(row.id)) << row.id;
        EXPECT_EQ(cycle.maxMs - cycle.minMs, 0) << row.id;
    }
    EXPECT_EQ(total, static_cast<uint64_t>(PerRead * Reads));
    EXPECT_EQ(view.Load().frames, PerRead * Reads);
}

TEST(TextTable, PlainLinesForAPipeAndAScreenRedrawnInPlaceForATerminal) {
    ReceiveTable table;
    const BusEvent bus[] = {
        FrameEvent(0x2B6, {0xFF, 0x7B}, 0, T0), FrameEvent(0x2B6, {0xFF, 0x7C}, 100, T0 + 100'000),
        FrameEvent(0x18FEF100, {}, 50, T0 + 100'000, true, true, 8),
        ErrorEvent(0x09, T0 + 100'000),  // stuff and ack
    };
    table.Add(bus);
    ReceiveSnapshot view;
    table.Take(view, T0 + 1'000'000);
    const BusHealth health{view.Load(), {BitRateState::Known, 250'000}, {}};
    std::string text;
    RenderTextTable(view, health, {}, text);
    EXPECT_EQ(
        text,
        "load 0.1 % (peak 0.1 %), 3 frames/s, 1 errors/s, dropped 0\n"
        "Identifier  Form            Len  Data                       Count  Cycle ms  Min/max ms  Last s\n"
        "000002B6    11-bit            2  FF 7C                          2     100.0   100 / 100     0.9\n"
        "18FEF100    29-bit remote     8                                 1                           0.9\n"
        "stuff error                                                     1                           0.9\n"
        "ack error                                                       1                           0.9\n"
        "\n");
    RenderTextTable(view, health, {.terminal = true, .maxRows = 1}, text);
    EXPECT_EQ(text.rfind("\x1b[H", 0), 0u);
    EXPECT_NE(text.find("FF \x1b[7m7C\x1b[27m"), std::string::npos) << "the changed byte in reverse video";
    EXPECT_EQ(text.find("29-bit"), std::string::npos) << "cut at the terminal's height";
    EXPECT_EQ(text.substr(text.size() - 3), "\x1b[J");
}

}  // namespace
