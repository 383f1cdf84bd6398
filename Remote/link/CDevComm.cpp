#include "CDevComm.h"

#include "Diagnostic.h"
#include "NetCompat.h"
#include "UsbPlatform.h"
#include "UsbPure.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <span>
#include <system_error>

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char *kDefaultHost = "127.0.0.1";
constexpr std::size_t kBufferSize = 400000;

// Link types of the socket object (0: none).
constexpr int kLinkIPv4 = 1;
constexpr int kLinkIPv6 = 3;

// Kinds of the outstanding request (0: none yet).
constexpr int kOperationConnect = 1;
constexpr int kOperationNamed = 3;
constexpr int kOperationPlain = 80;
constexpr int kProgressIdle = 90;
constexpr int kProgressComplete = 100;

// A packet gets five receive attempts; each waits for data at most as long as 41 tries of
// a 10 ms wait and a 10 ms pause would.
constexpr int kReceiveAttempts = 5;
constexpr int kDefaultAttemptMs = 41 * (10 + 10);

// A USB send waits as long as twelve pauses of 100 ms for a reply read that is about to
// start, but goes ahead the moment that read has its first block.
constexpr auto kUsbBusyWait = std::chrono::milliseconds(12 * 100);

// A key waits this long in all for room in the socket; a key that has not left whole by
// then has failed.
constexpr int kKeySendMs = 2000;

// How soon a wait notices CancelPending().
constexpr int kCancelSliceMs = 50;
// A reply has at most 255 packets and every progress report takes at least one.
constexpr int kMaxPolls = klr::kMaxReplyPackets + 1;

// Stale bytes are read in at most this many receives before a request (each up to the
// receive buffer's size), so that a peer that never stops sending cannot hold a request up.
constexpr int kMaxStaleReads = 16;

// Why a connect failed, in words.
constexpr const char *kCauseRefused = "Connection refused by ";
constexpr const char *kCauseNoAnswer = "No answer from ";
constexpr const char *kCauseNameNotFound = "Host name not found";
constexpr const char *kCauseNoIPv6 = "No IPv6 address for ";
constexpr const char *kCauseAlreadyOpen = "A connection is already open";
constexpr const char *kCauseCancelled = "Connect cancelled";
constexpr const char *kCauseOther = "Cannot connect to ";
constexpr const char *kCauseNoUsbIds = "No USB device configured (set UsbId)";
constexpr const char *kCauseNoUsbDevice = "No USB instrument found";
constexpr const char *kCauseNoUsbReader = "The USB reader could not be started";

constexpr const char *kDroppedStale = "Dropped %d stale bytes before a request\n";
constexpr const char *kTextTooLong = "Command text too long for one packet (%zu characters)\n";
constexpr const char *kNoUsbDevice = "USB: no device for this system\n";
constexpr const char *kUsbReopenFromReader = "USB: cannot reopen from the reader thread\n";
constexpr const char *kUsbThreadFailed = "USB: the reader thread could not be started\n";

bool IsTcpLink(int linkType)
{
    return linkType == kLinkIPv4 || linkType == kLinkIPv6;
}

} // namespace

CDevComm::CDevComm()
    : m_nAttemptMs(kDefaultAttemptMs), m_strHost(kDefaultHost),
      m_nUsbReadTimeoutMs(klr::kUsbReadTimeoutMs)
{}

CDevComm::~CDevComm()
{
    std::lock_guard life(m_usbLifecycle);
    StopReaderThread();
    auto lock = LockExchange();
    ReleaseUsbDevice();
}

std::unique_lock<std::recursive_mutex> CDevComm::LockExchange()
{
    return std::unique_lock<std::recursive_mutex>(m_exchange);
}

void CDevComm::EnsureBuffers()
{
    if (m_pPacket) {
        return;
    }
    m_pPacket = std::make_unique<klr::CPacketScanner>();
    m_pRecv.assign(kBufferSize, 0);
    m_pReply.assign(kBufferSize, 0);
    m_assembler = std::make_unique<klr::CReplyAssembler>(std::span<std::uint8_t>(m_pReply));
}

