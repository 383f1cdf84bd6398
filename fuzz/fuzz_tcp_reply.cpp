// CDevComm's TCP reply path over a socket pair: the input is what the instrument sends, how
// the stream is cut into receives, when it pauses and whether it hangs up.
//
// Input layout: byte 0 holds flags (bit 0: ask for the identification instead of the screen;
// bits 1..3: how many further requests follow the first; bit 4: the instrument stays silent
// after its last answer, so that the link waits out its receive attempts (else it hangs up);
// bit 5: use the carrier-neutral operations (Identify, FetchFile) instead of the request and
// poll calls; bit 6: a key command before each request). The rest is records. A record is a
// length byte and that many stream bytes (a length byte below 0x80 gives length + 1 bytes,
// 0x80..0xFD give (length - 0x7F) * 512 bytes), or one of two marks: 0xFF ends what the
// instrument sends for this request (the rest is for the next one), 0xFE makes it stall: what
// follows for this request arrives only after the link has given up or completed, as a late
// reply that the next request must not take for its own. Every record arrives as one receive:
// the pair is a SOCK_SEQPACKET one, which keeps message boundaries where a stream would merge
// whatever is queued. Records that do not fit the socket's queue at once are left out.
#include "CDevComm.h"
#include "Diagnostic.h"
#include "Protocol.h"

#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

constexpr std::size_t kMaxInput = 64 * 1024;
constexpr int kMaxRequests = 8;
// Each receive attempt waits this long: a silent or stalled instrument costs five of them.
constexpr int kAttemptMs = 1;
constexpr std::uint8_t kNextRequest = 0xFF;
constexpr std::uint8_t kStall = 0xFE;

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

// What the instrument sends for one request: at once, and late (after a stall).
struct Segment
{
    std::vector<std::span<const std::uint8_t>> now;
    std::vector<std::span<const std::uint8_t>> late;
};

std::vector<Segment> Segments(std::span<const std::uint8_t> data)
{
    std::vector<Segment> segments(1);
    bool stalled = false;
    while (!data.empty()) {
        const std::uint8_t head = data[0];
        data = data.subspan(1);
        if (head == kNextRequest) {
            segments.emplace_back();
            stalled = false;
            continue;
        }
        if (head == kStall) {
            stalled = true;
            continue;
        }
        std::size_t length = head < 0x80 ? std::size_t(head) + 1 : std::size_t(head - 0x7F) * 512;
        length = std::min(length, data.size());
        if (length == 0)
            break;
        (stalled ? segments.back().late : segments.back().now).push_back(data.first(length));
        data = data.subspan(length);
    }
    return segments;
}

bool KnownError(const std::string &text)
{
    return text == klr::STR_ERROR_PACKET || text == klr::STR_ERROR_CHECKSUM ||
           text == klr::STR_ERROR_SEQUENCE || text == klr::STR_ERROR_TIMEOUT;
}

// Queues the records at once, in order, up to the first that does not fit.
void SendRecords(int peer, const std::vector<std::span<const std::uint8_t>> &records)
{
    for (const auto &record : records) {
        const ssize_t n = send(peer, record.data(), record.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n != static_cast<ssize_t>(record.size()))
            return;
    }
}

CDevComm &Link()
{
    static CDevComm *link = [] {
        // The dropped-bytes lines would only fill the fuzzer's output.
        klr::SetDiagnosticSink([](std::string_view) {});
        auto *made = new CDevComm;
        made->Init(nullptr);
        made->SetReceiveAttemptMs(kAttemptMs);
        return made;
    }();
    return *link;
}

// The instrument's side: answers each request (key commands get no answer) with what the
// input holds for it, and hangs up after the last answer when asked to.
void Serve(int peer, const std::vector<Segment> &segments, std::size_t requests, bool hangUp,
           std::atomic<bool> &closed)
{
    std::vector<std::uint8_t> request(klr::kMaxTcpFrame);
    std::size_t answered = 0;
    while (answered < requests) {
        const ssize_t n = recv(peer, request.data(), request.size(), 0);
        if (n <= 0)
            return; // the link's end is gone
        if (n >= 3 && request[2] == klr::REQ_CMD)
            continue;
        if (answered < segments.size())
            SendRecords(peer, segments[answered].now);
        ++answered;
        if (hangUp && (answered == requests || answered == segments.size())) {
            closed = true;
            shutdown(peer, SHUT_WR);
            return;
        }
    }
}

// One request and its reply by the request and poll calls, checking every step.
int ExchangeByPolls(CDevComm &link, bool identify)
{
    if (identify)
        link.SendRequest(klr::kCommand, klr::REQ_EQUIP_INFO);
    else
        link.RequestFile(klr::kCommand, klr::REQ_SCREEN, std::string(klr::kScreenFileName),
                         klr::kMaxScreenSize);
    Check(link.GetReplyLength() == 0);
    int result = 0;
    do {
        result = link.PollReply();
        Check(result == -1 || (result >= 1 && result <= 100));
        const int length = link.GetReplyLength();
        Check(length >= 0 && static_cast<std::size_t>(length) <= klr::kMaxReplyBytes);
    } while (result > 0 && result < 100);
    return result;
}

// The same by the carrier-neutral operations.
int ExchangeByApi(CDevComm &link, bool identify)
{
    std::vector<std::uint8_t> reply{1, 2, 3};
    int sent = 0;
    const LinkStatus status =
        identify ? link.Identify(ConnMethod::TcpIPv4, reply, sent)
                 : link.FetchFile(ConnMethod::TcpIPv4, std::string(klr::kScreenFileName), reply);
    Check(status == LinkStatus::Complete || status == LinkStatus::Failed);
    Check(reply.size() <= klr::kMaxReplyBytes);
    if (status == LinkStatus::Failed) {
        Check(reply.empty());
        return -1;
    }
    Check(static_cast<int>(reply.size()) == link.GetReplyLength());
    return 100;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0 || size > kMaxInput)
        return 0;
    const std::uint8_t flags = data[0];
    const bool identify = (flags & 1) != 0;
    const int requests = 1 + ((flags >> 1) & 7) % kMaxRequests;
    const bool hangUp = (flags & 0x10) == 0;
    const bool api = (flags & 0x20) != 0;
    const bool keys = (flags & 0x40) != 0;
    const std::vector<Segment> segments = Segments({data + 1, size - 1});

    int fds[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET, 0, fds) != 0)
        return 0;
    CDevComm &link = Link();
    link.AttachConnectedSocket(fds[0], 1);
    std::atomic<bool> closed{false};
    std::thread instrument(Serve, fds[1], std::cref(segments), static_cast<std::size_t>(requests),
                           hangUp, std::ref(closed));

    for (int r = 0; r < requests; ++r) {
        if (keys)
            link.SendKey(ConnMethod::TcpIPv4, "KEYP:MODE\n");
        const int result = api ? ExchangeByApi(link, identify) : ExchangeByPolls(link, identify);
        if (result == -1) {
            Check(KnownError(link.ErrorText()));
            // The link only says the peer went away when it did.
            Check(!link.PeerClosed() || closed);
        } else {
            Check(result == 100 && link.GetReplyData() != nullptr);
        }
        // What comes after a stall arrives once the link is done with this request.
        if (static_cast<std::size_t>(r) < segments.size() && !closed)
            SendRecords(fds[1], segments[static_cast<std::size_t>(r)].late);
    }

    link.Disconnect();
    instrument.join();
    close(fds[1]);
    return 0;
}
