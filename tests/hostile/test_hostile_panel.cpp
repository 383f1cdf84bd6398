// Hostile replies seen through the programs that use the link: the identification through
// the command-line client, and broken pictures through a panel's refresh path.
#include "CCliSession.h"
#include "CImage.h"
#include "CRemoteDlgKKC.h"
#include "CliRunner.h"
#include "PanelHarness.h"
#include "ScriptedPeer.h"

#include <QBuffer>
#include <QFile>
#include <QImageWriter>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <sstream>
#include <string>

using namespace enginetest;

using PanelHarness = BasicPanelHarness<CRemoteDlgKKC>;

namespace {

Bytes Frame(std::uint8_t code, std::uint8_t total, std::uint8_t index, const Bytes &payload)
{
    return klr::EncodeFrame(klr::kCommand, code, total, index, payload);
}

// ---- identification ----

struct IdentCase
{
    const char *name;
    Bytes reply;
    std::string expected;
};

std::string IdentifyAgainst(const Bytes &wire, std::string &error)
{
    ScriptedPeer peer;
    peer.SetResponder([wire](const Request &request) {
        if (request.code != klr::REQ_EQUIP_INFO)
            return std::vector<Step>{};
        return std::vector<Step>{SendStep(wire)};
    });
    CliOptions options;
    options.host = "127.0.0.1";
    options.port = peer.Port();
    CCliSession session(options);
    const bool ok = session.Connect();
    error = session.Error();
    session.Close();
    return ok ? session.Identification() : std::string("<failed>");
}

TEST(HostileIdentification, TheTextEndsAtTheFirstNulOrAtTheReplyEnd)
{
    Bytes longText(klr::kMaxReplyBytes, 'L');
    Bytes longWire;
    for (int i = 0; i < 40; ++i) {
        const Bytes part(longText.begin() + i * 10000, longText.begin() + (i + 1) * 10000);
        const Bytes frame = Frame(klr::REQ_EQUIP_INFO, 40, static_cast<std::uint8_t>(i), part);
        longWire.insert(longWire.end(), frame.begin(), frame.end());
    }
    const std::vector<IdentCase> cases = {
        {"no NUL", Frame(0x50, 1, 0, Bytes{'K', 'L', '5', '6', '1', 'B'}), "KL561B"},
        {"embedded NULs", Frame(0x50, 1, 0, Bytes{'K', 'L', 0, 'x', 0, 0, 'y'}), "KL"},
        {"NUL first", Frame(0x50, 1, 0, Bytes{0, 'K', 'L'}), ""},
        {"empty", Frame(0x50, 1, 0, Bytes{}), ""},
        {"400000 bytes, no NUL", longWire, std::string(klr::kMaxReplyBytes, 'L')},
    };
    for (const IdentCase &c : cases) {
        std::string error;
        EXPECT_EQ(IdentifyAgainst(c.reply, error), c.expected) << c.name << ": " << error;
    }
}

TEST(HostileIdentification, AnIdentificationPastTheReplyBufferFails)
{
    Bytes wire;
    for (int i = 0; i < 41; ++i) {
        const Bytes frame =
            Frame(klr::REQ_EQUIP_INFO, 41, static_cast<std::uint8_t>(i), Bytes(10000, 'M'));
        wire.insert(wire.end(), frame.begin(), frame.end());
    }
    std::string error;
    EXPECT_EQ(IdentifyAgainst(wire, error), "<failed>");
    EXPECT_EQ(error, klr::STR_ERROR_PACKET);
}

// ---- pictures ----

QByteArray Jpeg(const QColor &colour, int width = 64, int height = 48)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(90);
    EXPECT_TRUE(writer.write(image));
    return bytes;
}

// The frame header's height and width set to 65500 x 65500; the data stays small.
QByteArray HugeDeclared(QByteArray jpeg)
{
    const qsizetype sof = jpeg.indexOf(QByteArray("\xFF\xC0", 2));
    EXPECT_GT(sof, 0);
    for (int i = 0; i < 2; ++i) {
        jpeg[sof + 5 + 2 * i] = char(0xFF);
        jpeg[sof + 6 + 2 * i] = char(0xDC);
    }
    return jpeg;
}