void CDevComm::Init(IDevCommOwner *owner)
{
    auto lock = LockExchange();
    EnsureBuffers();
    m_pOwner = owner;
}

void CDevComm::SetHostAddress(const std::string &host)
{
    auto lock = LockExchange();
    m_strHost = host;
}

void CDevComm::SetPort(std::uint16_t port)
{
    m_socket.SetPort(port);
}

void CDevComm::SetConnectTimeoutMs(int ms)
{
    m_socket.SetConnectTimeoutMs(ms);
}

void CDevComm::SetReceiveAttemptMs(int ms)
{
    auto lock = LockExchange();
    m_nAttemptMs = std::max(ms, 1);
}

int CDevComm::ConnectTcp()
{
    return ConnectSocket(kLinkIPv4, nullptr);
}

int CDevComm::ConnectTcp6()
{
    return ConnectSocket(kLinkIPv6, nullptr);
}

int CDevComm::ConnectSocket(int linkType, const std::atomic<bool> *cancel)
{
    auto lock = LockExchange();
    m_nOperation = kOperationConnect;
    m_nLeftover = 0;
    m_socket.m_nLinkType = linkType;
    m_bPeerClosed = false;
    const bool connected = linkType == kLinkIPv6 ? m_socket.ConnectIPv6(m_strHost, cancel)
                                                 : m_socket.ConnectIPv4(m_strHost, cancel);
    m_bTcpOpen = m_socket.IsOpen();
    if (!connected) {
        m_strError = klr::STR_DEVCOM_ERR_CHKCABLE;
        m_strCause = ConnectCause();
        return 0;
    }
    m_strCause.clear();
    m_bConnected = 1;
    return 1;
}

std::string CDevComm::ConnectCause() const
{
    // The address as typed, with the port; an IPv6 address in brackets so that its colons
    // are not taken for the port's.
    const std::string port = std::to_string(m_socket.Port());
    const std::string address = m_strHost.find(':') != std::string::npos
                                    ? "[" + m_strHost + "]:" + port
                                    : m_strHost + ":" + port;
    const int error = m_socket.LastConnectError();
    switch (m_socket.LastConnectFailure()) {
    case CSocketComm::ConnectFailure::None:
        return {};
    case CSocketComm::ConnectFailure::AlreadyOpen:
        return kCauseAlreadyOpen;
    case CSocketComm::ConnectFailure::NameNotFound:
        return kCauseNameNotFound;
    case CSocketComm::ConnectFailure::NoIPv6Address:
        return kCauseNoIPv6 + m_strHost;
    case CSocketComm::ConnectFailure::Refused:
        return kCauseRefused + address;
    case CSocketComm::ConnectFailure::TimedOut: {
        const int ms = m_socket.ConnectTimeoutMs();
        char seconds[32];
        if (ms % 1000 == 0)
            std::snprintf(seconds, sizeof seconds, "%d", ms / 1000);
        else
            std::snprintf(seconds, sizeof seconds, "%.1f", ms / 1000.0);
        return kCauseNoAnswer + address + " within " + seconds + " s";
    }
    case CSocketComm::ConnectFailure::Cancelled:
        return kCauseCancelled;
    case CSocketComm::ConnectFailure::Other:
        break;
    }
    std::string text = klr::net::ErrorText(error);
    while (!text.empty() &&
           (std::isspace(static_cast<unsigned char>(text.back())) || text.back() == '.'))
        text.pop_back();
    return std::string(kCauseOther) + address + " (error " + std::to_string(error) +
           (text.empty() ? "" : ": " + text) + ")";
}

std::string CDevComm::LastCause() const
{
    auto lock = std::unique_lock(m_exchange);
    return m_strCause;
}

void CDevComm::NoteSocketFailure()
{
    // Our own Disconnect also ends waits with a failure; that is no loss of the peer.
    if (m_socket.IsOpen() && !m_socket.ShutdownRequested()) {
        m_bPeerClosed = true;
    }
}

void CDevComm::AttachConnectedSocket(klr::net::SocketHandle s, int linkType)
{
    auto lock = LockExchange();
    m_nOperation = kOperationConnect;
    m_nLeftover = 0;
    m_socket.m_nLinkType = IsTcpLink(linkType) ? linkType : kLinkIPv4;
    m_socket.Attach(s);
    m_bTcpOpen = m_socket.IsOpen();
    m_bConnected = m_bTcpOpen ? 1 : 0;
}

