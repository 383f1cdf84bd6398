// Compiled, never run: the link's public headers must not bring the platform's socket or
// window headers into the code that includes them (on Windows they rename functions such
// as LoadIcon in every file that sees them).
#include "CDevComm.h"
#include "CInterface.h"
#include "CSocketComm.h"
#include "CUsbDeviceSim.h"
#include "ConnMethod.h"
#include "Diagnostic.h"
#include "IDevCommOwner.h"
#include "IUsbBlockDevice.h"
#include "Networking.h"
#include "Protocol.h"
#include "SocketHandle.h"
#include "UsbPlatform.h"
#include "UsbPure.h"

#if defined(_WINDOWS_) || defined(_WINSOCKAPI_) || defined(_WINSOCK2API_) || defined(_WS2TCPIP_H_)
#error "a public header of the link includes the Windows socket or window headers"
#endif
#if defined(_SYS_SOCKET_H) || defined(_NETINET_IN_H) || defined(_NETDB_H)
#error "a public header of the link includes the POSIX socket headers"
#endif
