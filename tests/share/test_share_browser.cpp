// The page in a real browser: headless Chromium opens the share of a KKC panel that runs
// against the simulated instrument, and the test reads the page and works it through the
// browser's DevTools protocol: the picture must change over time, and a key button and a click
// on the picture (the share's token in the address) must reach the instrument.
#include "CRemoteDlgKKC.h"
#include "CShareFeature.h"
#include "PanelHarness.h"
#include "ShareKeys.h"
#include "ShareTestKit.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QWebSocket>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <memory>

namespace {

constexpr const char *kChromium = "/usr/bin/chromium";
// Chromium's own start, bounded: beyond it the browser counts as unable to start.
constexpr int kStartMs = 45000;

// One headless Chromium showing one page, driven over the DevTools protocol.
class CBrowser
{
public:
    ~CBrowser()
    {
        m_socket.close();
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }

    // Starts the browser on `url`. Empty on success, else why the browser could not start;
    // once it runs, whatever fails after is in `failure`.
    QString Open(const QUrl &url, QString &failure)
    {
        if (!QFile::exists(kChromium))
            return QStringLiteral("%1 is not installed").arg(kChromium);
        if (!m_profile.isValid())
            return QStringLiteral("no temporary profile folder");
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start(kChromium,
                        {"--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                         "--no-first-run", "--disable-background-networking",
                         "--disable-component-update", "--disable-sync", "--remote-allow-origins=*",
                         "--window-size=1280,900", "--user-data-dir=" + m_profile.path(),
                         "--remote-debugging-port=0", url.toString()});
        if (!m_process.waitForStarted(10000))
            return QStringLiteral("it does not start: ") + m_process.errorString();
        // The browser names its debugging port in this file once it listens.
        const QString portFile = m_profile.filePath("DevToolsActivePort");
        if (!WaitFor(
                [&] {
                    return QFile(portFile).size() > 0 || m_process.state() == QProcess::NotRunning;
                },
                kStartMs) ||
            m_process.state() == QProcess::NotRunning)
            return QStringLiteral("no DevTools port: ") +
                   QString::fromLocal8Bit(m_process.readAll().right(2000));
        QFile file(portFile);
        file.open(QIODevice::ReadOnly);
        const quint16 port = quint16(file.readLine().trimmed().toUInt());
        // The page target of our address.
        QString target;
        WaitFor(
            [&] {
                const HttpReply list = Get(port, "/json/list");
                for (const QJsonValue &t : QJsonDocument::fromJson(list.body).array()) {
                    const QJsonObject o = t.toObject();
                    if (o["type"] == "page" && o["url"].toString().startsWith(url.toString()))
                        target = o["webSocketDebuggerUrl"].toString();
                }
                return !target.isEmpty();
            },
            kStartMs);
        if (target.isEmpty()) {
            failure = QStringLiteral("the page did not open");
            return {};
        }
        QObject::connect(&m_socket, &QWebSocket::textMessageReceived, [this](const QString &m) {
            const QJsonObject o = QJsonDocument::fromJson(m.toUtf8()).object();
            if (o.contains("id"))
                m_replies[o["id"].toInt()] = o;
        });
        // The browser names its host after the request's Host header, which had no port.
        m_socket.open(
            QUrl(QStringLiteral("ws://127.0.0.1:%1%2").arg(port).arg(QUrl(target).path())));
        if (!WaitFor([&] { return m_socket.state() == QAbstractSocket::ConnectedState; }, 10000))
            failure = QStringLiteral("no DevTools connection to %1: %2")
                          .arg(target, m_socket.errorString());
        return {};
    }

    QJsonObject Call(const QString &method, const QJsonObject &params = {})
    {
        const int id = ++m_id;
        m_socket.sendTextMessage(QString::fromUtf8(
            QJsonDocument(QJsonObject{{"id", id}, {"method", method}, {"params", params}})
                .toJson(QJsonDocument::Compact)));
        WaitFor([&] { return m_replies.count(id) > 0; }, 10000);
        const QJsonObject reply = m_replies[id];
        m_replies.erase(id);
        return reply;
    }

    // The value of a JavaScript expression in the page.
    QJsonValue Eval(const QString &expression)
    {
        return Call("Runtime.evaluate",
                    {{"expression", expression}, {"returnByValue", true}})["result"]
            .toObject()["result"]
            .toObject()["value"];
    }

    void Click(double x, double y)
    {
        for (const char *type : {"mousePressed", "mouseReleased"})
            Call("Input.dispatchMouseEvent",
                 {{"type", type}, {"x", x}, {"y", y}, {"button", "left"}, {"clickCount", 1}});
    }

    QByteArray Screenshot()
    {
        return QByteArray::fromBase64(Call("Page.captureScreenshot", {{"format", "png"}})["result"]
                                          .toObject()["data"]
                                          .toString()
                                          .toLatin1());
    }

private:
    QTemporaryDir m_profile;
    QProcess m_process;
    QWebSocket m_socket;
    int m_id = 0;
    std::map<int, QJsonObject> m_replies;
};

struct Panel : BasicPanelHarness<CRemoteDlgKKC>
{
    CShareFeature *share = nullptr;
};

} // namespace

