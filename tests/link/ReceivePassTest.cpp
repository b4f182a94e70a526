// One receive pass is one pump, reading what waits up to one buffer; while more waits, the pass asks for
// the next one at once instead of a wait on the receive event.
#include <gtest/gtest.h>

#include "BusFrame.h"
#include "D2XXUnit.h"
#include "EmulatedFirmware.h"
#include "LinkTestSupport.h"
#include "ReceivePump.h"
#include "SimAdapter.h"

namespace {

class CountingConsumer final : public BusConsumer {
public:
    void Take(std::span<const BusEvent> events) override {
        for (const BusEvent &e : events) frames += e.kind == BusEvent::Kind::Frame;
    }
    long frames = 0;
};

}  // namespace

TEST(ReceivePass, ABacklogTakesOnePumpPerBufferAndAsksForMoreUntilDrained) {
    const EmulatedLinkOpen link;
    ASSERT_TRUE(link.Opened());
    SimAdapter &sim = TheSimAdapter();
    CountingConsumer consumer;
    ASSERT_TRUE(AddPumpConsumer(&consumer));

    constexpr long Reports = 6000;  // about 4.8 buffers
    BusFrame f;
    f.length = 2;
    for (long i = 0; i < Reports; ++i) {
        f.identifier = static_cast<uint32_t>(i % 0x800);
        const CanReport r = BuildCanReport(f, 1, 2, 3, 4);
        ASSERT_EQ(sim.InjectToHost(r.data(), r.size()), r.size());
    }
    const long bytes = Reports * static_cast<long>(CanReportSize);
    const long buffers = (bytes + LinkBufferSize - 1) / LinkBufferSize;
    const uint64_t readsBefore = sim.CallCount(SimOp::Read);
    long passes = 0;
    bool again = true;
    while (again && passes < 100) {
        again = ReceivePass();
        ++passes;
        if (again) {
            EXPECT_GT(sim.BytesToHost(), 0u) << "pass " << passes;
        }
    }
    EXPECT_EQ(passes, buffers);
    EXPECT_EQ(sim.CallCount(SimOp::Read) - readsBefore, static_cast<uint64_t>(buffers));  // one read a pump
    EXPECT_EQ(consumer.frames, Reports);
    EXPECT_EQ(sim.BytesToHost(), 0u);
    EXPECT_FALSE(ReceivePass());  // nothing waits: no pump at all
    EXPECT_EQ(sim.CallCount(SimOp::Read) - readsBefore, static_cast<uint64_t>(buffers));

    RemovePumpConsumer(&consumer);
}
