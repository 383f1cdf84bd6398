#include "CCliSession.h"

#include <algorithm>

namespace {

// Texts the session itself reports when the link has none of its own.
constexpr const char *kSendCmdError = "Send REQ_CMD Error";
constexpr const char *kSendRequestError = "Send Request Error";
constexpr const char *kUsbTimeout = "Timeout";
constexpr const char *kConnectionFailed = "Connection Failed";

} // namespace

CCliSession::CCliSession(const CliOptions &options) : m_options(options)
{
    m_link.Init(this);
    m_link.SetPort(m_options.port);
    if (m_options.method == ConnMethod::Usb) {
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
    if (m_options.method == ConnMethod::Usb)
        m_link.CloseUsb();
    else
        m_link.Disconnect();
}

bool CCliSession::Fail(const std::string &text)
{
    m_error = text;
    return false;
}

bool CCliSession::FailWithLinkError(const std::string &fallback)
{
    std::string text = m_link.ErrorText();
    return Fail(text.empty() ? fallback : text);
}

bool CCliSession::OpenCarrier()
{
    const bool usb = m_options.method == ConnMethod::Usb;
    if (usb && m_options.usbSim && !m_sim)
        return Fail(m_simError);
    if (m_link.Open(m_options.method, m_options.host, this) == 1)
        return true;
    if (usb) {
        m_link.StopUsbReader();
        Fail(kConnectionFailed);
    } else {
        FailWithLinkError(std::string(klr::STR_DEVCOM_ERR_CHKCABLE));
    }
    // The link's words for why, with the address: a bad name, a refused port and a silent
    // host look alike otherwise.
    if (const std::string cause = m_link.LastCause(); !cause.empty())
        m_error += ": " + cause;
    return false;
}

bool CCliSession::Connect()
{
    if (!OpenCarrier())
        return false;
    const bool usb = m_options.method == ConnMethod::Usb;
    std::vector<std::uint8_t> reply;
    int sent = 0;
    const LinkStatus status = m_link.Identify(m_options.method, reply, sent);
    if (status != LinkStatus::Complete || (usb && reply.empty())) {
        if (usb) {
            m_link.StopUsbReader();
            m_link.SetConnected(0);
        } else {
            m_link.Disconnect();
        }
        switch (status) {
        case LinkStatus::NotSent:
            return Fail(kSendRequestError);
        case LinkStatus::Timeout:
            return Fail(kUsbTimeout);
        case LinkStatus::Complete: // an empty reply over USB
            return Fail(kConnectionFailed);
        default:
            return FailWithLinkError(usb ? kUsbTimeout : std::string(klr::STR_ERROR_PACKET));
        }
    }
    if (usb)
        m_link.SetConnected(1);
    const auto nul = std::find(reply.begin(), reply.end(), std::uint8_t{0});
    m_identification.assign(reply.begin(), nul);
    return true;
}

bool CCliSession::Reconnect()
{
    if (m_options.method == ConnMethod::Usb)
        return true;
    m_link.Disconnect();
    return OpenCarrier();
}

bool CCliSession::FetchScreen(std::vector<std::uint8_t> &jpeg)
{
    switch (m_link.FetchFile(m_options.method, std::string(klr::kScreenFileName), jpeg)) {
    case LinkStatus::Complete:
        return true;
    case LinkStatus::NotSent:
        return Fail(kSendRequestError);
    default:
        return FailWithLinkError(std::string(klr::STR_ERROR_PACKET));
    }
}

bool CCliSession::SendKey(const std::string &text)
{
    if (!m_link.SendKey(m_options.method, text + "\n"))
        return Fail(kSendCmdError);
    return true;
}