TEST(ShareBrowser, ThePageShowsTheLiveScreenAndItsKeysAndTouchesReachTheInstrument)
{
    Panel h;
    h.instrument->SetModel("KL535C");
    ASSERT_TRUE(h.StartServer());
    h.Open(1);
    ShareProfile profile;
    profile.family = "530C Series";
    profile.keys = share::KkcKeys();
    profile.acceptsTouch = [] { return true; };
    auto feature = std::make_unique<CShareFeature>(*h.panel, std::move(profile), h.store.get());
    h.share = feature.get();
    h.panel->AddFeature(std::move(feature));
    QString error;
    ASSERT_TRUE(h.share->Start(QHostAddress(QHostAddress::LocalHost), 0, error));
    h.share->SetControlAllowed(true);
    ASSERT_TRUE(h.Run());

    CBrowser browser;
    QString failure;
    if (const QString why = browser.Open(h.share->Server().PageUrl(), failure); !why.isEmpty())
        GTEST_SKIP() << "Chromium cannot start, so the page is not checked in a browser: "
                     << why.toStdString();
    ASSERT_TRUE(failure.isEmpty()) << failure.toStdString();

    auto frames = [&] { return browser.Eval("window.klrShare ? klrShare.frames : 0").toInt(); };
    ASSERT_TRUE(WaitFor([&] { return frames() >= 2; }, 20000));
    const int firstFrames = frames();
    const int firstSum = browser.Eval("klrShare.checksum").toInt();
    ASSERT_TRUE(WaitFor([&] { return frames() >= firstFrames + 2; }, 20000));
    EXPECT_NE(browser.Eval("klrShare.checksum").toInt(), firstSum);
    EXPECT_EQ(browser.Eval("document.getElementById('screen').naturalWidth").toInt(), 800);
    EXPECT_EQ(browser.Eval("document.getElementById('model').textContent").toString(),
              QString::fromStdString(h.instrument->Model()));
    EXPECT_EQ(browser.Eval("document.getElementById('state').textContent").toString(), "Live");
    EXPECT_EQ(browser.Eval("document.querySelectorAll('#keys button').length").toInt(),
              int(share::KkcKeys().size()));

    h.instrument->ClearReceivedCommands();
    browser.Eval("document.querySelector('button[data-command=\"KEYP:MODE\"]').click()");
    ASSERT_TRUE(WaitFor([&] { return h.instrument->ReceivedCommands().size() == 1; }));
    EXPECT_EQ(h.instrument->ReceivedCommands().front(), "KEYP:MODE");

    // A click on the instrument's pixel (200, 120) of the picture as the page shows it
    // (scaled to the window, centred).
    const QJsonObject r =
        QJsonDocument::fromJson(browser
                                    .Eval("JSON.stringify(document.getElementById('screen')"
                                          ".getBoundingClientRect())")
                                    .toString()
                                    .toUtf8())
            .object();
    const double scale = std::min(r["width"].toDouble() / 800, r["height"].toDouble() / 480);
    const double left = r["left"].toDouble() + (r["width"].toDouble() - 800 * scale) / 2;
    const double top = r["top"].toDouble() + (r["height"].toDouble() - 480 * scale) / 2;
    // Mouse events land on whole CSS pixels: the one nearest to the middle of that pixel,
    // and the instrument's pixel under it.
    const double x = std::round(left + 200.5 * scale), y = std::round(top + 120.5 * scale);
    const int px = int(std::floor((x - left) / scale)), py = int(std::floor((y - top) / scale));
    ASSERT_LE(std::abs(px - 200) + std::abs(py - 120), 2);
    browser.Click(x, y);
    ASSERT_TRUE(WaitFor([&] { return h.instrument->ReceivedCommands().size() == 2; }));
    EXPECT_EQ(h.instrument->ReceivedCommands().back(),
              QStringLiteral("KEYP %1,%2").arg(px).arg(py).toStdString());
    EXPECT_EQ(browser.Eval("klrShare.lastKeyStatus").toInt(), 202);
    const char *keysHeight = "document.getElementById('keys').getBoundingClientRect().height";
    EXPECT_GT(browser.Eval(keysHeight).toDouble(), 20);

    if (const char *path = std::getenv("KLR_SHARE_SCREENSHOT")) {
        QFile shot(QString::fromLocal8Bit(path));
        if (shot.open(QIODevice::WriteOnly))
            shot.write(browser.Screenshot());
    }
    // Control taken back: the keys go from every open page at once.
    h.share->SetControlAllowed(false);
    EXPECT_TRUE(WaitFor([&] { return browser.Eval(keysHeight).toDouble() == 0; }, 10000));
}
