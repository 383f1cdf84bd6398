// The link object: one per panel window. Turns requests into packets, sends them over
// TCP or USB, collects and reassembles the replies and keeps the last error text.
#pragma once

#include "CInterface.h"
#include "IDevCommOwner.h"
#include "IUsbBlockDevice.h"
#include "Protocol.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class CDevComm {
public:
    CDevComm();
    ~CDevComm();
    CDevComm(const CDevComm &) = delete;
    CDevComm &operator=(const CDevComm &) = delete;

    // Allocates the three receive buffers. Called once, before any request.
    void Init(IDevCommOwner *owner);

    void SetHostAddress(const std::string &host);
    void SetPort(std::uint16_t port);          // 66 unless told otherwise
    void SetConnectTimeoutMs(int ms);          // about 10 s by default

    int ConnectTcp();  // 1 connected; 0 failed with STR_DEVCOM_ERR_CHKCABLE
    int ConnectTcp6(); // same, over IPv6
    void Disconnect();
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

    const std::uint8_t *GetReplyData() const;
    int GetReplyLength() const;
    void GetErrorText(std::string &text) const;
    std::string ErrorText() const;

    // USB. The factory decides which device is opened (platform back-end by default).
    void SetUsbDeviceFactory(UsbDeviceFactory factory);
    int OpenUsb(IDevCommOwner *owner); // 1 opened and reader running; -1 failed
    void CloseUsb();
    int UsbSendPacket(std::uint8_t code, const std::uint8_t *payload, int length, int wakeReader);
    int UsbRequestFile(std::uint8_t code, const std::string &name);
    int UsbSendTextCommand(const std::string &text);
    int UsbReadReply(); // 100 complete; -1 failure
    // Stops the reader thread in order and joins it; the device stays open.
    void StopUsbReader();

    // One request/reply exchange is never interleaved with another: hold this lock for
    // "request, poll to completion, copy the reply". Every operation above also takes it
    // for itself, so a key command waits at most one exchange.
    [[nodiscard]] std::unique_lock<std::recursive_mutex> LockExchange();

    int m_nLastSend = 0;
    int m_nOperation = 0;

private:
    // (private members are the implementer's; names follow the design where it has them:
    // m_strError, m_socket, m_bConnected, m_pPacket, m_pRecv, m_pReply, m_nLeftover,
    // m_nReplyLength, the decoded packet, the expected index, the reader thread and its
    // events, the USB device, m_bUsbBusy, m_strHost)
    std::atomic<int> m_bConnected{0};
    mutable std::recursive_mutex m_exchange;
};
