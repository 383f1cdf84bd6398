// The per-user preference store: group "Connection" of organisation "Quorvex",
// application "KLRemote" (on Windows HKCU\Software\Quorvex\KLRemote\Connection, elsewhere
// the file Quorvex/KLRemote.conf in the user's configuration folder).
#pragma once

#include <QByteArray>
#include <QString>
#include <QVariant>
#include <memory>

class QSettings;

// The fixed default IPv4 address, used while no store exists.
inline constexpr const char *kDefaultIPv4 = "127.0.0.1";
inline constexpr const char *kDefaultIPv6 = "0:0:0:0:0:0:0:1";
// Where the browser view listens unless the operator chose otherwise: this computer only.
inline constexpr const char *kDefaultShareListen = "127.0.0.1:8080";

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
    // A store file larger than this is not ours (ours holds a few short values); it is not
    // read. Nor is anything at the path that is not a regular file (a FIFO would block), nor
    // a file holding serialised objects (QSettings would build them as it reads).
    static constexpr qint64 kMaxFileBytes = 64 * 1024;

    // The native per-user store, and nothing else: no organisation-wide or system-wide
    // defaults are read.
    CPrefStore();
    // An INI file at `path` (tests, fuzzers, the simulated run's scratch store).
    explicit CPrefStore(const QString &iniPath);
    ~CPrefStore();

    // The file the native store lives in; empty where it is not a file (the registry).
    static QString UserStorePath();

    // True once the group exists (after the first confirmed Communication dialog), even
    // when it holds no value.
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

    // "ShareListen": the address and port the browser view last listened on
    // (kDefaultShareListen while unset); written only while the store exists.
    QString ShareListen() const;
    void WriteShareListen(const QString &listen);
    // Window comforts, off unless stored as 1: the main keyboard's digit row standing for the
    // numeric pad ("DigitRowAsKeypad") and the panel kept above other windows ("StayOnTop").
    // Stored, like the values above, only while the store exists.
    bool ReadDigitRowAsKeypad() const;
    void WriteDigitRowAsKeypad(bool on);
    bool ReadStayOnTop() const;
    void WriteStayOnTop(bool on);

    // The session comforts. A value that is missing or not one of those allowed gives the
    // default; like the quality, a value is written only while the store exists.
    bool ReadAutoReconnect() const; // "AutoReconnect": 1 (default) or 0
    void WriteAutoReconnect(bool on);
    bool ReadShowStats() const; // "ShowStats": 0 (default) or 1
    void WriteShowStats(bool on);
    int ReadRefresh() const; // "Refresh": 0 Standard (default), 1 After Keys
    void WriteRefresh(int mode);

    // "IPV6" read afresh for the Communication dialog; kDefaultIPv6 when absent.
    QString ReadIPv6();

    // One value of the group as stored, without any repair; invalid when absent.
    QVariant StoredValue(const QString &name) const;

private:
    // The settings object, created on first use once the file has passed its check. The
    // file is checked again before each use, since another program may replace it. Null once
    // a check has refused it (one log line says why): from then on, for the life of this
    // object, every read gives the defaults and nothing is written, so that the file stays
    // exactly as it is.
    QSettings *Settings() const;
    // One whole number of the group in lo..hi, else `fallback`; nothing is repaired.
    int ReadChoice(const char *key, int lo, int hi, int fallback) const;
    void WriteChoice(const char *key, int value);

    QString m_path;                 // the store's file; empty for the registry
    mutable QByteArray m_fileBytes; // its content as last checked
    mutable std::unique_ptr<QSettings> m_settings;
    mutable bool m_refused = false;
};
