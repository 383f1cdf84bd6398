// The per-user preference store: group "Connection" of organisation "Quorvex",
// application "KLRemote" (on Windows HKCU\Software\Quorvex\KLRemote\Connection).
#pragma once

#include <QString>
#include <memory>

class QSettings;

// The fixed default IPv4 address, used while no store exists.
inline constexpr const char *kDefaultIPv4 = "127.0.0.1";
inline constexpr const char *kDefaultIPv6 = "0:0:0:0:0:0:0:1";

struct ConnectionSettings
{
    int method = 2; // 1 TCP/IP IPv4, 2 USB, 3 TCP/IP IPv6
    QString ipv4 = kDefaultIPv4;
    QString ipv6 = kDefaultIPv6;
    int scale = 0;   // 0 100 %, 1 85 %, 2 70 %
    int quality = 0; // 0 high, 1 medium, 2 low
    QString usbIds;  // "vvvv:pppp[,vvvv:pppp...]" (value "UsbId"), empty when unset
};

class CPrefStore
{
public:
    // The native per-user store.
    CPrefStore();
    // An INI file at `path` (tests and fuzzers).
    explicit CPrefStore(const QString &iniPath);
    ~CPrefStore();

    // True once the group exists (after the first confirmed Communication dialog).
    bool Exists() const;

    // Loading at panel start, in order, with the repair rules ("Scale" and "Quality" out of
    // range written back as 0 when the store exists; a bad "Method" gives 2, not written).
    ConnectionSettings Load();

    // Saving after the Communication dialog: method 1 writes "IP" then "Method", 3 "IPV6"
    // then "Method", 2 "Method" only. Creates the store when it is absent.
    void SaveAfterDialog(int method, const QString &ipv4, const QString &ipv6);

    // Single values, stored only while the store exists.
    void WriteQuality(int quality);
    void WriteScale(int scale);

    // "IPV6" read afresh for the Communication dialog; kDefaultIPv6 when absent.
    QString ReadIPv6();

private:
    std::unique_ptr<QSettings> m_settings;
};
