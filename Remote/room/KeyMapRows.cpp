#include "KeyMapRows.h"

#include "ArtLayout.h"

#include <QKeySequence>
#include <QStringList>

namespace {

constexpr const char *kKeypadPrefix = "Numeric pad ";
constexpr const char *kSoftKeyFormat = "Soft key %1";

QString PcKeysText(std::initializer_list<int> keys, bool keypadOnly, bool digitRow)
{
    QStringList names;
    for (int key : keys)
        if (key != 0)
            names << PcKeyName(key, keypadOnly);
    if (keypadOnly && digitRow)
        for (int key : keys)
            if (key != 0)
                names << PcKeyName(key, false);
    return names.join(QStringLiteral(", "));
}

} // namespace

QString PcKeyName(int qtKey, bool keypad)
{
    // Both Enter keys count as one; it is called Enter on the keys themselves.
    const QString name = qtKey == Qt::Key_Return
                             ? QStringLiteral("Enter")
                             : QKeySequence(qtKey).toString(QKeySequence::NativeText);
    return keypad ? QLatin1String(kKeypadPrefix) + name : name;
}

std::vector<KeyMapRow> KeyMapRows(KeyTable table, bool digitRowAsKeypad)
{
    namespace layout = res::layout;
    std::vector<KeyMapRow> rows;
    if (table == KeyTable::Kkc) {
        for (const layout::KkcKey &key : layout::KkcKeys()) {
            if (key.pcKeys[0] == 0 && key.pcKeys[1] == 0)
                continue;
            rows.push_back(
                {key.id,
                 PcKeysText({key.pcKeys[0], key.pcKeys[1]}, key.keypadOnly, digitRowAsKeypad),
                 QString::fromUtf8(key.legend), QString::fromLatin1(key.command)});
        }
        return rows;
    }
    for (const layout::LkKey &key : layout::LkKeys()) {
        if (key.pcKey == 0)
            continue;
        QString panelKey = QString::fromUtf8(key.legend);
        if (key.id >= layout::kLkFirstSoftKey && key.id <= layout::kLkLastSoftKey)
            panelKey =
                QString::fromLatin1(kSoftKeyFormat).arg(key.id - layout::kLkFirstSoftKey + 1);
        else if (key.panelLegend)
            panelKey = QString::fromUtf8(key.panelLegend) + QStringLiteral(" / ") + panelKey;
        rows.push_back({key.id, PcKeysText({key.pcKey}, key.keypadOnly, digitRowAsKeypad), panelKey,
                        QString::fromLatin1(key.command)});
    }
    return rows;
}