void CDevComm::Disconnect()
{
    // The window thread calls this while the refresh worker may be waiting for a reply:
    // shutting the socket down first wakes that wait and fails the exchange at once, so
    // the lock below is free within moments instead of after the reply time-out.
    if (m_bTcpOpen.load()) {
        m_socket.Shutdown();
        auto lock = LockExchange();
        if (IsTcpLink(m_socket.m_nLinkType)) {
            m_socket.Close(false);
        }
        m_bTcpOpen = m_socket.IsOpen();
    }
    m_bConnected = 0;
}

void CDevComm::ResetReceiveState()
{
    EnsureBuffers();
    m_pPacket->Reset();
    m_assembler->Begin();
    m_nLeftover = 0;
    m_nLeftoverPos = 0;
    m_nReplyLength = 0;
}

std::size_t CDevComm::SendTcpFrame(std::uint8_t command, std::uint8_t code,
                                   const std::uint8_t *payload, std::size_t length, int boundMs)
{
    ResetReceiveState();
    const std::span<const std::uint8_t> body(payload, length);
    std::size_t frameLength = 0;
    if (command == klr::kCommand) {
        frameLength = klr::EncodeRequest(code, body, m_frame);
    } else {
        const auto frame = klr::EncodeFrame(command, code, 1, 0, body);
        if (frame.size() <= m_frame.size()) {
            std::copy(frame.begin(), frame.end(), m_frame.begin());
            frameLength = frame.size();
        }
    }
    int result = 0;
    m_bPeerClosed = false;
    if (frameLength > 0 && IsTcpLink(m_socket.m_nLinkType)) {
        DropStaleBytes();
        result = boundMs > 0 ? m_socket.SendAllWithin(m_frame.data(), static_cast<int>(frameLength),
                                                      boundMs)
                             : m_socket.SendBuffer(m_frame.data(), static_cast<int>(frameLength));
    }
    if (result < 0) {
        NoteSocketFailure();
    }
    m_nLastSend = result;
    m_nLeftover = 0;
    return frameLength;
}

void CDevComm::DropStaleBytes()
{
    // Whatever waits on the socket now came before the request, so it answers none of ours
    // (a reply that came after its request had failed, or one nobody asked for); taken as
    // the reply, it would shift every later one by one.
    int dropped = 0;
    for (int read = 0; read < kMaxStaleReads; ++read) {
        const int n = m_socket.RecvWithTimeout(0, static_cast<int>(m_pRecv.size()), m_pRecv.data());
        if (n < 0) {
            NoteSocketFailure();
        }
        if (n <= 0) {
            break;
        }
        dropped += n;
    }
    if (dropped > 0) {
        klr::DiagnosticF(kDroppedStale, dropped);
    }
}

int CDevComm::SendRequest(std::uint8_t command, std::uint8_t code)
{
    auto lock = LockExchange();
    m_nOperation = kOperationPlain;
    SendTcpFrame(command, code, nullptr, 0, 0);
    return 1;
}

int CDevComm::RequestFile(std::uint8_t command, std::uint8_t code, const std::string &name,
                          std::uint32_t value)
{
    auto lock = LockExchange();
    m_nOperation = kOperationNamed;
    const auto payload = klr::MakeNamedPayload(name, value);
    SendTcpFrame(command, code, payload.data(), payload.size(), 0);
    return 1;
}

int CDevComm::SendTextCommand(std::uint8_t command, std::uint8_t code, const std::string &text)
{
    SendText(command, code, text, 0);
    return 1;
}

bool CDevComm::SendText(std::uint8_t command, std::uint8_t code, const std::string &text,
                        int boundMs)
{
    auto lock = LockExchange();
    m_nOperation = kOperationNamed;
    std::array<std::uint8_t, klr::kTextPayloadSize> payload{};
    if (!klr::MakeTextPayload(text, payload)) {
        // A cut command could mean something else to the instrument: send nothing.
        klr::DiagnosticF(kTextTooLong, text.size());
        ResetReceiveState();
        m_nLastSend = 0;
        return false;
    }
    const std::size_t frameLength =
        SendTcpFrame(command, code, payload.data(), payload.size(), boundMs);
    return frameLength > 0 && m_nLastSend == static_cast<int>(frameLength);
}

