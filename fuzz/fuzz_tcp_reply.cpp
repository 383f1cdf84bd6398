// CDevComm's TCP reply path over a socket pair: the input is what the instrument sends and
// how the stream is cut into receives.
//
// Input layout: byte 0 holds flags (bit 0: ask for the identification instead of the screen;
// bits 1..3: how many further requests may follow a finished reply). The rest is records of
// one length byte and that many stream bytes (a length byte below 0x80 gives length + 1
// bytes, above it (length - 0x7F) * 512 bytes). Every record arrives as one receive: the pair
// is a SOCK_SEQPACKET one, which keeps message boundaries where a stream would merge whatever
// is queued.
#include "CDevComm.h"
#include "Protocol.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr std::size_t kMaxInput = 64 * 1024;
constexpr int kMaxRequests = 8;
// Only a guard: every record is queued at once and the sending side closed at the end.
constexpr int kAttemptMs = 1000;

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

std::vector<std::span<const std::uint8_t>> Records(std::span<const std::uint8_t> data)
{
    std::vector<std::span<const std::uint8_t>> records;
    while (!data.empty()) {
        const std::uint8_t head = data[0];
        data = data.subspan(1);
        std::size_t length = head < 0x80 ? std::size_t(head) + 1 : std::size_t(head - 0x7F) * 512;
        length = std::min(length, data.size());
        if (length == 0)
            break;
        records.push_back(data.first(length));
        data = data.subspan(length);
    }
    return records;
}

bool KnownError(const std::string &text)
{
    return text == klr::STR_ERROR_PACKET || text == klr::STR_ERROR_CHECKSUM ||
           text == klr::STR_ERROR_SEQUENCE || text == klr::STR_ERROR_TIMEOUT;
}

// The socket pair keeps message boundaries, so every record arrives as one receive however
// many wait in the queue. Sends what it can at once; `rest` is what did not fit.
std::size_t SendRecords(int peer, const std::vector<std::span<const std::uint8_t>> &records,
                        std::size_t first, int flags)
{
    std::size_t i = first;
    for (; i < records.size(); ++i) {
        const ssize_t n = send(peer, records[i].data(), records[i].size(), MSG_NOSIGNAL | flags);
        if (n != static_cast<ssize_t>(records[i].size()))
            break;
    }
    return i;
}

CDevComm &Link()
{
    static CDevComm *link = [] {
        auto *made = new CDevComm;
        made->Init(nullptr);
        made->SetReceiveAttemptMs(kAttemptMs);
        return made;
    }();
    return *link;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0 || size > kMaxInput)
        return 0;
    const std::uint8_t flags = data[0];
    const auto records = Records({data + 1, size - 1});

    int fds[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET, 0, fds) != 0)
        return 0;
    CDevComm &link = Link();
    link.AttachConnectedSocket(fds[0], 1);

    // Most inputs fit the socket's queue; a writer thread blocks on the rest, and ends when
    // the link's end is closed.
    std::thread writer;
    const std::size_t queued = SendRecords(fds[1], records, 0, MSG_DONTWAIT);
    if (queued < records.size()) {
        writer = std::thread([&records, queued, peer = fds[1]] {
            SendRecords(peer, records, queued, 0);
            shutdown(peer, SHUT_WR);
        });
    } else {
        shutdown(fds[1], SHUT_WR);
    }

    const int requests = 1 + ((flags >> 1) & 7) % kMaxRequests;
    for (int r = 0; r < requests; ++r) {
        if ((flags & 1) != 0)
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
        if (result == -1) {
            Check(KnownError(link.ErrorText()));
            if (link.ErrorText() == klr::STR_ERROR_TIMEOUT)
                break; // the stream is used up
        } else {
            Check(link.GetReplyData() != nullptr);
        }
    }

    link.Disconnect();
    if (writer.joinable())
        writer.join();
    close(fds[1]);
    return 0;
}
