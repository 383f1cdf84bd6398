// Start-up of the system's networking. On Windows every socket call fails with
// WSANOTINITIALISED (10093) until Winsock has been started; the application starts it once,
// first thing, and stops it when it ends. Elsewhere there is nothing to start.
#pragma once

namespace klr::net {

// Winsock 2.0 start-up; true on success. Each successful start needs one StopNetworking.
bool StartNetworking();
void StopNetworking();

// Starts networking for its own lifetime.
class NetworkingScope
{
public:
    NetworkingScope() : m_bStarted(StartNetworking()) {}
    ~NetworkingScope()
    {
        if (m_bStarted)
            StopNetworking();
    }
    NetworkingScope(const NetworkingScope &) = delete;
    NetworkingScope &operator=(const NetworkingScope &) = delete;

    bool Started() const { return m_bStarted; }

private:
    bool m_bStarted;
};

} // namespace klr::net
