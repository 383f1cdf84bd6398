// The panel's title while connected says which instrument it shows and where it is reached,
// so that several windows can be told apart: "KLRemote 2.0 - KL561B - 192.168.1.50".
#pragma once

#include <QByteArray>
#include <QString>

// The model an identification reply names: its text up to the first NUL, without control
// characters, other bytes than ASCII shown as "?", at most kMaxModelChars, trimmed.
QString ModelOfReply(const QByteArray &equipInfo);
inline constexpr int kMaxModelChars = 32;

// `plain` followed by the model (left out when the reply names none) and the address of the
// method (1 the IPv4 address, 3 the IPv6 address, anything else "USB").
QString ConnectedTitle(const QString &plain, const QByteArray &equipInfo, int method,
                       const QString &ipv4, const QString &ipv6);
