#include "ConnMethod.h"

std::optional<ConnMethod> ConnMethodFromInt(int value)
{
    switch (value) {
    case static_cast<int>(ConnMethod::TcpIPv4):
        return ConnMethod::TcpIPv4;
    case static_cast<int>(ConnMethod::Usb):
        return ConnMethod::Usb;
    case static_cast<int>(ConnMethod::TcpIPv6):
        return ConnMethod::TcpIPv6;
    default:
        return std::nullopt;
    }
}
