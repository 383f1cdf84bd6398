#include "WholeScaleFactors.h"

#include <QGuiApplication>
#include <QList>
#include <cmath>

namespace {

constexpr const char *kScaleFactor = "QT_SCALE_FACTOR";
constexpr const char *kScreenScaleFactors = "QT_SCREEN_SCALE_FACTORS";
constexpr const char *kRoundingPolicy = "QT_SCALE_FACTOR_ROUNDING_POLICY";

// The fraction from which the policy rounds up.
constexpr double kRoundUpFrom = 0.75;

} // namespace

int WholeScaleFactor(double factor)
{
    if (!std::isfinite(factor) || factor < 1.0)
        return 1;
    const double whole = std::floor(factor);
    const double rounded = factor - whole >= kRoundUpFrom ? whole + 1.0 : whole;
    // A factor beyond any screen is not worth an overflow.
    return rounded > 64.0 ? 64 : static_cast<int>(rounded);
}

QByteArray WholeScreenScaleFactors(const QByteArray &list)
{
    QList<QByteArray> entries = list.split(';');
    for (QByteArray &entry : entries) {
        const qsizetype equals = entry.lastIndexOf('=');
        const QByteArray name = equals >= 0 ? entry.left(equals + 1) : QByteArray();
        bool ok = false;
        const double factor = entry.mid(equals + 1).toDouble(&ok);
        if (ok)
            entry = name + QByteArray::number(WholeScaleFactor(factor));
    }
    return entries.join(';');
}

void KeepWholeScaleFactors()
{
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(
        Qt::HighDpiScaleFactorRoundingPolicy::RoundPreferFloor);
    // The variable would override the policy above.
    qunsetenv(kRoundingPolicy);
    if (qEnvironmentVariableIsSet(kScaleFactor)) {
        bool ok = false;
        const double factor = qgetenv(kScaleFactor).toDouble(&ok);
        if (ok)
            qputenv(kScaleFactor, QByteArray::number(WholeScaleFactor(factor)));
    }
    if (qEnvironmentVariableIsSet(kScreenScaleFactors))
        qputenv(kScreenScaleFactors, WholeScreenScaleFactors(qgetenv(kScreenScaleFactors)));
}
