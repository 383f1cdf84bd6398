#include "CCliSession.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace {

// Texts the session itself reports when the link has none of its own.
constexpr const char *kSendCmdError = "Send REQ_CMD Error";
constexpr const char *kSendRequestError = "Send Request Error";
constexpr const char *kUsbTimeout = "Timeout";
constexpr const char *kConnectionFailed = "Connection Failed";

// A reply has at most 255 packets; a poll returns after at least one of them or an error.
constexpr int kMaxPolls = 300;
// The identification over USB: at most 101 pauses of 100 ms, as a panel waits.
constexpr auto kUsbIdentifyWait = std::chrono::milliseconds(10100);

} // namespace

CCliSession::CCliSession(const CliOptions &options) : m_options(options)
{
    m_link.Init(this);
    if (m_options.method == CliMethod::Usb) {
        if (m_options.usbSim) {
            m_sim = MakeCliUsbSim(*m_options.usbSim, m_simError);
            if (m_sim)
                m_link.SetUsbDeviceFactory(m_sim->Factory());
        } else if (!m_options.usbIds.empty()) {
            m_link.SetUsbIds(m_options.usbIds);
        }
    }
}

CCliSession::~CCliSession()
{
    Close();
}

void CCliSession::Close()
{
    if (m_options.method == CliMethod::Usb)
        m_link.CloseUsb();
    else
        m_link.Disconnect();
}

void CCliSession::SetScreenReady(int value)
{
    {
        std::lock_guard lock(m_readyMutex);
        m_nScreenReady = value;
    }
    m_readyChanged.notify_all();
}

bool CCliSession::Fail(const std::string &text)
{
    m_error = text;
    return false;
}

bool CCliSession::FailWithLinkError(const char *fallback)
{
    std::string text = m_link.ErrorText();
    return Fail(text.empty() ? fallback : text);
}

bool CCliSession::OpenCarrier()
{
    switch (m_options.method) {
    case CliMethod::Tcp:
    case CliMethod::Tcp6:
        m_link.SetHostAddress(m_options.host);
        m_link.SetPort(m_options.port);
        if ((m_options.method == CliMethod::Tcp ? m_link.ConnectTcp() : m_link.ConnectTcp6()) != 1)
            return FailWithLinkError(std::string(klr::STR_DEVCOM_ERR_CHKCABLE).c_str());
        return true;
    case CliMethod::Usb:
        if (m_options.usbSim && !m_sim)
            return Fail(m_simError);
        SetScreenReady(0);
        if (m_link.OpenUsb(this) != 1) {
            m_link.StopUsbReader();
            return Fail(kConnectionFailed);
        }
        return true;
    }
    return false;
}

bool CCliSession::Connect()
{
    if (!OpenCarrier())
        return false;
    return m_options.method == CliMethod::Usb ? IdentifyUsb() : IdentifyTcp();
}

bool CCliSession::Reconnect()
{
    if (m_options.method == CliMethod::Usb)
        return true;
    m_link.Disconnect();
    return OpenCarrier();
}

bool CCliSession::PollToCompletion()
{
    for (int polls = 0; polls < kMaxPolls; ++polls) {
        const int progress = m_link.PollReply();
        if (progress < 0)
            return FailWithLinkError(std::string(klr::STR_ERROR_PACKET).c_str());
        if (progress >= 100)
            return true;
    }
    return Fail(std::string(klr::STR_ERROR_TIMEOUT));
}

bool CCliSession::CopyReply(std::vector<std::uint8_t> &out)
{
    const int length = m_link.GetReplyLength();
    const std::uint8_t *data = m_link.GetReplyData();
    if (length < 0 || static_cast<std::size_t>(length) > klr::kMaxReplyBytes ||
        (length > 0 && data == nullptr))
        return Fail(std::string(klr::STR_ERROR_PACKET));
    out.assign(data, data + length);
    return true;
}

bool CCliSession::IdentifyTcp()
{
    std::vector<std::uint8_t> reply;
    {
        auto exchange = m_link.LockExchange();
        m_link.SendRequest(klr::kCommand, klr::REQ_EQUIP_INFO);
        if (!PollToCompletion() || !CopyReply(reply)) {
            m_link.Disconnect();
            return false;
        }
    }
    const auto nul = std::find(reply.begin(), reply.end(), std::uint8_t{0});
    m_identification.assign(reply.begin(), nul);
    return true;
}

bool CCliSession::IdentifyUsb()
{
    if (m_link.UsbSendPacket(klr::REQ_EQUIP_INFO, nullptr, 0, 1) != 1) {
        m_link.StopUsbReader();
        return Fail(kSendRequestError);
    }
    // The reader thread reports a complete reply through SetScreenReady(1); a failed read
    // leaves the link's error text instead.
    const auto deadline = std::chrono::steady_clock::now() + kUsbIdentifyWait;
    bool ready = false;
    while (std::chrono::steady_clock::now() < deadline) {
        {
            std::unique_lock lock(m_readyMutex);
            ready = m_readyChanged.wait_for(lock, std::chrono::milliseconds(50),
                                            [this] { return m_nScreenReady == 1; });
        }
        if (ready || !m_link.ErrorText().empty())
            break;
    }
    if (!ready) {
        m_link.StopUsbReader();
        return FailWithLinkError(kUsbTimeout);
    }
    std::vector<std::uint8_t> reply;
    if (!CopyReply(reply))
        return false;
    if (reply.empty()) {
        m_link.StopUsbReader();
        m_link.SetConnected(0);
        return Fail(kConnectionFailed);
    }
    m_link.SetConnected(1);
    const auto nul = std::find(reply.begin(), reply.end(), std::uint8_t{0});
    m_identification.assign(reply.begin(), nul);
    return true;
}

bool CCliSession::FetchScreen(std::vector<std::uint8_t> &jpeg)
{
    auto exchange = m_link.LockExchange();
    if (m_options.method == CliMethod::Usb) {
        if (m_link.UsbRequestFile(klr::REQ_SCREEN, std::string(klr::kScreenFileName)) != 1)
            return Fail(kSendRequestError);
        if (m_link.UsbReadReply() != 100)
            return FailWithLinkError(std::string(klr::STR_ERROR_PACKET).c_str());
        return CopyReply(jpeg);
    }
    m_link.RequestFile(klr::kCommand, klr::REQ_SCREEN, std::string(klr::kScreenFileName),
                       klr::kMaxScreenSize);
    return PollToCompletion() && CopyReply(jpeg);
}

bool CCliSession::SendKey(const std::string &text)
{
    const std::string line = text + "\n";
    if (m_options.method == CliMethod::Usb) {
        if (m_link.UsbSendTextCommand(line) != 1)
            return Fail(kSendCmdError);
        return true;
    }
    m_link.SendTextCommand(klr::kCommand, klr::REQ_CMD, line);
    if (m_link.m_nLastSend <= 0)
        return Fail(kSendCmdError);
    return true;
}
