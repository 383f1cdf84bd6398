// What a hostile client may send the share: odd targets, smuggling heads, bodies and heads
// beyond the limits. Judged as bytes first, then over the wire.
#include "CShareServer.h"
#include "Protocol.h"
#include "ShareHttp.h"
#include "ShareTestKit.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

namespace {

share::Verdict JudgeBytes(const QByteArray &bytes, int viewers = 0)
{
    share::RequestHead head;
    if (share::ParseRequestHead(bytes, head) != share::HeadParse::Complete)
        return {-1, share::Route::None, {}};
    return share::Judge(head, viewers);
}

} // namespace

TEST(ShareHead, OnlyTheKnownPathsAsSentAreServed)
{
    EXPECT_EQ(JudgeBytes(GetRequest("/")).route, share::Route::Page);
    EXPECT_EQ(JudgeBytes(GetRequest("/?token=abc")).route, share::Route::Page);
    EXPECT_EQ(JudgeBytes(GetRequest("/screen.jpg")).route, share::Route::Screen);
    EXPECT_EQ(JudgeBytes(UpgradeRequest()).route, share::Route::Live);
    for (const char *target :
         {"/../etc/passwd", "/%2e%2e/%2e%2e/etc/passwd", "/%2E%2E/screen.jpg", "/x/../screen.jpg",
          "//screen.jpg", "/screen.jpg/", "/screen.jpg/..", "/./screen.jpg", "/%73creen.jpg",
          "/screen.jpg%00", "/share.js/../../../../etc/passwd", "/..%2fetc%2fpasswd", "/index.html",
          "/favicon.ico", "/SCREEN.JPG", "/screen.jpg;x"})
        EXPECT_EQ(JudgeBytes(GetRequest(target)).status, 404) << target;
    // Only the origin form: no absolute URLs, no asterisk, nothing without the root.
    for (const char *target : {"http://127.0.0.1/screen.jpg", "*", "screen.jpg", "\\screen.jpg"})
        EXPECT_EQ(JudgeBytes(GetRequest(target)).status, -1) << target;
}

TEST(ShareHead, MethodsBodiesAndUpgradesAreChecked)
{
    const share::Verdict post = JudgeBytes(PostRequest("/screen.jpg", "x"));
    EXPECT_EQ(post.status, 405);
    EXPECT_EQ(post.allow, "GET");
    EXPECT_EQ(JudgeBytes(GetRequest("/api/key")).status, 405);
    EXPECT_EQ(JudgeBytes(PostRequest("/api/key", QByteArray(4096, 'a'))).status, 0);
    EXPECT_EQ(JudgeBytes(PostRequest("/api/key", QByteArray(4097, 'a'))).status, 413);
    EXPECT_EQ(
        JudgeBytes("POST /api/key HTTP/1.1\r\nContent-Length: 999999999999999999\r\n\r\n").status,
        413);
    EXPECT_EQ(JudgeBytes("POST /api/key HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n").status,
              411);
    EXPECT_EQ(JudgeBytes(GetRequest("/live")).status, 426);
    EXPECT_EQ(JudgeBytes(UpgradeRequest("/live"), share::kMaxViewers - 1).status, 0);
    EXPECT_EQ(JudgeBytes(UpgradeRequest("/live"), share::kMaxViewers).status, 503);
    EXPECT_EQ(JudgeBytes(UpgradeRequest("/screen.jpg")).route, share::Route::Screen);
}

TEST(ShareHead, MalformedOrSmugglingHeadsAreRefused)
{
    share::RequestHead head;
    auto parse = [&head](const QByteArray &bytes) { return share::ParseRequestHead(bytes, head); };
    EXPECT_EQ(parse("GET / HTTP/1.1\r\nHost: x\r\n"), share::HeadParse::Incomplete);
    EXPECT_EQ(parse("GET / HTTP/1.1\r\nX: " + QByteArray(share::kMaxHeadBytes, 'a')),
              share::HeadParse::TooLarge);
    EXPECT_EQ(parse("GET / HTTP/1.1\r\nX: " + QByteArray(share::kMaxHeadBytes, 'a') + "\r\n\r\n"),
              share::HeadParse::TooLarge);
    for (const QByteArray &bad : {
             QByteArray("GET / HTTP/2.0\r\n\r\n"),
             QByteArray("GET  / HTTP/1.1\r\n\r\n"),
             QByteArray("GET / HTTP/1.1 \r\n\r\n"),
             QByteArray("G(T / HTTP/1.1\r\n\r\n"),
             QByteArray("GET /\x7f HTTP/1.1\r\n\r\n"),
             QByteArray("GET / HTTP/1.1\r\nBad Name: x\r\n\r\n"),
             QByteArray("GET / HTTP/1.1\r\nX: a\nContent-Length: 5\r\n\r\n"),
             QByteArray("GET / HTTP/1.1\r\nX: a\rb\r\n\r\n"),
             QByteArray("GET / HTTP/1.1\r\nX: a\r\n folded\r\n\r\n"),
             QByteArray("GET / HTTP/1.1\r\nNoColon\r\n\r\n"),
             QByteArray("POST /api/key HTTP/1.1\r\nContent-Length: 5\r\nContent-Length: 6\r\n\r\n"),
             QByteArray("POST /api/key HTTP/1.1\r\nContent-Length: -1\r\n\r\n"),
             QByteArray("POST /api/key HTTP/1.1\r\nContent-Length: 0x10\r\n\r\n"),
             QByteArray("POST /api/key HTTP/1.1\r\nContent-Length: 1234567890123456789\r\n\r\n"),
             QByteArray("\r\n\r\n"),
         })
        EXPECT_EQ(parse(bad), share::HeadParse::Malformed) << bad.toStdString();
    ASSERT_EQ(parse("POST /api/key?token=ab HTTP/1.0\r\ncontent-length:  12 \r\n"
                    "Upgrade: h2c, WebSocket\r\n\r\nbody"),
              share::HeadParse::Complete);
    EXPECT_EQ(head.path, "/api/key");
    EXPECT_EQ(head.query, "token=ab");
    EXPECT_EQ(head.contentLength, 12);
    EXPECT_TRUE(head.upgradeWebSocket);
}

