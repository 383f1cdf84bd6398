#include "Networking.h"

#include "NetCompat.h"

namespace klr::net {

bool StartNetworking()
{
#ifdef _WIN32
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 0), &data) == 0;
#else
    return true;
#endif
}

void StopNetworking()
{
#ifdef _WIN32
    WSACleanup();
#endif
}

} // namespace klr::net