int CDevComm::ReceiveChunk(Clock::time_point deadline)
{
    if (!IsTcpLink(m_socket.m_nLinkType)) {
        return -1;
    }
    for (;;) {
        const auto left = deadline - Clock::now();
        if (left <= Clock::duration::zero() || (m_bHonourCancel && Cancelled())) {
            return 0;
        }
        // What has arrived already is taken without a wait.
        const int n = m_socket.RecvNow(static_cast<int>(m_pRecv.size()), m_pRecv.data());
        if (n < 0) {
            NoteSocketFailure();
        }
        if (n != 0) {
            return n;
        }
        auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
        if (m_bHonourCancel) {
            ms = std::min<decltype(ms)>(ms, kCancelSliceMs);
        }
        m_socket.WaitReadable(static_cast<int>(ms));
    }
}

int CDevComm::ReceivePacket()
{
    auto lock = LockExchange();
    EnsureBuffers();
    m_pPacket->Reset();
    bool received = false;
    for (int attempt = 0; attempt < kReceiveAttempts && !(m_bHonourCancel && Cancelled());
         ++attempt) {
        // Data is taken the moment it arrives, until the attempt's deadline: a packet that
        // is still incomplete then goes on in the next attempt, up to five.
        const auto deadline = Clock::now() + std::chrono::milliseconds(m_nAttemptMs);
        for (;;) {
            const std::uint8_t *data = nullptr;
            int length = 0;
            if (m_nLeftover > 0) {
                data = m_pRecv.data() + m_nLeftoverPos;
                length = m_nLeftover;
                m_nLeftover = 0;
                m_nLeftoverPos = 0;
            } else {
                length = ReceiveChunk(deadline);
                if (length <= 0) {
                    break;
                }
                received = true;
                data = m_pRecv.data();
            }
            std::size_t consumed = 0;
            const auto result = m_pPacket->Feed({data, static_cast<std::size_t>(length)}, consumed);
            if (result == klr::CPacketScanner::Result::Error) {
                m_strError = m_pPacket->Error();
                return -1;
            }
            if (result == klr::CPacketScanner::Result::Packet) {
                const auto error = klr::DecodePacket(m_pPacket->Packet(), m_packet);
                if (!error.empty()) {
                    m_strError = error;
                    return -1;
                }
                if (consumed < static_cast<std::size_t>(length)) {
                    m_nLeftoverPos =
                        static_cast<int>(data - m_pRecv.data()) + static_cast<int>(consumed);
                    m_nLeftover = length - static_cast<int>(consumed);
                }
                return received ? 2 : 1;
            }
        }
    }
    m_strError = klr::STR_ERROR_TIMEOUT;
    return -1;
}

int CDevComm::PollReply()
{
    auto lock = LockExchange();
    if (m_nOperation != kOperationConnect && m_nOperation != kOperationNamed &&
        m_nOperation != kOperationPlain) {
        return kProgressIdle;
    }
    for (;;) {
        const int received = ReceivePacket();
        if (received < 0) {
            return -1;
        }
        const auto result = m_assembler->Add(m_packet);
        m_nReplyLength = static_cast<int>(m_assembler->Length());
        if (result == klr::CReplyAssembler::Result::Error) {
            m_strError = m_assembler->Error();
            return -1;
        }
        if (result == klr::CReplyAssembler::Result::Complete) {
            return kProgressComplete;
        }
        // Progress is reported once the received bytes are used up: packets that came in
        // the same chunk are taken at once, so a reply that arrived whole completes in one
        // call.
        if (received == 2 && m_nLeftover == 0) {
            return m_assembler->Progress();
        }
    }
}

const std::uint8_t *CDevComm::GetReplyData() const
{
    auto lock = std::unique_lock(m_exchange);
    return m_pReply.data();
}