TEST(ShareTexts, KeyTextsTokensAndListenAddresses)
{
    EXPECT_TRUE(share::IsKeyText("KEYP:MODE"));
    EXPECT_TRUE(share::IsKeyText(QByteArray(126, '~')));
    EXPECT_FALSE(share::IsKeyText(QByteArray(127, 'a')));
    EXPECT_FALSE(share::IsKeyText(""));
    EXPECT_FALSE(share::IsKeyText("KEYP\tMODE"));

    const QString a = share::NewToken(), b = share::NewToken();
    EXPECT_EQ(a.size(), 32);
    EXPECT_NE(a, b);
    EXPECT_TRUE(share::TokenMatches(a, a.toLatin1()));
    EXPECT_FALSE(share::TokenMatches(a, a.toLatin1().left(31)));
    EXPECT_FALSE(share::TokenMatches(QString(), ""));
    EXPECT_EQ(share::QueryValue("x=1&token=abc&y", "token"), "abc");
    EXPECT_EQ(share::QueryValue("xtoken=abc", "token"), "");

    QHostAddress address;
    quint16 port = 0;
    QString error;
    ASSERT_TRUE(share::ParseListen("8080", address, port, error));
    EXPECT_EQ(address, QHostAddress(QHostAddress::LocalHost));
    EXPECT_EQ(port, 8080);
    ASSERT_TRUE(share::ParseListen("0.0.0.0:9000", address, port, error));
    EXPECT_EQ(address, QHostAddress(QHostAddress::AnyIPv4));
    ASSERT_TRUE(share::ParseListen("[::1]:0", address, port, error));
    EXPECT_EQ(address, QHostAddress(QHostAddress::LocalHostIPv6));
    EXPECT_EQ(share::ListenText(address, 8080), "[::1]:8080");
    for (const char *bad : {"", "http", "65536", "-1", "+80", "host:80", "::1:80",
                            "1.2.3.4:", "[::1]80", "1.2.3.4:80:80"})
        EXPECT_FALSE(share::ParseListen(bad, address, port, error)) << bad;
}

TEST(ShareServerHostile, OddTargetsAndOversizedRequestsAreAnsweredFromTheHeadAlone)
{
    CShareServer server;
    ASSERT_TRUE(server.Listen(QHostAddress(QHostAddress::LocalHost), 0));
    server.SetControlAllowed(true);
    const quint16 port = server.Port();
    for (const char *target :
         {"/../../../../etc/passwd", "/%2e%2e/%2e%2e/etc/passwd", "/share.js/../../etc/passwd"}) {
        const HttpReply reply = Get(port, target);
        EXPECT_EQ(reply.status, 404) << target;
        EXPECT_FALSE(reply.raw.contains("root:")) << target;
    }
    // A body announced beyond the limit is refused before it is sent.
    const HttpReply big = Beside([port] {
        const int fd = ConnectLoopback(port);
        SendAll(fd, "POST /api/key?token=x HTTP/1.1\r\nContent-Length: 100000000\r\n\r\n" +
                        QByteArray(4096, 'k'));
        const HttpReply reply = ParseReply(ReadToEnd(fd, 3000));
        ::close(fd);
        return reply;
    });
    EXPECT_EQ(big.status, 413);
    EXPECT_EQ(
        Post(port, "/api/key?token=" + server.Token().toLatin1(), QByteArray(5000, 'K')).status,
        413);
    const HttpReply longHead = Get(port, "/api/info?x=" + QByteArray(share::kMaxHeadBytes, 'a'));
    EXPECT_TRUE(longHead.status == 431 || longHead.status == 400) << longHead.status;
    EXPECT_EQ(Beside([port] {
                  return RawHttp(port, "GET /api/info HTTP/1.1\r\nX: a\nY: b\r\n\r\n").status;
              }),
              400);
    // None of it got past the gate, and the server still answers.
    EXPECT_EQ(Get(port, "/api/info").status, 200);
}

// A key of 127 characters fills the 128-byte field together with its line feed and leaves no
// room for the NUL that ends it: the link sends nothing then. Taking such a key would answer
// 202 for a key that never leaves, so the share refuses it as the instrument would.
TEST(RegressShareKeyText, AKeyTheLinkWouldDropIsRefusedNotReportedAsSent)
{
    std::array<std::uint8_t, klr::kTextPayloadSize> payload{};
    ASSERT_FALSE(klr::MakeTextPayload(std::string(127, 'K') + "\n", payload));
    ASSERT_TRUE(klr::MakeTextPayload(std::string(126, 'K') + "\n", payload));

    CShareServer server;
    std::vector<std::string> taken;
    server.SetKeyHandler([&taken](const std::string &text) {
        taken.push_back(text);
        return CShareServer::KeyOutcome::Queued;
    });
    ASSERT_TRUE(server.Listen(QHostAddress(QHostAddress::LocalHost), 0));
    server.SetControlAllowed(true);
    const QByteArray target = "/api/key?token=" + server.Token().toLatin1();
    EXPECT_EQ(Post(server.Port(), target, QByteArray(127, 'K')).status, 400);
    EXPECT_TRUE(taken.empty());
    EXPECT_EQ(Post(server.Port(), target, QByteArray(126, 'K')).status, 202);
    EXPECT_EQ(taken.size(), 1u);
}
