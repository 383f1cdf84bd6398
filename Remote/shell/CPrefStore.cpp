#include "CPrefStore.h"

#include "CLog.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>
#include <QVariant>
#include <cstdint>
#include <cstring>

namespace {

constexpr const char *kOrganisation = "Quorvex";
constexpr const char *kApplication = "KLRemote";
constexpr const char *kGroup = "Connection";

constexpr const char *kMethod = "Connection/Method";
constexpr const char *kIPv4 = "Connection/IP";
constexpr const char *kIPv6 = "Connection/IPV6";
constexpr const char *kScale = "Connection/Scale";
constexpr const char *kQuality = "Connection/Quality";
constexpr const char *kUsbId = "Connection/UsbId";
constexpr const char *kShareListen = "Connection/ShareListen";
constexpr const char *kAutoReconnect = "Connection/AutoReconnect";
constexpr const char *kShowStats = "Connection/ShowStats";
constexpr const char *kRefresh = "Connection/Refresh";
constexpr const char *kDigitRowAsKeypad = "Connection/DigitRowAsKeypad";
constexpr const char *kStayOnTop = "Connection/StayOnTop";

constexpr const char *kUnsetIPv4 = "0.0.0.0";
// Texts are read into a 256-byte buffer including its terminator; longer ones do not read.
constexpr qsizetype kMaxTextBytes = 255;

constexpr int kMethodUsb = 2;

constexpr const char *kRefusedNotAFile =
    "Settings: %1 is not a regular file; it is left alone and the defaults are used";
constexpr const char *kRefusedTooLarge =
    "Settings: %1 holds %2 bytes (more than %3); it is left alone and the defaults are used";
constexpr const char *kRefusedSerialised =
    "Settings: %1 holds serialised data, which the program never writes; it is left alone "
    "and the defaults are used";

// True when a value of the INI text may be read back as serialised binary data: QSettings
// turns a value that begins "@Variant(" or "@DateTime(" into whatever object its bytes
// describe (a picture to decode, a list declaring billions of entries), before any check of
// ours sees it. The program never writes such a value. This follows the INI reader's rules
// for where a value (or an item of a list) begins, what quotes and escapes do and where a
// comment runs, erring on the side of refusal: a value must not begin with an "@" (raw or
// escaped) unless it begins "@@" (a plain "@"), "@ByteArray(" or "@String(", which read as
// plain data.
bool HoldsSerialisedData(const QByteArray &data)
{
    const qsizetype size = data.size();
    bool quoted = false;
    bool atStart = true; // nothing of the current value (or key) produced yet
    for (qsizetype i = 0; i < size; ++i) {
        const char c = data[i];
        if (c == '\\') {
            if (++i >= size)
                break;
            const char e = data[i];
            if (e == 'x' || (e >= '0' && e <= '7')) {
                // Hex or octal digits, as many as follow, in a 16-bit character.
                const bool hex = e == 'x';
                char16_t value = hex ? 0 : static_cast<char16_t>(e - '0');
                qsizetype digits = hex ? 0 : 1;
                for (; i + 1 < size; ++i, ++digits) {
                    const char d = data[i + 1];
                    const int v = d >= '0' && d <= (hex ? '9' : '7') ? d - '0'
                                  : hex && d >= 'a' && d <= 'f'      ? d - 'a' + 10
                                  : hex && d >= 'A' && d <= 'F'      ? d - 'A' + 10
                                                                     : -1;
                    if (v < 0)
                        break;
                    value = static_cast<char16_t>((value << (hex ? 4 : 3)) + v);
                }
                if (digits == 0)
                    continue; // "\x" alone stands for nothing
                if (value == u'@' && atStart)
                    return true;
                atStart = false;
            } else if (e != '\0' && std::strchr("abfnrtv\"?'\\", e) != nullptr) {
                atStart = false;
            }
            // Any other escaped character, a line break among them, stands for nothing.
            continue;
        }
        if (c == '"') {
            quoted = !quoted;
            continue;
        }
        if (!quoted) {
            if (c == '\n' || c == '\r' || c == '=' || c == ',') {
                atStart = true;
                continue;
            }
            if (c == ';') {
                // The rest of the line is a comment.
                while (i + 1 < size && data[i + 1] != '\n' && data[i + 1] != '\r')
                    ++i;
                continue;
            }
            if ((c == ' ' || c == '\t') && atStart)
                continue;
        }
        if (c == '@' && atStart) {
            const QByteArray rest = data.mid(i + 1, 10);
            if (rest.startsWith('@'))
                ++i;
            else if (!rest.startsWith("ByteArray(") && !rest.startsWith("String("))
                return true;
        }
        atStart = false;
    }
    return false;
}

// What may be read of the file at `path`: the reason it must not be read (with empty bytes),
// or no reason and its bytes (both empty while there is no file yet: the first confirmed
// dialog creates it). Links are followed to what they name.
struct FileCheck
{
    QString refusal;
    QByteArray bytes;
};

FileCheck CheckFile(const QString &path)
{
    const QString shown = QDir::toNativeSeparators(path);
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return {};
    if (!info.isFile())
        return {QString::fromLatin1(kRefusedNotAFile).arg(shown), {}};
    if (info.size() > CPrefStore::kMaxFileBytes)
        return {QString::fromLatin1(kRefusedTooLarge)
                    .arg(shown)
                    .arg(info.size())
                    .arg(CPrefStore::kMaxFileBytes),
                {}};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {}; // unreadable: QSettings finds nothing in it either
    FileCheck check;
    check.bytes = file.read(CPrefStore::kMaxFileBytes + 1);
    if (check.bytes.size() > CPrefStore::kMaxFileBytes)
        check.refusal = QString::fromLatin1(kRefusedTooLarge)
                            .arg(shown)
                            .arg(check.bytes.size())
                            .arg(CPrefStore::kMaxFileBytes);
    else if (HoldsSerialisedData(check.bytes))
        check.refusal = QString::fromLatin1(kRefusedSerialised).arg(shown);
    if (!check.refusal.isEmpty())
        check.bytes.clear();
    return check;
}

// QSettings forgets a section that holds no value, yet such a group exists as the registry
// keeps an empty key: look for its header line the way the INI reader takes one.
bool HasSection(const QByteArray &data, const char *name)
{
    for (const QByteArray &raw : data.split('\n')) {
        const QByteArray line = raw.trimmed();
        if (!line.startsWith('['))
            continue;
        const qsizetype end = line.indexOf(']');
        if (end > 0 && line.mid(1, end - 1).trimmed() == name)
            return true;
    }
    return false;
}

std::unique_ptr<QSettings> MakeSettings(const QString &path)
{
    std::unique_ptr<QSettings> settings;
    if (!path.isEmpty()) {
        settings = std::make_unique<QSettings>(path, QSettings::IniFormat);
    } else {
#if defined(Q_OS_WIN)
        // The one key of the current user; HKLM and the organisation's defaults are not read.
        settings = std::make_unique<QSettings>(
            QStringLiteral("HKEY_CURRENT_USER\\Software\\") + QLatin1String(kOrganisation) +
                QStringLiteral("\\") + QLatin1String(kApplication),
            QSettings::NativeFormat);
#else
        settings =
            std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                        QLatin1String(kOrganisation), QLatin1String(kApplication));
#endif
    }
    settings->setFallbacksEnabled(false);
    return settings;
}

