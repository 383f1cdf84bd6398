#include "CPrefStore.h"

#include <QSettings>
#include <QVariant>
#include <cstdint>

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

constexpr const char *kUnsetIPv4 = "0.0.0.0";
// Texts are read into a 256-byte buffer including its terminator; longer ones do not read.
constexpr qsizetype kMaxTextBytes = 255;

constexpr int kMethodUsb = 2;

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

CPrefStore::CPrefStore()
    : m_settings(std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                             QLatin1String(kOrganisation),
                                             QLatin1String(kApplication)))
{}

CPrefStore::CPrefStore(const QString &iniPath)
    : m_settings(std::make_unique<QSettings>(iniPath, QSettings::IniFormat))
{}

CPrefStore::~CPrefStore() = default;

bool CPrefStore::Exists() const
{
    // Pick up changes made by another copy of the program since this one last looked.
    m_settings->sync();
    m_settings->beginGroup(QLatin1String(kGroup));
    const bool any = !m_settings->childKeys().isEmpty() || !m_settings->childGroups().isEmpty();
    m_settings->endGroup();
    return any;
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
    if (method == 1)
        m_settings->setValue(QLatin1String(kIPv4), ipv4);
    else if (method == 3)
        m_settings->setValue(QLatin1String(kIPv6), ipv6);
    m_settings->setValue(QLatin1String(kMethod), method);
    m_settings->sync();
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

QString CPrefStore::ReadIPv6()
{
    QString text;
    if (Exists() && ReadText(m_settings->value(QLatin1String(kIPv6)), text))
        return text;
    return QLatin1String(kDefaultIPv6);
}
