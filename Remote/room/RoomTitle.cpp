#include "RoomTitle.h"

namespace {
constexpr const char *kSeparator = " - ";
constexpr const char *kUsb = "USB";
} // namespace

QString ModelOfReply(const QByteArray &equipInfo)
{
    const qsizetype end = equipInfo.indexOf('\0');
    const QByteArray text = end < 0 ? equipInfo : equipInfo.left(end);
    QString model;
    for (const char c : text) {
        if (model.size() >= kMaxModelChars)
            break;
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F)
            continue;
        model += byte < 0x80 ? QChar(byte) : QChar('?');
    }
    return model.trimmed();
}

QString ConnectedTitle(const QString &plain, const QByteArray &equipInfo, int method,
                       const QString &ipv4, const QString &ipv6)
{
    QString title = plain;
    const QString model = ModelOfReply(equipInfo);
    if (!model.isEmpty())
        title += QLatin1String(kSeparator) + model;
    const QString address = method == 1 ? ipv4 : method == 3 ? ipv6 : QString::fromLatin1(kUsb);
    return title + QLatin1String(kSeparator) + address;
}