int CDevComm::GetReplyLength() const
{
    auto lock = std::unique_lock(m_exchange);
    return m_nReplyLength;
}

void CDevComm::GetErrorText(std::string &text) const
{
    auto lock = std::unique_lock(m_exchange);
    text = m_strError;
}

std::string CDevComm::ErrorText() const
{
    auto lock = std::unique_lock(m_exchange);
    return m_strError;
}

// ---- USB ----

void CDevComm::SetUsbDeviceFactory(UsbDeviceFactory factory)
{
    std::lock_guard life(m_usbLifecycle);
    m_usbFactory = std::move(factory);
}

void CDevComm::SetUsbIds(const std::string &ids)
{
    std::lock_guard life(m_usbLifecycle);
    m_strUsbIds = ids;
}

void CDevComm::SetUsbReadTimeoutMs(int ms)
{
    m_nUsbReadTimeoutMs = std::max(ms, 0);
}

void CDevComm::ReleaseUsbDevice()
{
    if (m_pUsbDevice) {
        m_pUsbDevice->Close();
        m_pUsbDevice.reset();
    }
}

void CDevComm::ClearUsbBusy()
{
    {
        std::lock_guard busy(m_busyMutex);
        m_bUsbBusy = 0;
    }
    m_busyCleared.notify_all();
}

void CDevComm::StopReaderThread()
{
    if (!m_readerThread.joinable()) {
        return;
    }
    {
        std::lock_guard lock(m_readerMutex);
        m_bStopReader = true;
    }
    m_readerWake.notify_all();
    if (m_readerId.load() == std::this_thread::get_id()) {
        // Asked from the reader itself (through the owner's callback): it ends once the
        // callback returns and is joined by the next OpenUsb, CloseUsb or the destructor.
        return;
    }
    m_readerThread.join();
    m_readerId = std::thread::id();
    std::lock_guard lock(m_readerMutex);
    m_bStopReader = false;
    m_bReadRequest = false;
}

void CDevComm::StopUsbReader()
{
    if (m_readerId.load() == std::this_thread::get_id()) {
        std::lock_guard lock(m_readerMutex);
        m_bStopReader = true;
        return;
    }
    std::lock_guard life(m_usbLifecycle);
    StopReaderThread();
}

int CDevComm::OpenUsb(IDevCommOwner *owner)
{
    return OpenUsbDevice(owner, false);
}

int CDevComm::OpenUsbDevice(IDevCommOwner *owner, bool cancellable)
{
    std::lock_guard life(m_usbLifecycle);
    StopReaderThread();
    if (m_readerThread.joinable()) {
        // Asked from the reader thread itself, which cannot be replaced while it runs.
        klr::Diagnostic(kUsbReopenFromReader);
        return -1;
    }
    {
        auto lock = LockExchange();
        EnsureBuffers();
        ReleaseUsbDevice();
        m_pOwner = owner;
        {
            std::lock_guard reader(m_readerMutex);
            m_bReadRequest = false;
            m_bStopReader = false;
        }
        ClearUsbBusy();

        const bool needsIds = !m_usbFactory && PlatformUsbNeedsIds() &&
                              m_strUsbIds.find_first_not_of(" \t,") == std::string::npos;
        std::unique_ptr<IUsbBlockDevice> device =
            m_usbFactory ? m_usbFactory() : CreatePlatformUsbDevice(m_strUsbIds);
        if (!device) {
            klr::Diagnostic(kNoUsbDevice);
            m_strCause = needsIds ? kCauseNoUsbIds : kCauseNoUsbDevice;
            return -1;
        }
        if (!device->Open()) {
            m_strCause = needsIds ? kCauseNoUsbIds : kCauseNoUsbDevice;
            return -1;
        }
        m_pUsbDevice = std::move(device);

        // The instrument expects this unframed block first; no reply comes for it.
        const klr::UsbBlock lanCommand = klr::MakeLanCommandBlock();
        if (const int pause = m_pUsbDevice->OpenPauseMs(); pause > 0) {
            if (!cancellable) {
                std::this_thread::sleep_for(std::chrono::milliseconds(pause));
            } else if (!PauseUnlessCancelled(pause)) {
                ReleaseUsbDevice();
                m_strCause = kCauseCancelled;
                return -1;
            }
        }
        m_pUsbDevice->WriteBlock(lanCommand.data());
        m_strCause.clear();
    }
    try {
        m_readerThread = std::thread(&CDevComm::UsbReaderMain, this);
    } catch (const std::system_error &) {
        klr::Diagnostic(kUsbThreadFailed);
        auto lock = LockExchange();
        m_strCause = kCauseNoUsbReader;
        ReleaseUsbDevice();
        m_bConnected = 0;
        return -1;
    }
    return 1;
}

