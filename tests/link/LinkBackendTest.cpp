// The --link= option and what installing each choice does to the D2XX table.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include "BackendSerial.h"
#include "LinkBackend.h"
#include "LinkTestSupport.h"
#include "SimBackend.h"

namespace {

struct ParseRow {
    const char *value;
    bool ok;
    LinkKind kind;
    const char *path;
};

TEST(LinkOption, ParsesEveryFormAndRefusesTheRest) {
    const ParseRow rows[] = {
        {"", true, LinkKind::Auto, ""},
        {"auto", true, LinkKind::Auto, ""},
        {"sim", true, LinkKind::Sim, ""},
        {"d2xx", true, LinkKind::D2xx, ""},
        {"d2xx:/opt/ftdi/libftd2xx.so.1.4", true, LinkKind::D2xx, "/opt/ftdi/libftd2xx.so.1.4"},
        {"serial", true, LinkKind::Serial, ""},
        {"serial:/dev/ttyUSB0", true, LinkKind::Serial, "/dev/ttyUSB0"},
        {"serial:/dev/pts/3:x", true, LinkKind::Serial, "/dev/pts/3:x"},  // only the first ':' splits
        {"d2xx:", false, LinkKind::Auto, ""},
        {"sim:foo", false, LinkKind::Auto, ""},
        {"auto:", false, LinkKind::Auto, ""},
        {"SIM", false, LinkKind::Auto, ""},
        {"usb", false, LinkKind::Auto, ""},
        {":", false, LinkKind::Auto, ""},
    };
    for (const ParseRow &row : rows) {
        SCOPED_TRACE(row.value);
        LinkChoice choice{LinkKind::Sim, "untouched"};
        std::string why;
        ASSERT_EQ(ParseLinkOption(row.value, choice, why), row.ok);
        if (row.ok) {
            EXPECT_EQ(choice.kind, row.kind);
            EXPECT_EQ(choice.path, row.path);
        } else {
            EXPECT_FALSE(why.empty());
            EXPECT_EQ(choice.path, "untouched");
        }
    }
}

using LinkBackendInstall = LinkStateTest;

TEST_F(LinkBackendInstall, SimIsTheProvidedEmulatorAndPlugsItIn) {
    std::string why;
    ProvideEmulatorBackend(D2xxApi{}, nullptr);
    EXPECT_FALSE(InstallLinkBackend(LinkChoice{LinkKind::Sim, ""}, why));
    EXPECT_NE(why.find("emulator"), std::string::npos) << why;
    ProvideEmulatorBackend(SimD2xxApi(), [] { TheSimAdapter().Plug(); });
    ASSERT_TRUE(InstallLinkBackend(LinkChoice{LinkKind::Sim, ""}, why)) << why;
    EXPECT_TRUE(TheSimAdapter().IsPlugged());
    DeviceCount = 0;
    EXPECT_EQ(GetFTDeviceCount(), FT_OK);
    EXPECT_EQ(DeviceCount, 1u);
    ASSERT_EQ(OpenFTDevice(), FT_OK);
    EXPECT_EQ(LinkHandle.load(), TheSimAdapter().OpenHandle());
}

TEST_F(LinkBackendInstall, D2xxWithAPathLoadsThatLibrary) {
    std::string why;
    ASSERT_TRUE(InstallLinkBackend(LinkChoice{LinkKind::D2xx, FTD2XX_STANDIN_PATH}, why)) << why;
    void *standin = dlopen(FTD2XX_STANDIN_PATH, RTLD_NOW | RTLD_NOLOAD);
    ASSERT_NE(standin, nullptr);
    EXPECT_EQ(reinterpret_cast<void *>(FtApi.FT_Open), dlsym(standin, "FT_Open"));
    dlclose(standin);
}

// Without --link: the vendor's library where it loads, otherwise the serial link; never the emulator.
TEST_F(LinkBackendInstall, AutoTakesTheVendorLibraryWhereItLoadsElseTheSerialLink) {
    struct Row {
        const char *library;
        bool vendor;
    } const rows[] = {
        {FTD2XX_STANDIN_PATH, true},
        {"/nonexistent/libftd2xx.so", false},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.library);
        FtApi = D2xxApi{};
        std::string why;
        ASSERT_TRUE(InstallLinkBackend(LinkChoice{LinkKind::Auto, row.library}, why)) << why;
        if (row.vendor) {
            void *standin = dlopen(FTD2XX_STANDIN_PATH, RTLD_NOW | RTLD_NOLOAD);
            ASSERT_NE(standin, nullptr);
            EXPECT_EQ(reinterpret_cast<void *>(FtApi.FT_Open), dlsym(standin, "FT_Open"));
            dlclose(standin);
        } else {
            EXPECT_EQ(FtApi.FT_Open, SerialD2xxApi().FT_Open);
            EXPECT_EQ(FtApi.FT_Read, SerialD2xxApi().FT_Read);
        }
        EXPECT_FALSE(TheSimAdapter().IsPlugged());
    }
}

TEST_F(LinkBackendInstall, NoLinkOptionUsesTheSerialLinkWhereTheVendorLibraryIsMissing) {
    if (void *vendor = dlopen(DefaultD2xxLibrary, RTLD_NOW | RTLD_LOCAL)) {
        dlclose(vendor);
        GTEST_SKIP() << "the vendor's library is installed here";
    }
    LinkChoice choice{LinkKind::Sim, "x"};
    std::string why;
    ASSERT_TRUE(ParseLinkOption("", choice, why));
    ASSERT_TRUE(InstallLinkBackend(choice, why)) << why;
    EXPECT_EQ(FtApi.FT_Open, SerialD2xxApi().FT_Open);
    EXPECT_FALSE(TheSimAdapter().IsPlugged());
}

TEST_F(LinkBackendInstall, D2xxNamingAMissingLibraryFailsAndSaysWhich) {
    const D2xxApi before = FtApi;
    std::string why;
    EXPECT_FALSE(InstallLinkBackend(LinkChoice{LinkKind::D2xx, "/nonexistent/libftd2xx.so"}, why));
    EXPECT_NE(why.find("/nonexistent/libftd2xx.so"), std::string::npos) << why;
    EXPECT_EQ(why.find("no usable D2XX library: use --link=serial"), 0u) << why;
    EXPECT_EQ(FtApi.FT_Open, before.FT_Open);
}

TEST_F(LinkBackendInstall, ALibraryLackingAFunctionPointsAtTheSerialLink) {
    const D2xxApi before = FtApi;
    std::string why;
    EXPECT_FALSE(InstallLinkBackend(LinkChoice{LinkKind::D2xx, "libm.so.6"}, why));
    EXPECT_EQ(why.find("no usable D2XX library: use --link=serial"), 0u) << why;
    EXPECT_NE(why.find("lacks FT_ListDevices"), std::string::npos) << why;
    EXPECT_EQ(FtApi.FT_Open, before.FT_Open);
}

}  // namespace
