// The command line scripts rely on, and the figures watch prints.
#include "CliOptions.h"
#include "CliStats.h"

#include <gtest/gtest.h>

namespace {

bool Parse(std::vector<std::string> args, CliOptions &options, std::string &error)
{
    options = CliOptions();
    error.clear();
    return ParseCliOptions(args, options, error);
}

TEST(CliOptions, DefaultsAndLinkOptions)
{
    CliOptions o;
    std::string error;
    ASSERT_TRUE(Parse({"info"}, o, error));
    EXPECT_EQ(o.method, ConnMethod::TcpIPv4);
    EXPECT_EQ(o.host, "127.0.0.1");
    EXPECT_EQ(o.port, 66);
    EXPECT_EQ(o.command, CliCommand::Info);

    ASSERT_TRUE(Parse(
        {"--method", "tcp6", "--host", "::1", "--port", "6600", "screenshot", "a.png"}, o, error));
    EXPECT_EQ(o.method, ConnMethod::TcpIPv6);
    EXPECT_EQ(o.host, "::1");
    EXPECT_EQ(o.port, 6600);
    EXPECT_EQ(o.file, "a.png");

    ASSERT_TRUE(
        Parse({"--method", "usb", "--usb-id", "1a2B:00fF", "--usb-sim=KL512A", "info"}, o, error));
    EXPECT_EQ(o.usbIds, "1a2B:00fF");
    EXPECT_EQ(o.usbSim, "KL512A");

    ASSERT_TRUE(Parse({"--help"}, o, error));
    EXPECT_TRUE(o.help);
}

TEST(CliOptions, UsageErrors)
{
    CliOptions o;
    std::string error;
    const std::vector<std::vector<std::string>> bad = {
        {},
        {"--method", "serial", "info"},
        {"--port", "0", "info"},
        {"--port", "65536", "info"},
        {"--port", "66x", "info"},
        {"--port"},
        {"--usb-id", "1234-5678", "info"},
        {"--usb-id", "12345:678", "info"},
        {"--usb-sim", "info"}, // only with the USB method
        {"--verbose", "info"},
        {"info", "extra"},
        {"screenshot"},
        {"screenshot", "a", "b"},
        {"key"},
        {"key", std::string(127, 'A')},
        {"key", "KEYP:MODE", "tab\there"},
        {"watch", "-n", "0"},
        {"watch", "-n", "x"},
        {"watch", "--interval", "-1"},
        {"watch", "--out"},
        {"watch", "--fast"},
        {"record"},
        {"record", "-n", "3"},
        {"record", "a.mkv", "-n", "0"},
        {"record", "a.mkv", "--seconds", "0"},
        {"record", "a.mkv", "-n", "2", "--seconds", "5"},
        {"record", "a.mkv", "--out", "x"},
        {"reboot"},
    };
    for (const auto &args : bad) {
        std::string joined;
        for (const auto &a : args)
            joined += a + " ";
        EXPECT_FALSE(Parse(args, o, error)) << joined;
        EXPECT_FALSE(error.empty()) << joined;
    }
}

TEST(CliOptions, KeyAndWatchArguments)
{
    CliOptions o;
    std::string error;
    ASSERT_TRUE(Parse({"key", "KEYP:MODE", "KEYP 10,20", std::string(126, 'K')}, o, error));
    EXPECT_EQ(o.keys.size(), 3u);
    EXPECT_EQ(o.keys[1], "KEYP 10,20");

    ASSERT_TRUE(Parse({"watch"}, o, error));
    EXPECT_EQ(o.count, 10);
    EXPECT_EQ(o.intervalMs, 500);
    EXPECT_TRUE(o.outDir.empty());
    ASSERT_TRUE(Parse({"watch", "--out", "frames", "--interval", "0", "-n", "40"}, o, error));
    EXPECT_EQ(o.count, 40);
    EXPECT_EQ(o.intervalMs, 0);
    EXPECT_EQ(o.outDir, "frames");

    // Without -n or --seconds a recording runs until it is interrupted.
    ASSERT_TRUE(Parse({"record", "a.mkv"}, o, error));
    EXPECT_EQ(o.command, CliCommand::Record);
    EXPECT_EQ(o.file, "a.mkv");
    EXPECT_EQ(o.count, 0);
    EXPECT_EQ(o.seconds, 0);
    EXPECT_EQ(o.intervalMs, 500);
    ASSERT_TRUE(Parse({"record", "b.mkv", "--interval", "0", "--seconds", "30"}, o, error));
    EXPECT_EQ(o.seconds, 30);
    EXPECT_EQ(o.intervalMs, 0);
    ASSERT_TRUE(Parse({"record", "c.mkv", "-n", "7"}, o, error));
    EXPECT_EQ(o.count, 7);
}

TEST(CliOptions, ServeArguments)
{
    CliOptions o;
    std::string error;
    ASSERT_TRUE(Parse({"serve"}, o, error));
    EXPECT_EQ(o.command, CliCommand::Serve);
    EXPECT_EQ(o.listen, "127.0.0.1:8080");
    EXPECT_FALSE(o.allowControl);
    EXPECT_EQ(o.intervalMs, 500);
    ASSERT_TRUE(Parse({"--port", "5066", "serve", "--listen", "0.0.0.0:9000", "--allow-control",
                       "--interval", "250"},
                      o, error));
    EXPECT_EQ(o.listen, "0.0.0.0:9000");
    EXPECT_TRUE(o.allowControl);
    EXPECT_EQ(o.intervalMs, 250);
    EXPECT_FALSE(Parse({"serve", "--listen"}, o, error));
    EXPECT_FALSE(Parse({"serve", "--interval", "-5"}, o, error));
    EXPECT_FALSE(Parse({"serve", "extra"}, o, error));
    EXPECT_EQ(error, "unknown serve argument: extra");
}

TEST(CliStats, MedianPercentileAndMaximum)
{
    const CliStats none = Summarise({});
    EXPECT_EQ(none.median, 0);
    EXPECT_EQ(none.max, 0);

    const CliStats odd = Summarise({5, 1, 3});
    EXPECT_EQ(odd.median, 3);
    EXPECT_EQ(odd.p95, 5);
    EXPECT_EQ(odd.max, 5);

    const CliStats even = Summarise({4, 1, 3, 2});
    EXPECT_EQ(even.median, 2.5);

    // Nearest rank: the 19th of 20 values, the 95th of 100.
    std::vector<double> twenty;
    for (int i = 1; i <= 20; ++i)
        twenty.push_back(i);
    EXPECT_EQ(Summarise(twenty).p95, 19);
    std::vector<double> hundred;
    for (int i = 100; i >= 1; --i)
        hundred.push_back(i);
    EXPECT_EQ(Summarise(hundred).p95, 95);
    EXPECT_EQ(Summarise(hundred).median, 50.5);
}

} // namespace
