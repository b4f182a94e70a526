// The link wrapper over a fake D2XX table: numbered error lines, their exact texts, and counts that a
// failed or misbehaving library call hands back.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "LinkTestSupport.h"

namespace {

// A library whose every call answers `status` and writes `output` into each count it is given, even
// when it fails: the worst a real library may do.
struct FakeLibrary {
    static inline FT_STATUS status = FT_OK;
    static inline DWORD output = 0;
    static inline DWORD lastAsked = 0;

    static FT_STATUS ListDevices(void *count, void *, DWORD) {
        *static_cast<DWORD *>(count) = output;
        return status;
    }
    static FT_STATUS Open(int, FT_HANDLE *) { return status; }
    static FT_STATUS HandleOnly(FT_HANDLE) { return status; }
    static FT_STATUS Timeouts(FT_HANDLE, ULONG, ULONG) { return status; }
    static FT_STATUS Queue(FT_HANDLE, DWORD *rx) {
        *rx = output;
        return status;
    }
    static FT_STATUS Status(FT_HANDLE, DWORD *rx, DWORD *tx, DWORD *events) {
        *rx = *tx = *events = output;
        return status;
    }
    static FT_STATUS Transfer(FT_HANDLE, void *, DWORD asked, DWORD *done) {
        lastAsked = asked;
        *done = output;
        return status;
    }
    static FT_STATUS Notify(FT_HANDLE, DWORD, void *) { return status; }