void CDevComm::CloseUsb()
{
    std::lock_guard life(m_usbLifecycle);
    StopReaderThread();
    auto lock = LockExchange();
    ReleaseUsbDevice();
    m_bConnected = 0;
}

void CDevComm::UsbReaderMain()
{
    m_readerId = std::this_thread::get_id();
    {
        auto lock = LockExchange();
        if (!m_pUsbDevice) {
            return;
        }
    }
    for (;;) {
        {
            std::unique_lock lock(m_readerMutex);
            m_readerWake.wait(lock, [this] { return m_bStopReader || m_bReadRequest; });
            if (m_bStopReader) {
                return;
            }
            m_bReadRequest = false;
        }
        const int result = UsbReadReply();
        if (result > 0) {
            if (IDevCommOwner *owner = m_pOwner.load()) {
                owner->SetScreenReady(1);
            }
        }
        {
            std::lock_guard wait(m_waitMutex);
            ++m_nReaderReads;
            m_nReaderResult = result;
        }
        m_waitWake.notify_all();
    }
}

int CDevComm::UsbSendPacket(std::uint8_t code, const std::uint8_t *payload, int length,
                            int wakeReader)
{
    return UsbSend(code, payload, length, wakeReader, -1, false);
}

int CDevComm::UsbSend(std::uint8_t code, const std::uint8_t *payload, int length, int wakeReader,
                      int operation, bool cancellable)
{
    // A reply read about to start holds the device; wait for it a little, then give up
    // and clear the flag so that the next send is not held up again.
    {
        std::unique_lock busy(m_busyMutex);
        const bool cleared = m_busyCleared.wait_for(busy, kUsbBusyWait, [&] {
            return m_bUsbBusy.load() != 1 || (cancellable && Cancelled());
        });
        if (cancellable && Cancelled()) {
            return 0;
        }
        if (!cleared) {
            m_bUsbBusy = 0;
            return 0;
        }
    }

    auto lock = LockExchange();
    if (operation >= 0) {
        m_nOperation = operation;
    }
    if (!m_pUsbDevice || length < 0 || (length > 0 && payload == nullptr)) {
        return 0;
    }
    ResetReceiveState();
    m_usbBlock.fill(0);
    const std::size_t frameLength =
        klr::EncodeRequest(code, {payload, static_cast<std::size_t>(length)}, m_usbBlock);
    const bool written = frameLength > 0 && m_pUsbDevice->WriteBlock(m_usbBlock.data());
    if (wakeReader == 1) {
        {
            std::lock_guard reader(m_readerMutex);
            m_bReadRequest = true;
        }
        m_readerWake.notify_all();
    }
    m_nLeftover = 0;
    return written ? 1 : 0;
}

int CDevComm::UsbRequestFile(std::uint8_t code, const std::string &name)
{
    const auto payload = klr::MakeNamedPayload(name, klr::kMaxScreenSize);
    return UsbSend(code, payload.data(), static_cast<int>(payload.size()), 0, kOperationNamed,
                   m_bHonourCancel);
}

int CDevComm::UsbSendTextCommand(const std::string &text)
{
    std::array<std::uint8_t, klr::kTextPayloadSize> payload{};
    if (!klr::MakeTextPayload(text, payload)) {
        klr::DiagnosticF(kTextTooLong, text.size());
        return 0;
    }
    return UsbSend(klr::REQ_CMD, payload.data(), static_cast<int>(payload.size()), 0,
                   kOperationNamed, false);
}

