// The link object: one per panel window. Turns requests into packets, sends them over
// TCP or USB, collects and reassembles the replies and keeps the last error text.
#pragma once

#include "CInterface.h"
#include "ConnMethod.h"
#include "IDevCommOwner.h"
#include "IUsbBlockDevice.h"
#include "Protocol.h"
#include "SocketHandle.h"

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Outcome of one exchange of the carrier-neutral operations below.
enum class LinkStatus
{
    Complete,
    Failed,   // ErrorText() says why
    NotSent,  // over USB the request block was not written
    Timeout,  // over USB the reader thread never reported
    Cancelled // CancelPending(), or the caller's abort flag
};

class CDevComm
{
public:
    CDevComm();
    ~CDevComm();
    CDevComm(const CDevComm &) = delete;
    CDevComm &operator=(const CDevComm &) = delete;

    // Allocates the three receive buffers. Called once, before any request.
    void Init(IDevCommOwner *owner);

    void SetHostAddress(const std::string &host);
    void SetPort(std::uint16_t port); // 66 unless told otherwise
    void SetConnectTimeoutMs(int ms); // about 10 s by default

    int ConnectTcp();  // 1 connected; 0 failed with STR_DEVCOM_ERR_CHKCABLE
    int ConnectTcp6(); // same, over IPv6
    void Disconnect();
    // Uses an already connected stream socket as the TCP link (linkType 1 or 3), as if
    // ConnectTcp had made it; the link owns it from now on.
    void AttachConnectedSocket(klr::net::SocketHandle s, int linkType);
    int IsConnected() const { return m_bConnected.load(); }
    // The session declares a USB link up or down.
    void SetConnected(int connected) { m_bConnected.store(connected); }

    // TCP requests: always 1; the carrier's result is in m_nLastSend.
    int SendRequest(std::uint8_t command, std::uint8_t code);
    int RequestFile(std::uint8_t command, std::uint8_t code, const std::string &name,
                    std::uint32_t value);
    int SendTextCommand(std::uint8_t command, std::uint8_t code, const std::string &text);

    // -1 failure, 1..99 progress, 100 complete, 90 when nothing is outstanding.
    int PollReply();
    // -1 failure, 2 a packet decoded after a receive in this call, 1 from bytes held.
    int ReceivePacket();

    // Why the last connect or USB open failed, in words with the address, e.g. "Connection
    // refused by 192.168.1.50:66", "No answer from 192.168.1.50:66 within 10 s", "Host name
    // not found", "No USB device configured (set UsbId)". Empty after one that worked.
    std::string LastCause() const;
    // True when the last TCP request or reply saw the peer close the connection or the
    // socket fail (not when the link itself was disconnected meanwhile); reset by every
    // request and connect.
    bool PeerClosed() const { return m_bPeerClosed.load(); }

    const std::uint8_t *GetReplyData() const;
    int GetReplyLength() const;
    void GetErrorText(std::string &text) const;
    std::string ErrorText() const;

    // Length of each of the five receive attempts of a packet (820 ms by default). Bytes are
    // taken the moment they arrive, but an attempt ends at its deadline however many keep
    // trickling in, so one packet gets at most five attempts' time in total (about 4.1 s by
    // default), from a silent peer and a slow one alike; each packet of a reply gets as much.
    void SetReceiveAttemptMs(int ms);

    // USB. The factory decides which device is opened (platform back-end by default).
    void SetUsbDeviceFactory(UsbDeviceFactory factory);
    // "vvvv:pppp[,vvvv:pppp...]": the devices the libusb back-end looks for.
    void SetUsbIds(const std::string &ids);
    // Bound of one block read; a read that times out delivered nothing.
    void SetUsbReadTimeoutMs(int ms);
    int UsbBusy() const { return m_bUsbBusy.load(); }
    int OpenUsb(IDevCommOwner *owner); // 1 opened and reader running; -1 failed
    void CloseUsb();
    int UsbSendPacket(std::uint8_t code, const std::uint8_t *payload, int length, int wakeReader);
    int UsbRequestFile(std::uint8_t code, const std::string &name);
    int UsbSendTextCommand(const std::string &text);
    int UsbReadReply(); // 100 complete; -1 failure
    // Stops the reader thread in order and joins it; the device stays open. OpenUsb,
    // CloseUsb and StopUsbReader wait for a read the reader thread is doing: never call them
    // while holding LockExchange().
    void StopUsbReader();

