// The simulated instrument on a TCP port: one client at a time, a newer connection
// replaces the older one. Plain POSIX sockets on one server thread.
#pragma once

#include "CSimInstrument.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class CSimServer
{
public:
    // Serves `instrument`, or an instrument of its own when none is given.
    explicit CSimServer(std::shared_ptr<CSimInstrument> instrument = nullptr);
    ~CSimServer();
    CSimServer(const CSimServer &) = delete;
    CSimServer &operator=(const CSimServer &) = delete;

    // Listens on a numeric IPv4 or IPv6 address ("127.0.0.1", "::1"; "localhost" means
    // 127.0.0.1); port 0 picks a free port. Addresses other than loopback are refused
    // unless allowed. False with Error() set when it cannot listen.
    bool Start(const std::string &host = "127.0.0.1", std::uint16_t port = 0,
               bool allowNonLoopback = false);
    void Stop();
    // Listens again on the address and port of the last Start, like an instrument back from
    // a restart; false with Error() set when that fails (or there was no Start).
    bool Restart();
    bool Running() const { return m_running.load(); }
    std::uint16_t Port() const { return m_port.load(); }
    std::string Host() const;
    std::string Error() const;
    // Connections accepted so far.
    int Connections() const { return m_connections.load(); }

    CSimInstrument &Instrument() { return *m_instrument; }
    std::shared_ptr<CSimInstrument> SharedInstrument() { return m_instrument; }

    // Shortcuts to the instrument.
    void SetModel(const std::string &model) { m_instrument->SetModel(model); }
    void SetFamily(SimFamily family) { m_instrument->SetFamily(family); }
    void SetFault(SimFault fault, int every = 1) { m_instrument->SetFault(fault, every); }
    std::vector<std::string> ReceivedCommands() const { return m_instrument->ReceivedCommands(); }
    QByteArray LastScreenJpeg() const { return m_instrument->LastScreenJpeg(); }
    std::uint64_t ScreensSent() const { return m_instrument->ScreensSent(); }

private:
    void Run();
    void ServeRequests();
    bool Deliver(const SimReply &reply);
    bool WriteAll(const std::uint8_t *data, std::size_t length);
    // Sleeps, but wakes at once when the server is stopped. False when stopped.
    bool Pause(int ms);
    void CloseClient();

    std::shared_ptr<CSimInstrument> m_instrument;
    std::thread m_thread;
    std::atomic<bool> m_running{false};
    std::atomic<bool> m_stop{false};
    std::atomic<std::uint16_t> m_port{0};
    std::atomic<int> m_connections{0};
    mutable std::mutex m_mutex; // guards m_host and m_error
    std::string m_host;
    std::string m_error;
    bool m_allowNonLoopback = false;
    int m_listenFd = -1;
    int m_clientFd = -1;
    int m_wakeRead = -1;
    int m_wakeWrite = -1;
    std::unique_ptr<klr::CPacketScanner> m_scanner;
    std::unique_ptr<klr::DecodedPacket> m_request;
    std::vector<std::uint8_t> m_recv;
    std::size_t m_recvLength = 0;
};