int CDevComm::UsbReadReply()
{
    auto lock = LockExchange();
    if (!m_pUsbDevice) {
        return -1;
    }
    EnsureBuffers();
    m_assembler->Begin();
    m_nReplyLength = 0;
    m_bUsbBusy = 1;
    bool first = true;
    for (;;) {
        if (m_bHonourCancel && Cancelled()) {
            if (first) {
                ClearUsbBusy();
            }
            return -1;
        }
        klr::FillReadSentinel(m_usbBlock.data());
        const bool delivered = m_pUsbDevice->ReadBlock(m_usbBlock.data(), m_nUsbReadTimeoutMs);
        if (first) {
            ClearUsbBusy();
            first = false;
        }
        if (!delivered) {
            m_strError = klr::STR_ERROR_PACKET;
            return -1;
        }
        // One packet per block, starting at byte 0; whatever follows its end is padding.
        m_pPacket->Reset();
        std::size_t consumed = 0;
        const auto scanned = m_pPacket->Feed(m_usbBlock, consumed);
        if (scanned == klr::CPacketScanner::Result::Error) {
            m_strError = m_pPacket->Error();
            return -1;
        }
        if (scanned == klr::CPacketScanner::Result::NeedMore) {
            m_pPacket->Reset();
            m_strError = klr::STR_ERROR_PACKET;
            return -1;
        }
        if (const auto error = klr::DecodePacket(m_pPacket->Packet(), m_packet); !error.empty()) {
            m_strError = error;
            return -1;
        }
        const auto added = m_assembler->Add(m_packet);
        m_nReplyLength = static_cast<int>(m_assembler->Length());
        if (added == klr::CReplyAssembler::Result::Error) {
            m_strError = m_assembler->Error();
            return -1;
        }
        if (added == klr::CReplyAssembler::Result::Complete) {
            return kProgressComplete;
        }
    }
}

// ---- Carrier-neutral operations ----

namespace {

// Marks the operations that give up on CancelPending() while they hold the exchange lock.
class HonourCancel
{
public:
    explicit HonourCancel(bool &flag) : m_flag(flag), m_previous(flag) { m_flag = true; }
    ~HonourCancel() { m_flag = m_previous; }
    HonourCancel(const HonourCancel &) = delete;
    HonourCancel &operator=(const HonourCancel &) = delete;

private:
    bool &m_flag;
    bool m_previous;
};

} // namespace

void CDevComm::CancelPending()
{
    {
        std::lock_guard wait(m_waitMutex);
        m_bCancel = true;
    }
    m_waitWake.notify_all();
    {
        std::lock_guard busy(m_busyMutex);
    }
    m_busyCleared.notify_all();
}

bool CDevComm::PauseUnlessCancelled(int ms)
{
    std::unique_lock wait(m_waitMutex);
    return !m_waitWake.wait_for(wait, std::chrono::milliseconds(std::max(ms, 0)),
                                [this] { return Cancelled(); });
}

int CDevComm::Open(ConnMethod method, const std::string &address, IDevCommOwner *owner)
{
    {
        std::lock_guard wait(m_waitMutex);
        m_bCancel = false;
    }
    if (method == ConnMethod::Usb) {
        const int opened = OpenUsbDevice(owner, true);
        if (opened == 1 && Cancelled()) {
            CloseUsb();
            auto lock = LockExchange();
            m_strCause = kCauseCancelled;
            return -1;
        }
        return opened;
    }
    SetHostAddress(address);
    const int connected =
        ConnectSocket(method == ConnMethod::TcpIPv6 ? kLinkIPv6 : kLinkIPv4, &m_bCancel);
    if (connected == 1 && Cancelled()) {
        // Given up on while the answer came: the caller has abandoned this connection.
        Disconnect();
        auto lock = LockExchange();
        m_strError = klr::STR_DEVCOM_ERR_CHKCABLE;
        m_strCause = kCauseCancelled;
        return 0;
    }
    return connected;
}

void CDevComm::CopyReply(std::vector<std::uint8_t> &out) const
{
    const auto length = static_cast<std::size_t>(std::max(m_nReplyLength, 0));
    out.assign(m_pReply.begin(), m_pReply.begin() + static_cast<std::ptrdiff_t>(length));
}