// A 32-bit number: an int stored natively, or (INI files, hand edits) a decimal text.
bool ReadNumber(const QVariant &value, int &out)
{
    if (!value.isValid())
        return false;
    bool ok = false;
    int n = 0;
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong: {
        const qlonglong wide = value.toLongLong(&ok);
        ok = ok && wide >= INT32_MIN && wide <= UINT32_MAX;
        // A DWORD above INT32_MAX reads as the negative int it is bit for bit.
        n = static_cast<int>(static_cast<quint32>(wide));
        break;
    }
    case QMetaType::QString:
    case QMetaType::QByteArray:
        n = value.toString().trimmed().toInt(&ok, 10);
        break;
    default:
        return false;
    }
    if (!ok)
        return false;
    out = n;
    return true;
}

bool ReadText(const QVariant &value, QString &out)
{
    if (!value.isValid())
        return false;
    if (value.typeId() != QMetaType::QString && value.typeId() != QMetaType::QByteArray)
        return false;
    const QString text = value.toString();
    if (text.toLocal8Bit().size() > kMaxTextBytes)
        return false;
    out = text;
    return true;
}

bool InRange(int v)
{
    return v >= 0 && v <= 2;
}

} // namespace

CPrefStore::CPrefStore() : m_path(UserStorePath()) {}

CPrefStore::CPrefStore(const QString &iniPath) : m_path(iniPath) {}

CPrefStore::~CPrefStore() = default;

QString CPrefStore::UserStorePath()
{
#if defined(Q_OS_WIN) || defined(Q_OS_DARWIN)
    return {};
#else
    // Where QSettings keeps the native per-user store on these systems; named here so that
    // only this file is read, never the organisation-wide or system-wide ones beside it.
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QLatin1Char('/') + QLatin1String(kOrganisation) + QLatin1Char('/') +
           QLatin1String(kApplication) + QStringLiteral(".conf");
#endif
}

QSettings *CPrefStore::Settings() const
{
    if (m_refused)
        return nullptr;
    if (!m_path.isEmpty()) {
        FileCheck check = CheckFile(m_path);
        if (!check.refusal.isEmpty()) {
            m_refused = true;
            m_settings.reset();
            m_fileBytes.clear();
            CLog::Instance().Write(check.refusal);
            return nullptr;
        }
        m_fileBytes = std::move(check.bytes);
    }
    if (!m_settings)
        m_settings = MakeSettings(m_path);
    return m_settings.get();
}

bool CPrefStore::Exists() const
{
    QSettings *settings = Settings();
    if (!settings)
        return false;
    // Pick up changes made by another copy of the program since this one last looked.
    settings->sync();
    settings->beginGroup(QLatin1String(kGroup));
    const bool any = !settings->childKeys().isEmpty() || !settings->childGroups().isEmpty();
    settings->endGroup();
    if (any || settings->childGroups().contains(QLatin1String(kGroup)))
        return true;
    return !m_path.isEmpty() && HasSection(m_fileBytes, kGroup);
}

