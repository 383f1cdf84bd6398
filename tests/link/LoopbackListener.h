// A listening socket on 127.0.0.1 or ::1 with an ephemeral port, and the accepted peers:
// the far end of the link in socket tests.
#pragma once

#include "NetCompat.h"

#include <cstdint>
#include <string>
#include <vector>

class LoopbackPeer
{
public:
    explicit LoopbackPeer(klr::net::SocketHandle s = klr::net::kInvalidSocket) : m_socket(s) {}
    ~LoopbackPeer() { Close(); }
    LoopbackPeer(LoopbackPeer &&other) noexcept : m_socket(other.m_socket)
    {
        other.m_socket = klr::net::kInvalidSocket;
    }
    LoopbackPeer &operator=(LoopbackPeer &&other) noexcept;
    LoopbackPeer(const LoopbackPeer &) = delete;
    LoopbackPeer &operator=(const LoopbackPeer &) = delete;

    bool Valid() const { return m_socket != klr::net::kInvalidSocket; }
    bool SendAll(const std::vector<std::uint8_t> &data);
    // Reads until `count` bytes arrived, the peer closed or `ms` passed without data.
    std::vector<std::uint8_t> Receive(std::size_t count, int ms);
    // True when the other side closed the connection within `ms`.
    bool SeesClose(int ms);
    void Close();

private:
    klr::net::SocketHandle m_socket;
};

class LoopbackListener
{
public:
    // ipv6: listen on ::1, else on 127.0.0.1. Valid() is false when that is impossible here.
    // receiveBuffer > 0: the accepted connections' receive buffer size (SO_RCVBUF).
    explicit LoopbackListener(bool ipv6, int backlog = 8, int receiveBuffer = 0);
    ~LoopbackListener();
    LoopbackListener(const LoopbackListener &) = delete;
    LoopbackListener &operator=(const LoopbackListener &) = delete;

    bool Valid() const { return m_socket != klr::net::kInvalidSocket; }
    std::uint16_t Port() const { return m_port; }
    std::string Host() const { return m_ipv6 ? "::1" : "127.0.0.1"; }
    // Waits at most `ms` for a connection.
    LoopbackPeer Accept(int ms);
    // Connects to this listener, without ever accepting, until a connect is left waiting for
    // an answer (the queue is full), keeping those connections in `fillers`: then every
    // further connect waits too. False when this system refuses such connects instead.
    bool FillUntilSilent(std::vector<LoopbackPeer> &fillers);
    void Close();

private:
    // Winsock must be started before the listener's socket and stopped after it.
    klr::net::NetworkingScope m_networking;
    bool m_ipv6;
    klr::net::SocketHandle m_socket = klr::net::kInvalidSocket;
    std::uint16_t m_port = 0;
};

// A port on the loopback address that nothing listens on (bound, then released).
std::uint16_t UnusedLoopbackPort(bool ipv6);
