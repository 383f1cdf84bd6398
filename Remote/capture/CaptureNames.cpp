#include "CaptureNames.h"

namespace capture {

namespace {

constexpr int kMaxModelChars = 32;
constexpr const char *kUnknownModel = "unknown";
constexpr const char *kPrefix = "KLRemote_";
constexpr const char *kStampFormat = "yyyyMMdd_HHmmss";

bool KeptInName(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || (u >= '0' && u <= '9') || u == '-';
}

} // namespace

QString PrintableText(const QByteArray &text, qsizetype maxChars)
{
    QString out;
    for (const char c : text) {
        if (c == '\0' || out.size() >= maxChars)
            break;
        if (c >= 0x20 && c < 0x7F)
            out += QLatin1Char(c);
    }
    return out.trimmed();
}

QString ModelOfIdentification(const QByteArray &equipInfo)
{
    return PrintableText(equipInfo, equipInfo.size());
}

QString ModelForFileName(const QString &model)
{
    QString out;
    bool gap = false;
    for (const QChar c : model) {
        if (KeptInName(c)) {
            if (gap && !out.isEmpty())
                out += QLatin1Char('_');
            gap = false;
            out += c;
        } else {
            gap = true;
        }
    }
    out.truncate(kMaxModelChars);
    return out.isEmpty() ? QString::fromLatin1(kUnknownModel) : out;
}

QString CaptureBaseName(const QString &model, const QDateTime &localTime)
{
    return QString::fromLatin1(kPrefix) + ModelForFileName(model) + QLatin1Char('_') +
           localTime.toString(QString::fromLatin1(kStampFormat));
}

QString CandidateName(const QString &base, int n, const QString &extension)
{
    const QString stem = n <= 1 ? base : base + QStringLiteral("_%1").arg(n);
    return stem + QLatin1Char('.') + extension;
}

} // namespace capture