ConnectionSettings CPrefStore::Load()
{
    ConnectionSettings s;
    if (!Exists())
        return s;

    int method = 0;
    s.method = ReadNumber(m_settings->value(QLatin1String(kMethod)), method) &&
                       (method == 1 || method == 2 || method == 3)
                   ? method
                   : kMethodUsb;

    int scale = 0;
    if (ReadNumber(m_settings->value(QLatin1String(kScale)), scale) && InRange(scale)) {
        s.scale = scale;
    } else {
        s.scale = 0;
        m_settings->setValue(QLatin1String(kScale), 0);
    }

    int quality = 0;
    if (ReadNumber(m_settings->value(QLatin1String(kQuality)), quality) && InRange(quality)) {
        s.quality = quality;
    } else {
        s.quality = 0;
        m_settings->setValue(QLatin1String(kQuality), 0);
    }

    s.ipv4 = QLatin1String(kUnsetIPv4);
    ReadText(m_settings->value(QLatin1String(kIPv4)), s.ipv4);

    if (!ReadText(m_settings->value(QLatin1String(kIPv6)), s.ipv6))
        s.ipv6 = QLatin1String(kDefaultIPv6);

    if (!ReadText(m_settings->value(QLatin1String(kUsbId)), s.usbIds))
        s.usbIds.clear();

    m_settings->sync();
    return s;
}

void CPrefStore::SaveAfterDialog(int method, const QString &ipv4, const QString &ipv6)
{
    QSettings *settings = Settings();
    if (!settings)
        return;
    if (method == 1)
        settings->setValue(QLatin1String(kIPv4), ipv4);
    else if (method == 3)
        settings->setValue(QLatin1String(kIPv6), ipv6);
    settings->setValue(QLatin1String(kMethod), method);
    settings->sync();
}

void CPrefStore::WriteQuality(int quality)
{
    if (!Exists())
        return;
    m_settings->setValue(QLatin1String(kQuality), quality);
    m_settings->sync();
}

void CPrefStore::WriteScale(int scale)
{
    if (!Exists())
        return;
    m_settings->setValue(QLatin1String(kScale), scale);
    m_settings->sync();
}

QString CPrefStore::ShareListen() const
{
    QString text;
    if (Exists() && ReadText(m_settings->value(QLatin1String(kShareListen)), text) &&
        !text.isEmpty())
        return text;
    return QLatin1String(kDefaultShareListen);
}

void CPrefStore::WriteShareListen(const QString &listen)
{
    if (!Exists())
        return;
    m_settings->setValue(QLatin1String(kShareListen), listen);
    m_settings->sync();
}

int CPrefStore::ReadChoice(const char *key, int lo, int hi, int fallback) const
{
    int value = 0;
    if (!Exists() || !ReadNumber(m_settings->value(QLatin1String(key)), value) || value < lo ||
        value > hi)
        return fallback;
    return value;
}

void CPrefStore::WriteChoice(const char *key, int value)
{
    if (!Exists())
        return;
    m_settings->setValue(QLatin1String(key), value);
    m_settings->sync();
}

bool CPrefStore::ReadAutoReconnect() const
{
    return ReadChoice(kAutoReconnect, 0, 1, 1) == 1;
}

void CPrefStore::WriteAutoReconnect(bool on)
{
    WriteChoice(kAutoReconnect, on ? 1 : 0);
}

bool CPrefStore::ReadShowStats() const
{
    return ReadChoice(kShowStats, 0, 1, 0) == 1;
}

void CPrefStore::WriteShowStats(bool on)
{
    WriteChoice(kShowStats, on ? 1 : 0);
}

bool CPrefStore::ReadDigitRowAsKeypad() const
{
    return ReadChoice(kDigitRowAsKeypad, 0, 1, 0) == 1;
}

void CPrefStore::WriteDigitRowAsKeypad(bool on)
{
    WriteChoice(kDigitRowAsKeypad, on ? 1 : 0);
}

bool CPrefStore::ReadStayOnTop() const
{
    return ReadChoice(kStayOnTop, 0, 1, 0) == 1;
}

void CPrefStore::WriteStayOnTop(bool on)
{
    WriteChoice(kStayOnTop, on ? 1 : 0);
}

int CPrefStore::ReadRefresh() const
{
    return ReadChoice(kRefresh, 0, 1, 0);
}

void CPrefStore::WriteRefresh(int mode)
{
    WriteChoice(kRefresh, mode == 1 ? 1 : 0);
}

QString CPrefStore::ReadIPv6()
{
    QString text;
    if (Exists() && ReadText(m_settings->value(QLatin1String(kIPv6)), text))
        return text;
    return QLatin1String(kDefaultIPv6);
}

QVariant CPrefStore::StoredValue(const QString &name) const
{
    if (!Exists())
        return {};
    return m_settings->value(QLatin1String(kGroup) + QLatin1Char('/') + name);
}
