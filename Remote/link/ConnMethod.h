// How the link reaches the instrument. The numbers are those stored as the "Method"
// preference, so they never change.
#pragma once

#include <optional>

enum class ConnMethod : int
{
    TcpIPv4 = 1,
    Usb = 2,
    TcpIPv6 = 3
};

inline bool IsTcp(ConnMethod m)
{
    return m != ConnMethod::Usb;
}

// 1, 2 or 3; anything else is no method.
std::optional<ConnMethod> ConnMethodFromInt(int value);
