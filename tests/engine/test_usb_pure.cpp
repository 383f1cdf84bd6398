// The platform-free parts of the USB carrier.
#include "CDevComm.h"
#include "Diagnostic.h"
#include "SimUsbInstrument.h"
#include "UsbPure.h"

#include <gtest/gtest.h>

#include <string>

using namespace enginetest;

TEST(UsbPure, PiecewiseWriteStopsAtTheFirstFailedPiece)
{
    std::vector<int> offsets;
    const klr::UsbBlock block = klr::MakeLanCommandBlock();
    auto failAt = [&](int failing) {
        offsets.clear();
        return klr::WriteInPieces(block.data(),
                                  [&](const std::uint8_t *data, int length, int &written) {
                                      offsets.push_back(static_cast<int>(data - block.data()));
                                      EXPECT_EQ(length, 64);
                                      if (static_cast<int>(offsets.size()) == failing) {
                                          written = 0;
                                          return false;
                                      }
                                      written = length;
                                      return true;
                                  });
    };

    EXPECT_FALSE(failAt(10));
    ASSERT_EQ(offsets.size(), 10u); // nine pieces went out, the tenth failed, no eleventh
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(offsets[static_cast<std::size_t>(i)], i * 64);
    }
    EXPECT_FALSE(failAt(64));
    EXPECT_TRUE(failAt(0)); // never fails
    EXPECT_EQ(offsets.size(), 64u);
    EXPECT_EQ(offsets.back(), 4032);

    // A piece that reports success but wrote less leaves the block short.
    int calls = 0;
    EXPECT_FALSE(
        klr::WriteInPieces(block.data(), [&](const std::uint8_t *, int length, int &written) {
            written = (++calls == 5) ? length - 1 : length;
            return true;
        }));
}

TEST(UsbPure, PipePathMustFitTheBuffer)
{
    const std::string base = "\\\\?\\usb#vid_1234&pid_5678#0001#{b3f1dcdb}";
    EXPECT_EQ(klr::MakePipePath(base, "PIPE01"), base + "\\PIPE01");
    // 248 + "\" + "PIPE01" is 255 characters and the terminator makes 256.
    EXPECT_TRUE(klr::MakePipePath(std::string(248, 'p'), "PIPE00").has_value());
    EXPECT_FALSE(klr::MakePipePath(std::string(249, 'p'), "PIPE00").has_value());
    EXPECT_FALSE(klr::MakePipePath(std::string(250, 'p'), "PIPE01").has_value());
    EXPECT_TRUE(klr::FitsPathBuffer(std::string(255, 'p')));
    EXPECT_FALSE(klr::FitsPathBuffer(std::string(256, 'p')));
}

TEST(UsbPure, VariantFollowsTheSystemVersion)
{
    using klr::UsbVariant;
    EXPECT_EQ(klr::ChooseUsbVariant(klr::OsVersion{2, 6}), UsbVariant::TwoPipe);
    EXPECT_EQ(klr::ChooseUsbVariant(klr::OsVersion{2, 10}), UsbVariant::TwoPipe);
    EXPECT_EQ(klr::ChooseUsbVariant(klr::OsVersion{2, 5}), UsbVariant::DeviceHandle);
    EXPECT_EQ(klr::ChooseUsbVariant(klr::OsVersion{1, 6}), UsbVariant::DeviceHandle);
    EXPECT_EQ(klr::ChooseUsbVariant(std::nullopt), UsbVariant::None);
}

TEST(UsbPure, NewerSystemsTryOnlyTheTwoPipeDevice)
{
    // The device-handle device would open; the two-pipe one does not. On NT 6.1 the open
    // fails all the same, and the device-handle device is never even made.
    SimUsbInstrument instrument;
    std::shared_ptr<CUsbDeviceSim> twoPipe;
    int deviceHandleMade = 0;
    klr::OsVersion version{2, 6};
    auto factory = klr::MakeVariantFactory(
        [&]() -> std::optional<klr::OsVersion> { return version; },
        [&]() -> std::unique_ptr<IUsbBlockDevice> {
            ++deviceHandleMade;
            return std::make_unique<CUsbDeviceSim>(instrument.Handler());
        },
        SimFactory(instrument, twoPipe, [](CUsbDeviceSim &sim) { sim.SetOpenFails(true); }));

    CDevComm link;
    link.Init(nullptr);
    link.SetUsbDeviceFactory(factory);
    EXPECT_EQ(link.OpenUsb(nullptr), -1);
    EXPECT_EQ(deviceHandleMade, 0);
    EXPECT_NE(twoPipe, nullptr);

    version = {2, 5};
    EXPECT_EQ(link.OpenUsb(nullptr), 1);
    EXPECT_EQ(deviceHandleMade, 1);
    link.CloseUsb();
}

TEST(UsbPure, DeviceIdListIsParsedSafely)
{
    std::vector<std::string> lines;
    klr::SetDiagnosticSink([&](std::string_view text) { lines.emplace_back(text); });
    using klr::UsbId;
    EXPECT_EQ(klr::ParseUsbIds("1234:abcd"), (std::vector<UsbId>{{0x1234, 0xABCD}}));
    EXPECT_EQ(klr::ParseUsbIds(" 0483:5740 , FFFF:0001"),
              (std::vector<UsbId>{{0x0483, 0x5740}, {0xFFFF, 0x0001}}));
    EXPECT_TRUE(lines.empty());
    EXPECT_TRUE(klr::ParseUsbIds("").empty());
    EXPECT_TRUE(klr::ParseUsbIds("  ").empty());
    EXPECT_TRUE(lines.empty());

    // Each bad entry is left out with its own line; good neighbours survive.
    EXPECT_EQ(klr::ParseUsbIds("12345:1,1:2,zz:01,:1,1:,1:-2,0x1:2,,3:4:5,1:2"),
              (std::vector<UsbId>{{1, 2}, {1, 2}}));
    EXPECT_EQ(lines.size(), 8u);
    klr::SetDiagnosticSink({});
}

TEST(UsbPure, ReadSentinelAndOpeningBlock)
{
    klr::UsbBlock block;
    block.fill(0xEE);
    klr::FillReadSentinel(block.data());
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(block.data())), std::string(35, '4'));
    for (std::size_t i = 35; i < block.size(); ++i) {
        ASSERT_EQ(block[i], 0) << i;
    }
    const klr::UsbBlock lan = klr::MakeLanCommandBlock();
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(lan.data())), "LANCOMMAND\n");
    EXPECT_EQ(std::count(lan.begin(), lan.end(), 0), 4096 - 11);
}
