// The command lines of brisklet and brisklet-adapter: every form of every option, and every refusal ending
// with status 2 and one line that names what was wrong.
#include <gtest/gtest.h>

#include <QStringList>
#include <string>
#include <vector>

#include "AdapterOptions.h"
#include "BriskletBuild.h"
#include "Options.h"

namespace {

QStringList Arguments(const char *program, const std::vector<const char *> &args) {
    QStringList list{QString::fromLatin1(program)};
    for (const char *a : args) list << QString::fromLatin1(a);
    return list;
}

std::string Joined(const std::vector<const char *> &args) {
    std::string text;
    for (const char *a : args) text += std::string(a) + " ";
    return text;
}

// A refusal: status 2, nothing on stdout, exactly one line on stderr naming `named`.
void ExpectOneLineRefusal(const CommandLine::Outcome &o, const char *program, const std::string &named) {
    EXPECT_FALSE(o.run);
    EXPECT_EQ(o.exitCode, 2);
    EXPECT_TRUE(o.out.empty()) << o.out;
    EXPECT_EQ(o.error.rfind(std::string(program) + ": ", 0), 0u) << o.error;
    ASSERT_FALSE(o.error.empty());
    EXPECT_EQ(o.error.find('\n'), o.error.size() - 1) << o.error;
    EXPECT_NE(o.error.find(named), std::string::npos) << o.error;
}

struct GoodRow {
    std::vector<const char *> args;
    LinkKind kind;
    const char *path;
    std::vector<std::string> qt;  // what QApplication gets after the program's name
};

TEST(BriskletOptions, EveryFormOfTheOptions) {
    const GoodRow rows[] = {
        {{}, LinkKind::Auto, "", {}},
        {{"--link=sim"}, LinkKind::Sim, "", {}},
        {{"--link", "sim"}, LinkKind::Sim, "", {}},
        {{"--link=d2xx:/opt/ftdi/libftd2xx.so"}, LinkKind::D2xx, "/opt/ftdi/libftd2xx.so", {}},
        {{"--link", "serial:/dev/ttyUSB1@115200"}, LinkKind::Serial, "/dev/ttyUSB1@115200", {}},
        {{"--link=serial:@921600"}, LinkKind::Serial, "@921600", {}},
        {{"--link=d2xx", "--link=sim"}, LinkKind::Sim, "", {}},  // the last one counts
        // Qt's own options, one dash or two, either form, before or after ours; only they reach Qt.
        {{"-platform", "offscreen", "--link=sim"}, LinkKind::Sim, "", {"-platform", "offscreen"}},
        {{"--link", "sim", "--platform=offscreen"}, LinkKind::Sim, "", {"-platform", "offscreen"}},
        {{"-style", "fusion", "-reverse"}, LinkKind::Auto, "", {"-style", "fusion", "-reverse"}},
        {{"-style=fusion", "--link=sim"}, LinkKind::Sim, "", {"-style", "fusion"}},
        {{"-qwindowgeometry", "600x400+0+0"}, LinkKind::Auto, "", {"-qwindowgeometry", "600x400+0+0"}},
    };
    for (const GoodRow &row : rows) {
        SCOPED_TRACE(Joined(row.args));
        AppOptions options;
        const CommandLine::Outcome o = ParseAppOptions(Arguments("brisklet", row.args), options);
        ASSERT_TRUE(o.run) << o.error;
        EXPECT_EQ(options.link.kind, row.kind);
        EXPECT_EQ(options.link.path, row.path);
        std::vector<std::string> qt{"brisklet"};
        qt.insert(qt.end(), row.qt.begin(), row.qt.end());
        EXPECT_EQ(options.qtArguments, qt);
        EXPECT_EQ(options.platformGiven, !row.qt.empty() && row.qt.front() == "-platform");
        EXPECT_FALSE(options.busGiven);
        EXPECT_FALSE(options.trafficGiven);
    }
}

TEST(BriskletOptions, TrafficAndBusForTheEmulatorInBothForms) {
    for (const auto &args :
         {std::vector<const char *>{"--link=sim", "--traffic=frames=20,errors=0.5", "--bus=virtualcan:can1"},
          std::vector<const char *>{"--traffic", "frames=20,errors=0.5", "--bus", "virtualcan:can1", "--link",
                                    "sim"}}) {
        SCOPED_TRACE(Joined(args));
        AppOptions options;
        ASSERT_TRUE(ParseAppOptions(Arguments("brisklet", args), options).run);
        EXPECT_TRUE(options.trafficGiven);
        EXPECT_DOUBLE_EQ(options.traffic.canFrames, 20);
        EXPECT_DOUBLE_EQ(options.traffic.busErrors, 0.5);
        EXPECT_TRUE(options.busGiven);
        EXPECT_EQ(options.bus.plugin, "virtualcan");
        EXPECT_EQ(options.bus.interface, "can1");
    }
}

// On a real link --bus is the mirror of the adapter onto the bus; a trace log and --initialize go with any.
TEST(BriskletOptions, MirrorLogAndInitializeOnARealLink) {
    AppOptions options;
    ASSERT_TRUE(ParseAppOptions(Arguments("brisklet", {"--link=d2xx", "--bus", "socketcan:vcan0", "--log=-",
                                                       "--log-name", "can0", "--initialize"}),
                                options)
                    .run);
    EXPECT_TRUE(options.busGiven);
    EXPECT_EQ(options.bus.interface, "vcan0");
    EXPECT_EQ(options.log, "-");
    EXPECT_EQ(options.logName, "can0");
    EXPECT_TRUE(options.initialize);
    EXPECT_FALSE(ParseAppOptions(Arguments("brisklet", {"--log-name=has blank"}), options).run);
    EXPECT_FALSE(ParseAppOptions(Arguments("brisklet", {"--log="}), options).run);
}

struct BadRow {
    std::vector<const char *> args;
    const char *named;  // what the one line must name
};

TEST(BriskletOptions, RefusalsNameTheBadValueInOneLine) {
    const BadRow rows[] = {
        {{"--link=serial:/dev/ttyUSB0@12345"}, "12345"},
        {{"--link", "serial:/dev/ttyUSB0@12345"}, "serial:/dev/ttyUSB0@12345"},
        {{"--link=usb"}, "usb"},
        {{"--link=d2xx:"}, "d2xx:"},
        {{"--link"}, "link"},
        {{"--bogus"}, "bogus"},
        {{"stray"}, "stray"},
        {{"--help=yes"}, "help"},
        // A value left out never takes the next option as its value.
        {{"--platform", "--link=bogus"}, "--link=bogus"},
        {{"-platform", "--link=sim"}, "--link=sim"},
        {{"--link", "--traffic=frames=1"}, "--traffic=frames=1"},
        // -platformfoo is not -platform; nothing Qt does not know passes.
        {{"-platformfoo", "offscreen"}, "platformfoo"},
        {{"--traffic=frames=5"}, "--traffic needs --link=sim"},
        {{"--link=sim", "--bus=virtualcan"}, "virtualcan"},
        {{"--link=sim", "--traffic=frames=1e-10"}, "1e-10"},
        {{"--link=sim", "--traffic=frames=inf"}, "inf"},
        {{"--link=sim", "--traffic=errors=nan"}, "nan"},
        {{"--link=sim", "--traffic=frames=-1"}, "-1"},
        {{"--link=sim", "--traffic=frames=-0"}, "-0"},
        {{"--link=sim", "--traffic=stray=2000000"}, "2000000"},
        {{"--link=sim", "--traffic=frames=0.001"}, "0.001"},
        {{"--link=sim", "--traffic=frames=lots"}, "lots"},
        {{"--link=sim", "--traffic=frames="}, "frames"},
        {{"--link=sim", "--traffic=speed=3"}, "speed"},
        {{"--link=sim", "--traffic="}, "--traffic"},
    };
    for (const BadRow &row : rows) {
        SCOPED_TRACE(Joined(row.args));
        AppOptions options;
        options.link.path = "untouched";
        ExpectOneLineRefusal(ParseAppOptions(Arguments("brisklet", row.args), options), "brisklet",
                             row.named);
        EXPECT_EQ(options.link.path, "untouched");
    }
}

TEST(BriskletOptions, HelpAndVersionWinOverEverythingElse) {
    for (const auto &args :
         {std::vector<const char *>{"--help"}, std::vector<const char *>{"-h", "--link=usb"}}) {
        SCOPED_TRACE(Joined(args));
        AppOptions options;
        const CommandLine::Outcome o = ParseAppOptions(Arguments("brisklet", args), options);
        EXPECT_FALSE(o.run);
        EXPECT_EQ(o.exitCode, 0);
        EXPECT_TRUE(o.error.empty());
        EXPECT_EQ(o.out.rfind("Usage: brisklet [options]\n", 0), 0u) << o.out;
        for (const char *option : {"--link", "--traffic", "--bus", "--help", "--version", "-platform"})
            EXPECT_NE(o.out.find(option), std::string::npos) << option;
        EXPECT_EQ(o.out.find("qwindowgeometry"), std::string::npos) << "Qt's options are Qt's to document";
    }
    for (const char *flag : {"--version", "-v"}) {
        AppOptions options;
        const CommandLine::Outcome o = ParseAppOptions(Arguments("brisklet", {flag}), options);
        EXPECT_FALSE(o.run);
        EXPECT_EQ(o.exitCode, 0);
        EXPECT_EQ(o.out, "brisklet " BRISKLET_VERSION "\n");
    }
}

TEST(AdapterOptions, EveryFormOfTheOptions) {
    AdapterOptions defaults;
    ASSERT_TRUE(ParseAdapterOptions(Arguments("brisklet-adapter", {}), defaults).run);
    EXPECT_EQ(defaults.linkPath, DefaultAdapterLinkPath());
    EXPECT_FALSE(defaults.traffic);
    EXPECT_FALSE(defaults.busGiven);

    for (const auto &args :
         {std::vector<const char *>{"--link-path=/tmp/a", "--traffic=stray=0.5", "--bus=socketcan:can0"},
          std::vector<const char *>{"--link-path", "/tmp/a", "--traffic", "stray=0.5", "--bus",
                                    "socketcan:can0"}}) {
        SCOPED_TRACE(Joined(args));
        AdapterOptions options;
        ASSERT_TRUE(ParseAdapterOptions(Arguments("brisklet-adapter", args), options).run);
        EXPECT_EQ(options.linkPath, "/tmp/a");
        EXPECT_TRUE(options.traffic);
        EXPECT_DOUBLE_EQ(options.rates.strayBytes, 0.5);
        EXPECT_TRUE(options.busGiven);
        EXPECT_EQ(options.bus.plugin, "socketcan");
    }
}

TEST(AdapterOptions, RefusalsNameTheBadValueInOneLine) {
    const BadRow rows[] = {
        {{"--link-path="}, "--link-path"},
        {{"--link-path"}, "link-path"},
        {{"--traffic=frames=lots"}, "lots"},
        {{"--traffic", "frames=1e-10"}, "1e-10"},
        {{"--traffic=broken=inf"}, "inf"},
        {{"--bus=can0"}, "can0"},
        {{"--link=sim"}, "link"},                  // brisklet's option, not the adapter's
        {{"-platform", "offscreen"}, "platform"},  // no window, no Qt options
        {{"--bus", "--link-path=/tmp/x"}, "--link-path=/tmp/x"},
    };
    for (const BadRow &row : rows) {
        SCOPED_TRACE(Joined(row.args));
        AdapterOptions options;
        ExpectOneLineRefusal(ParseAdapterOptions(Arguments("brisklet-adapter", row.args), options),
                             "brisklet-adapter", row.named);
        EXPECT_EQ(options.linkPath, DefaultAdapterLinkPath());
    }
    AdapterOptions options;
    const CommandLine::Outcome version =
        ParseAdapterOptions(Arguments("brisklet-adapter", {"--version"}), options);
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out, "brisklet-adapter " BRISKLET_VERSION "\n");
}

}  // namespace
