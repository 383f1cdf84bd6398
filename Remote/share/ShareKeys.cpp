#include "ShareKeys.h"

#include "ArtLayout.h"

#include <QByteArrayView>

namespace share {

namespace {

constexpr const char *kSoftPrefix = "KEYP:CUS";

} // namespace

std::vector<ShareKey> KkcKeys()
{
    std::vector<ShareKey> keys;
    for (const res::layout::KkcKey &key : res::layout::KkcKeys())
        keys.push_back({QString::fromUtf8(key.legend), QString::fromLatin1(key.command)});
    keys.push_back({QStringLiteral("Knob \u25C0"), QStringLiteral("KEYP:LEFT")});
    keys.push_back({QStringLiteral("Knob \u25B6"), QStringLiteral("KEYP:RIGHT")});
    return keys;
}

std::vector<ShareKey> LkKeys()
{
    std::vector<ShareKey> keys;
    for (const res::layout::LkKey &key : res::layout::LkKeys()) {
        QString label = QString::fromUtf8(key.legend);
        // The seven soft keys carry the same arrow: the page names them by number.
        if (const QByteArrayView command(key.command); command.startsWith(kSoftPrefix))
            label = QStringLiteral("Soft ") + QString::fromLatin1(command.sliced(8));
        else if (key.panelLegend)
            label += QLatin1Char(' ') + QString::fromUtf8(key.panelLegend);
        keys.push_back({label, QString::fromLatin1(key.command)});
    }
    return keys;
}

} // namespace share
