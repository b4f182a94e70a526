// The link wrapper over the sim backend, in the order the presence watch and the receive thread use it.
#include <gtest/gtest.h>

#include "LinkBackend.h"
#include "LinkTestSupport.h"
#include "SimBackend.h"

namespace {

class SimBackendTest : public LinkStateTest {
protected:
    void SetUp() override {
        LinkStateTest::SetUp();
        InstallD2xxApi(SimD2xxApi());
    }
    SimAdapter &sim = TheSimAdapter();
};

TEST_F(SimBackendTest, SearchFindLoseAndFindAgain) {
    ShowLinkErrors = false;             // as every presence tick does
    EXPECT_NE(CloseFTDevice(), FT_OK);  // the null handle before any open
    EXPECT_NE(OpenFTDevice(), FT_OK);   // nothing plugged in
    EXPECT_EQ(LinkHandle.load(), nullptr);

    sim.Plug();
    ASSERT_EQ(OpenFTDevice(), FT_OK);
    const FT_HANDLE first = LinkHandle.load();
    EXPECT_EQ(ResetFTDevice(), FT_OK);
    EXPECT_EQ(SetFTTimeouts(10, 10), FT_OK);
    ULONG readMs = 0, writeMs = 0;
    ASSERT_TRUE(sim.Timeouts(readMs, writeMs));
    EXPECT_EQ(readMs, 10u);
    EXPECT_EQ(writeMs, 10u);
    EXPECT_EQ(GetFTQueueStatus(), FT_OK);

    sim.Unplug();
    EXPECT_NE(GetFTQueueStatus(), FT_OK);
    sim.Plug();
    EXPECT_EQ(CloseFTDevice(), FT_OK);  // releases the lost handle
    ASSERT_EQ(OpenFTDevice(), FT_OK);
    EXPECT_NE(LinkHandle.load(), first);
    EXPECT_EQ(GetFTQueueStatus(), FT_OK);
    EXPECT_TRUE(Lines().empty());
    EXPECT_EQ(LinkErrorSerial.load(), 0);
}

TEST_F(SimBackendTest, ErrorNumbersKeepCountingAcrossLossAndReopen) {
    sim.Plug();
    ASSERT_EQ(OpenFTDevice(), FT_OK);
    sim.Unplug();
    EXPECT_EQ(WriteFTDevice(7), 0u);
    sim.Plug();
    CloseFTDevice();
    ASSERT_EQ(OpenFTDevice(), FT_OK);
    sim.FailNext(SimOp::Write, FT_DEVICE_NOT_OPENED);
    EXPECT_EQ(WriteFTDevice(7), 0u);
    EXPECT_EQ(Lines(), (std::vector<std::string>{"(1) FT_Write - General IO Error...",
                                                 "(2) FT_Write - Device Not Opened..."}));
}

TEST_F(SimBackendTest, BytesRoundTripThroughTheLinkBuffers) {
    sim.Plug();
    ASSERT_EQ(OpenFTDevice(), FT_OK);
    ASSERT_EQ(SetFTTimeouts(10, 10), FT_OK);
    const uint8_t frame[7] = {0xFA, 0xF5, 0x06, 0x00, 0x06, 0xAF, 0x5F};
    std::copy(frame, frame + 7, OutBuffer);
    EXPECT_EQ(WriteFTDevice(7), 7u);
    uint8_t taken[7] = {};
    ASSERT_EQ(sim.DrainFromHost(taken, 7), 7u);
    EXPECT_TRUE(std::equal(frame, frame + 7, taken));

    ASSERT_EQ(sim.InjectToHost(frame, 7), 7u);
    EXPECT_EQ(GetFTRxCount(), 7u);
    EXPECT_EQ(ReadFTDevice(LinkBufferSize), 7u);  // after the 10 ms time-out, with what has arrived
    EXPECT_TRUE(std::equal(frame, frame + 7, InBuffer));
    EXPECT_EQ(GetFTRxCount(), 0u);
}

}  // namespace