    // ---- The carrier-neutral operations: each picks TCP or USB by `method` and uses the
    // carrier's own operations above, so bytes and texts are those of the carrier. ----

    // Opens the carrier. TCP: SetHostAddress(address), then ConnectTcp() or ConnectTcp6():
    // 1, or 0 with "STR_DEVCOM_ERR_CHKCABLE". USB: OpenUsb(owner): 1 or -1 (address unused).
    // Clears an earlier CancelPending().
    int Open(ConnMethod method, const std::string &address, IDevCommOwner *owner);

    // The identification exchange. TCP: SendRequest(0x41, REQ_EQUIP_INFO), then PollReply()
    // to completion, under the exchange lock; `sendResult` receives m_nLastSend. USB:
    // UsbSendPacket(REQ_EQUIP_INFO, nullptr, 0, 1) (its result in `sendResult`); the reader
    // thread reads the reply and reports it through the owner's SetScreenReady(1); this waits
    // for the reader at most `usbWaitPauses` pauses of `pauseMs` each.
    // Complete: `reply` holds the reply bytes (over USB possibly none: the caller decides
    // what that means). Failed: the reply failed (over USB: the reader's read failed).
    // NotSent: the USB block was not written. Timeout: the USB reader never reported.
    LinkStatus Identify(ConnMethod method, std::vector<std::uint8_t> &reply, int &sendResult,
                        int usbWaitPauses = 101, int pauseMs = 100);

    // A named file (the screen). TCP: RequestFile(0x41, REQ_SCREEN, name, 400000) and
    // PollReply() to completion; USB: UsbRequestFile(REQ_SCREEN, name) and UsbReadReply().
    // Under the exchange lock. Over TCP, when `abort` is given and reads 1, the transfer ends
    // before the next poll: Cancelled. Complete: the bytes are in `out`.
    LinkStatus FetchFile(ConnMethod method, const std::string &name, std::vector<std::uint8_t> &out,
                         const std::atomic<int> *abort = nullptr);

    // One key text, line feed included, as REQ_CMD. True only when the whole frame left:
    // over TCP judged from the send's real result (waiting up to 2 s in all for room in the
    // socket; a frame that has not left whole by then is a failure), over USB from
    // UsbSendTextCommand.
    bool SendKey(ConnMethod method, const std::string &text);

    // Callable from any thread: a running Open (the TCP connect and its wait, the USB opening
    // pause), Identify or FetchFile gives up within about 50 ms; Open then fails, the others
    // return Cancelled, and so do later ones until the next Open. A USB block read already
    // under way ends first (it is bounded by the USB read time-out).
    void CancelPending();

    // One request/reply exchange is never interleaved with another: hold this lock for
    // "request, poll to completion, copy the reply". Every operation above also takes it
    // for itself, so a key command waits at most one exchange.
    [[nodiscard]] std::unique_lock<std::recursive_mutex> LockExchange();

