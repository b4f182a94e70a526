// Finding an FTDI adapter through sysfs, on a fake tree shaped like the kernel's, and choosing the serial
// backend from the command line's value.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "BackendSerial.h"
#include "D2XXUnit.h"
#include "LinkBackend.h"
#include "SerialPty.h"

namespace {

// <root>/sys/devices/usbN/N-1 is a USB device with its idVendor; its interface N-1:1.0 holds the
// usb-serial port ttyUSBn, bound to `driver`; <root>/sys/class/tty/ttyUSBn/device points at that port.
class FakeSysfs : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(QDir().mkpath(Sys("class/tty")));
        ASSERT_TRUE(QDir().mkpath(Sys("bus/usb-serial/drivers/ftdi_sio")));
        ASSERT_TRUE(QDir().mkpath(Sys("bus/usb-serial/drivers/pl2303")));
        ASSERT_TRUE(QDir().mkpath(Dev()));
    }
    QString Sys(const QString &rel) const { return dir.filePath("sys/" + rel); }
    QString Dev() const { return dir.filePath("dev"); }

    void AddTty(int number, const char *vendor, const char *driver) {
        const QString usb = QString("devices/usb%1/%1-1").arg(number);
        const QString port = usb + QString("/%1-1:1.0/ttyUSB%1").arg(number);
        ASSERT_TRUE(QDir().mkpath(Sys(port)));
        QFile id(Sys(usb + "/idVendor"));
        ASSERT_TRUE(id.open(QIODevice::WriteOnly));
        id.write(QByteArray(vendor) + "\n");
        id.close();
        ASSERT_TRUE(QFile::link(Sys(QString("bus/usb-serial/drivers/") + driver), Sys(port + "/driver")));
        ASSERT_TRUE(QDir().mkpath(Sys(QString("class/tty/ttyUSB%1").arg(number))));
        ASSERT_TRUE(QFile::link(Sys(port), Sys(QString("class/tty/ttyUSB%1/device").arg(number))));
    }
    std::string Root() const { return dir.filePath("sys").toStdString(); }
    std::string DevRoot() const { return Dev().toStdString(); }

    QTemporaryDir dir;
};

TEST_F(FakeSysfs, FirstFtdiTtyOnFtdiSioWins) {
    EXPECT_EQ(FindFtdiTty(Root(), DevRoot()), "");
    AddTty(0, "067b", "pl2303");  // another maker's chip
    AddTty(1, "0403", "pl2303");  // FTDI's id, another driver
    EXPECT_EQ(FindFtdiTty(Root(), DevRoot()), "");
    AddTty(10, "0403", "ftdi_sio");
    AddTty(2, "0403", "ftdi_sio");  // lower number than 10, though it sorts after it as text
    ASSERT_TRUE(QDir().mkpath(Sys("class/tty/ttyS0")));
    ASSERT_TRUE(QDir().mkpath(Sys("class/tty/ttyUSBx")));
    EXPECT_EQ(FindFtdiTty(Root(), DevRoot()), DevRoot() + "/ttyUSB2");
    EXPECT_EQ(FindFtdiTty(Root() + "/missing", DevRoot()), "");
}

TEST_F(FakeSysfs, DiscoveredNodeFollowsPlugging) {
    TestPty pty;
    ASSERT_TRUE(pty.Ok());
    SerialLink link({"", DefaultSerialBaud, Root(), DevRoot()});
    DWORD count = 9;
    ASSERT_EQ(link.ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY), FT_OK);
    EXPECT_EQ(count, 0u);
    FT_HANDLE handle = nullptr;
    EXPECT_EQ(link.Open(0, &handle), FT_DEVICE_NOT_FOUND);

    // Plugged in: sysfs lists it, its node appears (here a name for the test's terminal).
    AddTty(3, "0403", "ftdi_sio");
    const std::string node = DevRoot() + "/ttyUSB3";
    EXPECT_EQ(link.DevicePath(), node);
    ASSERT_EQ(link.ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY), FT_OK);
    EXPECT_EQ(count, 0u);  // listed in sysfs, node not there yet
    ASSERT_EQ(::symlink(pty.Slave().c_str(), node.c_str()), 0);
    ASSERT_EQ(link.ListDevices(&count, nullptr, FT_LIST_NUMBER_ONLY), FT_OK);
    EXPECT_EQ(count, 1u);
    ASSERT_EQ(link.Open(0, &handle), FT_OK);
    DWORD queued = 0;
    EXPECT_EQ(link.GetQueueStatus(handle, &queued), FT_OK);

    // Pulled out: the node goes.
    ASSERT_EQ(::unlink(node.c_str()), 0);
    EXPECT_NE(link.GetQueueStatus(handle, &queued), FT_OK);
    EXPECT_EQ(link.Close(handle), FT_OK);
}

