// The d2xx backend loads a library with dlopen; here it loads the stand-in built beside the tests and
// checks that the wrapper's arguments arrive exactly as the vendor's functions expect them.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>

#include "LinkBackend.h"
#include "LinkTestSupport.h"

namespace {

// The stand-in's controls, reached the way a test of a real plug-in would: by name.
struct Standin {
    void *library = nullptr;
    void (*reset)() = nullptr;
    void (*setStatus)(const char *, uint32_t) = nullptr;
    void (*setOutput)(const char *, uint32_t) = nullptr;
    void (*setReadBytes)(const uint8_t *, uint32_t) = nullptr;
    int (*calls)(const char *) = nullptr;
    uint64_t (*arg)(const char *, int) = nullptr;
    void *(*handle)() = nullptr;

    template <typename Fn>
    void Bind(Fn &slot, const char *name) {
        slot = reinterpret_cast<Fn>(dlsym(library, name));
        ASSERT_NE(slot, nullptr) << name;
    }
    void Load() {
        library = dlopen(FTD2XX_STANDIN_PATH, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(library, nullptr) << dlerror();
        Bind(reset, "standin_reset");
        Bind(setStatus, "standin_set_status");
        Bind(setOutput, "standin_set_output");
        Bind(setReadBytes, "standin_set_read_bytes");
        Bind(calls, "standin_calls");
        Bind(arg, "standin_arg");
        Bind(handle, "standin_handle");
        reset();
    }
};

uint64_t Address(const void *p) { return reinterpret_cast<uintptr_t>(p); }

class BackendD2xxTest : public LinkStateTest {
protected:
    void SetUp() override {
        LinkStateTest::SetUp();
        ASSERT_NO_FATAL_FAILURE(standin.Load());
        std::string why;
        D2xxApi api;
        ASSERT_TRUE(LoadD2xxLibrary(FTD2XX_STANDIN_PATH, api, why)) << why;
        InstallD2xxApi(api);
    }
    void TearDown() override {
        if (standin.library) dlclose(standin.library);
        LinkStateTest::TearDown();
    }
    Standin standin;
};

TEST_F(BackendD2xxTest, ArgumentsReachTheLibraryExactly) {
    DeviceCount = 0;
    EXPECT_EQ(GetFTDeviceCount(), FT_OK);
    EXPECT_EQ(standin.arg("FT_ListDevices", 0), Address(&DeviceCount));
    EXPECT_EQ(standin.arg("FT_ListDevices", 1), 0u);
    EXPECT_EQ(standin.arg("FT_ListDevices", 2), 0x80000000u);
    EXPECT_EQ(DeviceCount, 1u);

    ASSERT_EQ(OpenFTDevice(), FT_OK);
    EXPECT_EQ(standin.arg("FT_Open", 0), 0u);
    EXPECT_NE(standin.arg("FT_Open", 1), 0u);
    EXPECT_EQ(LinkHandle.load(), standin.handle());
    const uint64_t handle = Address(standin.handle());

    EXPECT_EQ(ResetFTDevice(), FT_OK);
    EXPECT_EQ(standin.arg("FT_ResetDevice", 0), handle);
    EXPECT_EQ(SetFTTimeouts(10, 10), FT_OK);
    EXPECT_EQ(standin.arg("FT_SetTimeouts", 0), handle);
    EXPECT_EQ(standin.arg("FT_SetTimeouts", 1), 10u);
    EXPECT_EQ(standin.arg("FT_SetTimeouts", 2), 10u);
    EXPECT_EQ(GetFTQueueStatus(), FT_OK);
    EXPECT_EQ(standin.arg("FT_GetQueueStatus", 0), handle);

    standin.setOutput("FT_GetStatus", 123);
    EXPECT_EQ(GetFTRxCount(), 123u);
    EXPECT_EQ(standin.arg("FT_GetStatus", 0), handle);

    const uint8_t incoming[3] = {0xFA, 0xF5, 0x0B};
    standin.setReadBytes(incoming, 3);
    std::memset(InBuffer, 0, 3);
    EXPECT_EQ(ReadFTDevice(LinkBufferSize), 3u);
    EXPECT_EQ(standin.arg("FT_Read", 1), Address(InBuffer));
    EXPECT_EQ(standin.arg("FT_Read", 2), 32768u);
    EXPECT_EQ(InBuffer[2], 0x0B);

    EXPECT_EQ(WriteFTDevice(7), 7u);
    EXPECT_EQ(standin.arg("FT_Write", 0), handle);
    EXPECT_EQ(standin.arg("FT_Write", 1), Address(OutBuffer));
    EXPECT_EQ(standin.arg("FT_Write", 2), 7u);

    int event = 0;
    SetFTEventNotification(FT_EVENT_RXCHAR, &event);
    EXPECT_EQ(standin.arg("FT_SetEventNotification", 1), 1u);
    EXPECT_EQ(standin.arg("FT_SetEventNotification", 2), Address(&event));

    EXPECT_EQ(CloseFTDevice(), FT_OK);
    EXPECT_EQ(standin.arg("FT_Close", 0), handle);
    EXPECT_EQ(standin.calls("FT_Close"), 1);
    EXPECT_TRUE(Lines().empty());
}

TEST_F(BackendD2xxTest, LibraryFailuresAreReportedAndCountsDiscarded) {
    standin.setStatus("FT_Write", FT_DEVICE_NOT_OPENED);
    standin.setStatus("FT_GetStatus", FT_IO_ERROR);
    standin.setOutput("FT_GetStatus", 0xDEADBEEF);
    EXPECT_EQ(WriteFTDevice(7), 0u);
    EXPECT_EQ(GetFTRxCount(), 0u);
    EXPECT_EQ(Lines(), (std::vector<std::string>{"(1) FT_Write - Device Not Opened...",
                                                 "(2) FT_Status - General IO Error..."}));
}

TEST(BackendD2xxLoad, MissingLibraryNamesThePathAndTheLoaderError) {
    D2xxApi api;
    std::string why;
    EXPECT_FALSE(LoadD2xxLibrary("/nonexistent/libftd2xx.so", api, why));
    EXPECT_NE(why.find("/nonexistent/libftd2xx.so"), std::string::npos) << why;
    EXPECT_NE(why.find("No such file"), std::string::npos) << why;
    EXPECT_EQ(api.FT_Open, nullptr);
}

TEST(BackendD2xxLoad, LibraryWithoutTheFunctionsNamesTheMissingOne) {
    D2xxApi api;
    std::string why;
    EXPECT_FALSE(LoadD2xxLibrary("libm.so.6", api, why));
    EXPECT_NE(why.find("FT_ListDevices"), std::string::npos) << why;
    EXPECT_EQ(api.FT_ListDevices, nullptr);
}

}  // namespace