    int m_nLastSend = 0;
    int m_nOperation = 0;

private:
    // Connect over IPv4 (link type 1) or IPv6 (3); `cancel` may end the wait early.
    int ConnectSocket(int linkType, const std::atomic<bool> *cancel);
    int OpenUsbDevice(IDevCommOwner *owner, bool cancellable);
    // Sleeps `ms`; false when CancelPending() ended the sleep early.
    bool PauseUnlessCancelled(int ms);
    bool Cancelled() const { return m_bCancel.load(); }
    LinkStatus IdentifyTcp(std::vector<std::uint8_t> &reply, int &sendResult);
    LinkStatus IdentifyUsb(std::vector<std::uint8_t> &reply, int &sendResult, int pauses,
                           int pauseMs);
    // PollReply() until complete, failed, cancelled or aborted. Expects the exchange lock.
    LinkStatus PollToEnd(const std::atomic<int> *abort);
    // Copies the reply; expects the exchange lock.
    void CopyReply(std::vector<std::uint8_t> &out) const;
    void EnsureBuffers();
    // The words for the socket's last connect failure.
    std::string ConnectCause() const;
    // A receive or send failed: the peer is gone unless the link was closed meanwhile.
    void NoteSocketFailure();
    // Empties everything a reply is collected in; every request starts from here.
    void ResetReceiveState();
    // Sends one frame; returns its length (0 when it could not be built). The send's own
    // result goes to m_nLastSend. boundMs 0: one look whether the socket takes data, then
    // what fits; above 0: the whole frame, waiting for room at most that long.
    std::size_t SendTcpFrame(std::uint8_t command, std::uint8_t code, const std::uint8_t *payload,
                             std::size_t length, int boundMs);
    // Reads and drops what already waits on the socket, with one diagnostic line.
    void DropStaleBytes();
    // SendTextCommand's and SendKey's work; true when the whole frame left.
    bool SendText(std::uint8_t command, std::uint8_t code, const std::string &text, int boundMs);
    // One chunk from the socket into m_pRecv: bytes received, 0 when the deadline passed
    // with nothing (or CancelPending() was honoured), -1 when the peer closed or the socket
    // failed.
    int ReceiveChunk(std::chrono::steady_clock::time_point deadline);
    void UsbReaderMain();
    // Both expect m_usbLifecycle to be held.
    void StopReaderThread();
    void ReleaseUsbDevice();
    void ClearUsbBusy();
    // UsbSendPacket that also sets m_nOperation (when operation >= 0) once it has the lock;
    // `cancellable`: the wait for a pending read also ends on CancelPending().
    int UsbSend(std::uint8_t code, const std::uint8_t *payload, int length, int wakeReader,
                int operation, bool cancellable);

    // Set by Init and OpenUsb, read by the USB reader thread.
    std::atomic<IDevCommOwner *> m_pOwner{nullptr};
    std::string m_strError;
    std::string m_strCause;
    std::atomic<bool> m_bPeerClosed{false};
    CInterface m_socket;
    std::atomic<int> m_bConnected{0};
    // Mirrors "a TCP socket is open" so that Disconnect can tell without the exchange lock.
    std::atomic<bool> m_bTcpOpen{false};

    // m_pPacket: the scanner's own collection buffer (400000 bytes, allocated with it).
    std::unique_ptr<klr::CPacketScanner> m_pPacket;
    std::vector<std::uint8_t> m_pRecv;
    std::vector<std::uint8_t> m_pReply;
    std::unique_ptr<klr::CReplyAssembler> m_assembler;
    int m_nLeftover = 0;
    int m_nLeftoverPos = 0; // where the leftover bytes start in m_pRecv
    int m_nReplyLength = 0;
    klr::DecodedPacket m_packet;
    std::array<std::uint8_t, klr::kMaxTcpFrame> m_frame{};
    std::array<std::uint8_t, klr::kUsbBlockSize> m_usbBlock{};
    int m_nAttemptMs;

    std::string m_strHost;

    UsbDeviceFactory m_usbFactory;
    std::string m_strUsbIds;
    std::unique_ptr<IUsbBlockDevice> m_pUsbDevice;
    std::atomic<int> m_bUsbBusy{0};
    // Wakes a USB send waiting for m_bUsbBusy to clear.
    std::mutex m_busyMutex;
    std::condition_variable m_busyCleared;
    std::atomic<int> m_nUsbReadTimeoutMs;

    // The reader thread's two events, as flags under one mutex.
    std::mutex m_readerMutex;
    std::condition_variable m_readerWake;
    bool m_bReadRequest = false;
    bool m_bStopReader = false;
    std::thread m_readerThread;
    std::atomic<std::thread::id> m_readerId{};
    // Serialises OpenUsb, CloseUsb and StopUsbReader among themselves.
    std::mutex m_usbLifecycle;

    // CancelPending() and the reader thread's reports both wake waits under this mutex.
    std::atomic<bool> m_bCancel{false};
    // True while an operation that gives up on CancelPending() holds the exchange lock.
    bool m_bHonourCancel = false;
    std::mutex m_waitMutex;
    std::condition_variable m_waitWake;
    // Every reply read the reader thread finishes counts here, with its result.
    std::uint64_t m_nReaderReads = 0;
    int m_nReaderResult = 0;

    mutable std::recursive_mutex m_exchange;
};