LinkStatus CDevComm::PollToEnd(const std::atomic<int> *abort)
{
    for (int polls = 0; polls < kMaxPolls; ++polls) {
        if ((abort && abort->load() == 1) || Cancelled()) {
            return LinkStatus::Cancelled;
        }
        const int progress = PollReply();
        if (progress < 0) {
            return Cancelled() ? LinkStatus::Cancelled : LinkStatus::Failed;
        }
        if (progress >= kProgressComplete) {
            return LinkStatus::Complete;
        }
    }
    m_strError = klr::STR_ERROR_TIMEOUT;
    return LinkStatus::Failed;
}

LinkStatus CDevComm::Identify(ConnMethod method, std::vector<std::uint8_t> &reply, int &sendResult,
                              int usbWaitPauses, int pauseMs)
{
    reply.clear();
    sendResult = 0;
    if (Cancelled()) {
        return LinkStatus::Cancelled;
    }
    return method == ConnMethod::Usb ? IdentifyUsb(reply, sendResult, usbWaitPauses, pauseMs)
                                     : IdentifyTcp(reply, sendResult);
}

LinkStatus CDevComm::IdentifyTcp(std::vector<std::uint8_t> &reply, int &sendResult)
{
    auto lock = LockExchange();
    HonourCancel honour(m_bHonourCancel);
    SendRequest(klr::kCommand, klr::REQ_EQUIP_INFO);
    sendResult = m_nLastSend;
    const LinkStatus status = PollToEnd(nullptr);
    if (status == LinkStatus::Complete) {
        CopyReply(reply);
    }
    return status;
}

LinkStatus CDevComm::IdentifyUsb(std::vector<std::uint8_t> &reply, int &sendResult, int pauses,
                                 int pauseMs)
{
    std::uint64_t before = 0;
    {
        std::lock_guard wait(m_waitMutex);
        before = m_nReaderReads;
    }
    sendResult = UsbSend(klr::REQ_EQUIP_INFO, nullptr, 0, 1, -1, true);
    if (sendResult != 1) {
        return Cancelled() ? LinkStatus::Cancelled : LinkStatus::NotSent;
    }
    int result = 0;
    bool reported = false;
    {
        std::unique_lock wait(m_waitMutex);
        auto done = [&] { return Cancelled() || m_nReaderReads != before; };
        for (int n = 0; n < pauses && !done(); ++n) {
            m_waitWake.wait_for(wait, std::chrono::milliseconds(std::max(pauseMs, 0)), done);
        }
        reported = m_nReaderReads != before;
        result = m_nReaderResult;
    }
    if (!reported) {
        return Cancelled() ? LinkStatus::Cancelled : LinkStatus::Timeout;
    }
    if (result <= 0) {
        return LinkStatus::Failed;
    }
    auto lock = LockExchange();
    CopyReply(reply);
    return LinkStatus::Complete;
}

LinkStatus CDevComm::FetchFile(ConnMethod method, const std::string &name,
                               std::vector<std::uint8_t> &out, const std::atomic<int> *abort)
{
    out.clear();
    auto lock = LockExchange();
    HonourCancel honour(m_bHonourCancel);
    if (Cancelled()) {
        return LinkStatus::Cancelled;
    }
    LinkStatus status = LinkStatus::Failed;
    if (method == ConnMethod::Usb) {
        if (UsbRequestFile(klr::REQ_SCREEN, name) != 1) {
            return LinkStatus::NotSent;
        }
        if (UsbReadReply() >= kProgressComplete) {
            status = LinkStatus::Complete;
        } else {
            status = Cancelled() ? LinkStatus::Cancelled : LinkStatus::Failed;
        }
    } else {
        RequestFile(klr::kCommand, klr::REQ_SCREEN, name, klr::kMaxScreenSize);
        status = PollToEnd(abort);
    }
    if (status == LinkStatus::Complete) {
        CopyReply(out);
    }
    return status;
}

bool CDevComm::SendKey(ConnMethod method, const std::string &text)
{
    if (method == ConnMethod::Usb) {
        return UsbSendTextCommand(text) == 1;
    }
    return SendText(klr::kCommand, klr::REQ_CMD, text, kKeySendMs);
}