    static void Install(FT_STATUS answer, DWORD count = 0) {
        status = answer;
        output = count;
        lastAsked = 0;
        InstallD2xxApi(D2xxApi{&ListDevices, &Open, &HandleOnly, &HandleOnly, &Timeouts, &Queue, &Status,
                               &Transfer, &Transfer, &Notify});
    }
};

using D2XXUnitTest = LinkStateTest;

TEST_F(D2XXUnitTest, FailedWritesAreNumberedFromOne) {
    FakeLibrary::Install(FT_DEVICE_NOT_OPENED);
    EXPECT_EQ(WriteFTDevice(7), 0u);
    EXPECT_EQ(WriteFTDevice(7), 0u);
    EXPECT_EQ(Lines(), (std::vector<std::string>{"(1) FT_Write - Device Not Opened...",
                                                 "(2) FT_Write - Device Not Opened..."}));
    EXPECT_EQ(LinkErrorSerial.load(), 2);
}

TEST_F(D2XXUnitTest, EachStatusHasItsExactText) {
    FakeLibrary::Install(FT_OK);
    for (FT_STATUS status = 1; status <= 6; ++status) ReportLinkError("FT_Read", status);
    EXPECT_EQ(Lines(), (std::vector<std::string>{
                           "(1) FT_Read - Invalid Handle...",
                           "(2) FT_Read - Device Not Found....",
                           "(3) FT_Read - Device Not Opened...",
                           "(4) FT_Read - General IO Error...",
                           "(5) FT_Read - Insufficient Resources...",
                           "(6) FT_Read - Invalid Parameter ...",
                       }));
}

TEST_F(D2XXUnitTest, StatusesOutsideOneToSixAreSilentAndKeepTheNumber) {
    LinkErrorSerial = 41;
    for (FT_STATUS status :
         {FT_STATUS{0}, FT_STATUS{7}, FT_STATUS{18}, FT_STATUS{0x80000000u}, ~FT_STATUS{0}})
        ReportLinkError("FT_Write", status);
    EXPECT_TRUE(Lines().empty());
    EXPECT_EQ(LinkErrorSerial.load(), 41);
    ReportLinkError("FT_Write", FT_IO_ERROR);
    EXPECT_EQ(Lines(), std::vector<std::string>{"(42) FT_Write - General IO Error..."});
}

TEST_F(D2XXUnitTest, NothingIsShownOrCountedWhileLinkErrorsAreHidden) {
    FakeLibrary::Install(FT_IO_ERROR, 0xDEADBEEF);
    ShowLinkErrors = false;
    EXPECT_EQ(GetFTDeviceCount(), FT_IO_ERROR);
    EXPECT_EQ(OpenFTDevice(), FT_IO_ERROR);
    EXPECT_EQ(ReadFTDevice(LinkBufferSize), 0u);
    EXPECT_EQ(GetFTRxCount(), 0u);
    EXPECT_TRUE(Lines().empty());
    EXPECT_EQ(LinkErrorSerial.load(), 0);
    ShowLinkErrors = true;
    EXPECT_EQ(GetFTQueueStatus(), FT_IO_ERROR);
    EXPECT_EQ(Lines(), std::vector<std::string>{"(1) FT_GetQueueStatus - General IO Error..."});
}

// Which name each operation reports under; SetFTEventNotification reports nothing at all.
TEST_F(D2XXUnitTest, EachOperationReportsUnderItsName) {
    struct Row {
        const char *name;
        std::function<void()> call;
    };
    const Row rows[] = {
        {"GetFTDeviceCount", [] { GetFTDeviceCount(); }},
        {"FT_Open", [] { OpenFTDevice(); }},
        {"FT_Close", [] { CloseFTDevice(); }},
        {"FT_ResetDevice", [] { ResetFTDevice(); }},
        {"FT_SetTimeouts", [] { SetFTTimeouts(10, 10); }},
        {"FT_GetQueueStatus", [] { GetFTQueueStatus(); }},
        {"FT_Write", [] { WriteFTDevice(7); }},
        {"FT_Read", [] { ReadFTDevice(LinkBufferSize); }},
        {"FT_Status", [] { GetFTRxCount(); }},
    };
    FakeLibrary::Install(FT_INVALID_HANDLE);
    std::vector<std::string> expected;
    for (const Row &row : rows) {
        row.call();
        expected.push_back("(" + std::to_string(expected.size() + 1) + ") " + row.name +
                           " - Invalid Handle...");
    }
    SetFTEventNotification(FT_EVENT_RXCHAR, nullptr);
    EXPECT_EQ(Lines(), expected);
}

TEST_F(D2XXUnitTest, FailedCountingCallsHandBackZeroWhateverTheLibraryWrote) {
    FakeLibrary::Install(FT_IO_ERROR, 0xDEADBEEF);
    EXPECT_EQ(WriteFTDevice(7), 0u);
    EXPECT_EQ(ReadFTDevice(LinkBufferSize), 0u);
    EXPECT_EQ(GetFTRxCount(), 0u);
    FakeLibrary::Install(FT_OTHER_ERROR, 5);  // not shown, but still a failure
    EXPECT_EQ(ReadFTDevice(LinkBufferSize), 0u);
    EXPECT_EQ(Lines().size(), 3u);
}

TEST_F(D2XXUnitTest, CountsNeverExceedWhatWasAsked) {
    FakeLibrary::Install(FT_OK, 0xDEADBEEF);
    EXPECT_EQ(ReadFTDevice(100), 100u);
    EXPECT_EQ(WriteFTDevice(9), 9u);
    // A request beyond the buffers is cut to their size before the library sees it.
    EXPECT_EQ(ReadFTDevice(LinkBufferSize + 1), LinkBufferSize);
    EXPECT_EQ(FakeLibrary::lastAsked, LinkBufferSize);
    EXPECT_EQ(WriteFTDevice(0xFFFFFFFF), LinkBufferSize);
    EXPECT_EQ(FakeLibrary::lastAsked, LinkBufferSize);
}

TEST_F(D2XXUnitTest, ShortWriteWithSuccessIsNoError) {
    FakeLibrary::Install(FT_OK, 3);
    EXPECT_EQ(WriteFTDevice(7), 3u);
    EXPECT_TRUE(Lines().empty());
    EXPECT_EQ(LinkErrorSerial.load(), 0);
}

}  // namespace