TEST_F(FakeSysfs, SomethingThatIsNotATerminalIsNotOpened) {
    const std::string plain = DevRoot() + "/plain";
    QFile file(QString::fromStdString(plain));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.close();
    SerialLink link({plain});
    FT_HANDLE handle = nullptr;
    EXPECT_EQ(link.Open(0, &handle), FT_DEVICE_NOT_OPENED);
    EXPECT_FALSE(link.IsOpen());
}

struct TargetRow {
    const char *text;
    bool ok;
    const char *path;
    uint32_t baud;
};

class SerialTarget : public ::testing::TestWithParam<TargetRow> {};

TEST_P(SerialTarget, PathAndRate) {
    const TargetRow &row = GetParam();
    SerialSettings settings;
    settings.path = "untouched";
    std::string why;
    EXPECT_EQ(ParseSerialTarget(row.text, settings, why), row.ok) << why;
    EXPECT_EQ(settings.path, row.path);
    if (row.ok) {
        EXPECT_EQ(settings.baud, row.baud);
    } else {
        EXPECT_FALSE(why.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, SerialTarget,
                         ::testing::Values(TargetRow{"", true, "", DefaultSerialBaud},
                                           TargetRow{"@115200", true, "", 115200},
                                           TargetRow{"/dev/ttyUSB1", true, "/dev/ttyUSB1", DefaultSerialBaud},
                                           TargetRow{"/dev/ttyUSB1@3000000", true, "/dev/ttyUSB1", 3000000},
                                           TargetRow{"/tmp/a@b/tty", true, "/tmp/a@b/tty", DefaultSerialBaud},
                                           TargetRow{"/dev/ttyUSB1@123", false, "untouched", 0},
                                           TargetRow{"/dev/ttyUSB1@99999999999", false, "untouched", 0}));

TEST(SerialInstall, FillsTheTableAndRefusesABadRate) {
    const D2xxApi saved = FtApi;
    TestPty pty;
    ASSERT_TRUE(pty.Ok());
    std::string why;
    EXPECT_FALSE(InstallLinkBackend(LinkChoice{LinkKind::Serial, pty.Slave() + "@7"}, why));
    EXPECT_NE(why.find("baud"), std::string::npos) << why;
    EXPECT_EQ(FtApi.FT_Open, saved.FT_Open);

    ASSERT_TRUE(InstallLinkBackend(LinkChoice{LinkKind::Serial, pty.Slave() + "@115200"}, why)) << why;
    EXPECT_EQ(FtApi.FT_Read, SerialD2xxApi().FT_Read);
    // Through the wrapper, as the presence watch does it.
    const FT_HANDLE savedHandle = LinkHandle.load();
    const bool savedShow = ShowLinkErrors.load();
    ShowLinkErrors = false;
    ASSERT_EQ(GetFTDeviceCount(), FT_OK);
    EXPECT_EQ(DeviceCount, 1u);
    ASSERT_EQ(OpenFTDevice(), FT_OK);
    termios tio{};
    const int look = ::open(pty.Slave().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(look, 0);
    ASSERT_EQ(::tcgetattr(look, &tio), 0);
    EXPECT_EQ(::cfgetospeed(&tio), static_cast<speed_t>(B115200));
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
    ::close(look);
    EXPECT_EQ(GetFTQueueStatus(), FT_OK);
    EXPECT_EQ(CloseFTDevice(), FT_OK);
    LinkHandle = savedHandle;
    ShowLinkErrors = savedShow;
    InstallD2xxApi(saved);
}

}  // namespace
