// The presence tick against a scripted D2XX table: which calls it makes, in which order, and what it
// tells its caller.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "D2XXUnit.h"
#include "LinkState.h"
#include "PresenceWatch.h"

namespace {

struct Script {
    std::vector<std::string> calls;
    FT_STATUS openStatus = FT_DEVICE_NOT_FOUND;
    FT_STATUS probeStatus = FT_OK;
    ULONG readTimeout = 0, writeTimeout = 0;
    std::vector<std::string> errorLines;
};
Script *script = nullptr;

FT_STATUS List(void *count, void *, DWORD) {
    *static_cast<DWORD *>(count) = 1;
    return FT_OK;
}
FT_STATUS Open(int index, FT_HANDLE *h) {
    script->calls.push_back("open" + std::to_string(index));
    if (script->openStatus == FT_OK) *h = reinterpret_cast<FT_HANDLE>(0x1234);
    return script->openStatus;
}
FT_STATUS Close(FT_HANDLE) {
    script->calls.push_back("close");
    return FT_INVALID_HANDLE;  // a failing close must stay silent too
}
FT_STATUS Reset(FT_HANDLE) {
    script->calls.push_back("reset");
    return FT_IO_ERROR;
}
FT_STATUS Timeouts(FT_HANDLE, ULONG r, ULONG w) {
    script->calls.push_back("timeouts");
    script->readTimeout = r;
    script->writeTimeout = w;
    return FT_OK;
}
FT_STATUS Queue(FT_HANDLE, DWORD *count) {
    script->calls.push_back("probe");
    *count = 0;
    return script->probeStatus;
}
FT_STATUS Status(FT_HANDLE, DWORD *, DWORD *, DWORD *) { return FT_OK; }
FT_STATUS ReadWrite(FT_HANDLE, void *, DWORD, DWORD *) { return FT_OK; }
FT_STATUS Notify(FT_HANDLE h, DWORD mask, void *param) {
    script->calls.push_back("notify" + std::to_string(mask) + (h && param ? "" : "(none)"));
    return FT_OK;
}

class PresenceTickTest : public ::testing::Test {
protected:
    void SetUp() override {
        ResetLinkState();
        script = &s;
        InstallD2xxApi(
            {&List, &Open, &Close, &Reset, &Timeouts, &Queue, &Status, &ReadWrite, &ReadWrite, &Notify});
        SetLinkErrorSink([this](const std::string &line) { s.errorLines.push_back(line); });
        DevicePresent.store(false);
    }
    void TearDown() override {
        ResetLinkState();
        script = nullptr;
    }
    Script s;
};

TEST_F(PresenceTickTest, AbsentAdapterIsSearchedSilentlyAndTitleStaysAtStart) {
    for (int i = 0; i < 3; ++i) {
        ShowLinkErrors.store(true);  // as a command write would leave it
        EXPECT_EQ(PresenceTick(), PresenceChange::None);
        EXPECT_FALSE(ShowLinkErrors.load());
    }
    EXPECT_EQ(s.calls, (std::vector<std::string>{"close", "open0", "close", "open0", "close", "open0"}));
    EXPECT_TRUE(s.errorLines.empty()) << s.errorLines.front();
    EXPECT_FALSE(DevicePresent.load());
}

// The receive event is registered on every handle the tick opens: a registration ends with its handle.
TEST_F(PresenceTickTest, FoundAdapterIsOpenedResetGivenShortTimeoutsAndRegistered) {
    s.openStatus = FT_OK;
    EXPECT_EQ(PresenceTick(), PresenceChange::Found);
    EXPECT_TRUE(DevicePresent.load());
    EXPECT_EQ(s.calls, (std::vector<std::string>{"close", "open0", "reset", "timeouts", "notify1"}));
    EXPECT_EQ(s.readTimeout, 10u);
    EXPECT_EQ(s.writeTimeout, 10u);
    EXPECT_TRUE(s.errorLines.empty());
}

TEST_F(PresenceTickTest, PresentAdapterIsOnlyProbed) {
    s.openStatus = FT_OK;
    PresenceTick();
    s.calls.clear();
    EXPECT_EQ(PresenceTick(), PresenceChange::None);
    EXPECT_EQ(PresenceTick(), PresenceChange::None);
    EXPECT_EQ(s.calls, (std::vector<std::string>{"probe", "probe"}));
    EXPECT_TRUE(DevicePresent.load());
}

TEST_F(PresenceTickTest, LossIsShownAndTheHandleClosedOnlyByTheNextTick) {
    s.openStatus = FT_OK;
    PresenceTick();
    s.calls.clear();
    s.probeStatus = FT_IO_ERROR;
    s.openStatus = FT_DEVICE_NOT_FOUND;
    ShowLinkErrors.store(true);
    EXPECT_EQ(PresenceTick(), PresenceChange::Lost);
    EXPECT_FALSE(DevicePresent.load());
    EXPECT_EQ(s.calls, (std::vector<std::string>{"probe"}));  // no close yet
    EXPECT_EQ(PresenceTick(), PresenceChange::None);
    EXPECT_EQ(s.calls, (std::vector<std::string>{"probe", "close", "open0"}));
    EXPECT_TRUE(s.errorLines.empty());

    s.openStatus = FT_OK;  // plugged in again
    EXPECT_EQ(PresenceTick(), PresenceChange::Found);
    EXPECT_TRUE(DevicePresent.load());
}

}  // namespace
