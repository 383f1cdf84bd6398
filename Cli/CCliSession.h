// One connection to an instrument for the command-line client: connect and identify as a
// panel does, then fetch screens and send key commands. Every failure leaves the link's
// error text (or the session's own) in Error().
#pragma once

#include "CDevComm.h"
#include "CliOptions.h"
#include "CliQtParts.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class CCliSession : public IDevCommOwner
{
public:
    explicit CCliSession(const CliOptions &options);
    ~CCliSession();
    CCliSession(const CCliSession &) = delete;
    CCliSession &operator=(const CCliSession &) = delete;

    // Opens the carrier and asks for the identification; the text is kept up to its NUL.
    bool Connect();
    // Opens the carrier again after a failed exchange (TCP only; USB stays open).
    bool Reconnect();
    bool FetchScreen(std::vector<std::uint8_t> &jpeg);
    bool SendKey(const std::string &text);
    void Close();

    // The last exchange saw the instrument close the connection (TCP).
    bool PeerClosed() const { return m_link.PeerClosed(); }

    const std::string &Identification() const { return m_identification; }
    const std::string &Error() const { return m_error; }

    // The link's reader thread reports the identification here; the link itself waits for it.
    void SetScreenReady(int) override {}

private:
    bool OpenCarrier();
    bool Fail(const std::string &text);
    bool FailWithLinkError(const std::string &fallback);

    CliOptions m_options;
    // Declared before the link: the simulated device calls into it until the link is gone.
    std::unique_ptr<CCliUsbSim> m_sim;
    std::string m_simError;
    CDevComm m_link;
    std::string m_identification;
    std::string m_error;
};