QByteArray Png(const QColor &colour)
{
    QImage image(64, 48, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    EXPECT_TRUE(image.save(&buffer, "PNG"));
    return bytes;
}

std::vector<QByteArray> BrokenPictures()
{
    const QByteArray good = Jpeg(Qt::blue);
    return {good.left(good.size() / 2), HugeDeclared(good),
            QByteArray("KEYP:MODE\n not a picture at all"), QByteArray(), Png(Qt::yellow)};
}

TEST(HostilePictures, CImageRefusesEachBrokenPicture)
{
    for (const QByteArray &bytes : BrokenPictures()) {
        CImage image;
        ASSERT_EQ(image.LoadFromData(reinterpret_cast<const unsigned char *>(bytes.constData()),
                                     int(bytes.size())) == 0,
                  false)
            << bytes.size();
        EXPECT_TRUE(image.IsNull());
    }
    const QByteArray good = Jpeg(Qt::green);
    CImage image;
    EXPECT_EQ(image.LoadFromData(reinterpret_cast<const unsigned char *>(good.constData()),
                                 int(good.size())),
              0);
    EXPECT_EQ(image.GetWidth(), 64);
}

TEST(HostilePictures, APanelKeepsItsLastGoodPictureThroughBrokenOnes)
{
    const QByteArray good = Jpeg(Qt::red);
    const std::vector<QByteArray> broken = BrokenPictures();
    std::atomic<int> screens{0};

    ScriptedPeer peer;
    peer.SetResponder([&](const Request &request) {
        if (request.code == klr::REQ_EQUIP_INFO)
            return std::vector<Step>{
                SendStep(Frame(klr::REQ_EQUIP_INFO, 1, 0, Bytes{'K', 'L', '5', '6', '1', 'B', 0}))};
        if (request.code != klr::REQ_SCREEN)
            return std::vector<Step>{};
        const int n = screens++;
        const QByteArray &picture = n == 0 ? good : broken[std::size_t(n - 1) % broken.size()];
        const Bytes bytes(picture.begin(), picture.end());
        return std::vector<Step>{SendStep(Join(ReplyFrames(klr::REQ_SCREEN, bytes, 1000)))};
    });

    PanelHarness h;
    h.Preset("Method", 1);
    h.Preset("IP", "127.0.0.1");
    h.store = std::make_unique<CPrefStore>(h.IniPath());
    h.panel = std::make_unique<CRemoteDlgKKC>(h.store.get(), &h.presenter);
    h.panel->SetLogFolder(h.dir.filePath("log"));
    const std::uint16_t port = peer.Port();
    h.panel->SetLinkSetup([port](CDevComm &link) { link.SetPort(port); });
    h.panel->OnInitDialog();
    ASSERT_TRUE(h.Connect());
    ASSERT_TRUE(h.panel->Link().IsConnected());
    h.panel->OnCommand(ids::IDC_START);

    ASSERT_TRUE(WaitFor([&] { return h.panel->PicturesShown() >= 1; }));
    CImage expected;
    ASSERT_EQ(expected.LoadFromData(reinterpret_cast<const unsigned char *>(good.constData()),
                                    int(good.size())),
              0);
    const int brokenServed = 1 + int(broken.size());
    ASSERT_TRUE(WaitFor([&] { return screens.load() > brokenServed; }, 30000));
    h.panel->OnCommand(ids::IDC_STOP);
    ASSERT_TRUE(WaitFor([&] { return h.panel->Session().m_bScreenReady == 1; }));
    Spin(50);

    EXPECT_EQ(h.panel->PicturesShown(), 1);
    // The panel shows it stretched to its screen, without smoothing.
    EXPECT_EQ(h.panel->ScreenPicture().convertToFormat(QImage::Format_RGB32),
              expected.Image()
                  .scaled(800, 480, Qt::IgnoreAspectRatio, Qt::FastTransformation)
                  .convertToFormat(QImage::Format_RGB32));
    EXPECT_GE(h.LogLines().count("Image Load Failed"), int(broken.size()) - 1);
    EXPECT_TRUE(h.panel->Link().IsConnected());
}

// ---- screenshots through the command-line client ----

// A noisy picture, so that half of its bytes end inside the entropy-coded data.
QByteArray NoiseJpeg(int width, int height)
{
    QRandomGenerator rng(3);
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, 0xFF000000u | (rng.generate() & 0xFFFFFFu));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    EXPECT_TRUE(image.save(&buffer, "JPEG"));
    return bytes;
}

struct Shot
{
    int exitCode = -1;
    std::string err;
    bool written = false;
    QImage png;
};

Shot ScreenshotOf(const QByteArray &picture)
{
    ScriptedPeer peer;
    peer.SetResponder([&](const Request &request) {
        if (request.code == klr::REQ_EQUIP_INFO)
            return std::vector<Step>{
                SendStep(Frame(0x50, 1, 0, Bytes{'K', 'L', '5', '6', '1', 0}))};
        const Bytes bytes(picture.begin(), picture.end());
        return std::vector<Step>{SendStep(Join(ReplyFrames(klr::REQ_SCREEN, bytes, 10000)))};
    });
    QTemporaryDir dir;
    const QString path = dir.filePath("x.png");
    std::ostringstream out, err;
    Shot shot;
    shot.exitCode = RunCli({"--method", "tcp", "--host", "127.0.0.1", "--port",
                            std::to_string(peer.Port()), "screenshot", path.toStdString()},
                           out, err);
    shot.err = err.str();
    shot.written = QFile::exists(path);
    shot.png.load(path, "PNG");
    return shot;
}

TEST(RegressCliScreenshot, APictureTheWindowRefusesFailsWithItsReason)
{
    const QByteArray good = NoiseJpeg(320, 240);
    const Shot truncated = ScreenshotOf(good.left(good.size() / 2));
    EXPECT_EQ(truncated.exitCode, 1);
    EXPECT_EQ(truncated.err.rfind("error: the screen reply is a truncated JPEG image", 0), 0u)
        << truncated.err;
    EXPECT_FALSE(truncated.written);

    const Shot oversize = ScreenshotOf(HugeDeclared(Jpeg(Qt::blue)));
    EXPECT_EQ(oversize.exitCode, 1);
    EXPECT_EQ(oversize.err,
              "error: the screen reply is a JPEG image of 65500 x 65500 pixels, too large for "
              "a screen\n");

    const Shot png = ScreenshotOf(Png(Qt::yellow));
    EXPECT_EQ(png.exitCode, 1);
    EXPECT_EQ(png.err, "error: the screen reply is not a JPEG image\n");

    // A picture lacking only its end marker is whole.
    const Shot noEnd = ScreenshotOf(good.left(good.size() - 2));
    EXPECT_EQ(noEnd.exitCode, 0) << noEnd.err;
    CImage expected;
    ASSERT_EQ(expected.LoadFromData(reinterpret_cast<const unsigned char *>(good.constData()),
                                    int(good.size())),
              0);
    EXPECT_EQ(noEnd.png.convertToFormat(QImage::Format_RGB32), expected.Image());
}

} // namespace
