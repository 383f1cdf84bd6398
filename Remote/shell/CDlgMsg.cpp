#include "CDlgMsg.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <cmath>

#if KLR_HAVE_RES
#include "Resources.h"
#endif

namespace {

constexpr int kIdLine1 = 1067;
constexpr int kIdLine2 = 1068;
constexpr int kIdLine3 = 1069;
constexpr int kIdLine4 = 1070;
constexpr int kIdOk = 1;

constexpr const char *kTitleTcp = "Connection Failed";
constexpr const char *kTitleUsb = "Cannot Connect to the Intrument";

constexpr const char *kLine1 =
    "Remote Controller cannot connect to the remote instrument for the one of these reasons:";
constexpr const char *kLine2 = "  1) The remote instrument is turned off";
constexpr const char *kLine3 = "  2) The remote instrument is not available on the network";
constexpr const char *kLine4 =
    "Make sure the remote instrument is turned on and connected to the network";

constexpr const char *kLine2NoAnswer = "  1) IP you entered is being used by another program";
constexpr const char *kLine3NoAnswer =
    "  2) The remote instrument is being used by another program";
constexpr const char *kLine4NoAnswer =
    "Make sure the remote instrument is connected to the network, and no other program is "
    "connected to it.  If you are not sure, try again after rebooting the remote instrument.";

constexpr int kKindTcp = 1;
constexpr int kKindNoAnswer = 3;

constexpr const char *kOk = "OK";

constexpr const char *kProduct = "Remote";
constexpr const char *kVersion = "2.0";
constexpr const char *kAboutTitleFormat = "KL%s Infomation";
constexpr const char *kAboutVersionFormat = "KL%s, Version %s";
constexpr const char *kAboutLine2 = "Remote front panel for handheld RF analysers";
constexpr int kIdAboutVersion = 1065;
constexpr int kIdAboutLine2 = 1066;

// The system-menu entry that opens the About box.
constexpr const char *kInformationText = "Infomation";
constexpr int kIdmAboutBox = 16;

// Dialog units of an 8 pt font are about 1.5 x 1.625 pixels, of a 9 pt font 1.75 x 1.875.
QRect Dlu(int x, int y, int w, int h, double sx, double sy)
{
    return QRect(static_cast<int>(std::lround(x * sx)), static_cast<int>(std::lround(y * sy)),
                 static_cast<int>(std::lround(w * sx)), static_cast<int>(std::lround(h * sy)));
}

QRect Dlu8(int x, int y, int w, int h)
{
    return Dlu(x, y, w, h, 1.5, 1.625);
}
QRect Dlu9(int x, int y, int w, int h)
{
    return Dlu(x, y, w, h, 1.75, 1.875);
}

QPushButton *AddOkButton(QDialog *dialog, const QRect &geometry)
{
    auto *ok = new QPushButton(QLatin1String(kOk), dialog);
    ok->setObjectName(QString::number(kIdOk));
    ok->setGeometry(geometry);
    ok->setDefault(true);
    QObject::connect(ok, &QPushButton::clicked, dialog, &QDialog::accept);
    return ok;
}

} // namespace

CDlgMsg::CDlgMsg(int kind, QWidget *parent) : QDialog(parent), m_lines{}
{
    setObjectName(QStringLiteral("239"));
    setFixedSize(Dlu8(0, 0, 320, 90).size());

    const int ids[4] = {kIdLine1, kIdLine2, kIdLine3, kIdLine4};
    const QRect places[4] = {Dlu8(7, 7, 306, 12), Dlu8(7, 21, 306, 12), Dlu8(7, 33, 306, 12),
                             Dlu8(7, 50, 306, 16)};
    const char *texts[4] = {kLine1, kLine2, kLine3, kLine4};
    for (int i = 0; i < 4; ++i) {
        auto *label = new QLabel(QLatin1String(texts[i]), this);
        label->setObjectName(QString::number(ids[i]));
        label->setGeometry(places[i]);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        m_lines[i] = label;
    }
    m_lines[3]->setWordWrap(true);
    AddOkButton(this, Dlu8(263, 69, 50, 14));

    if (kind == kKindNoAnswer) {
        setWindowTitle(QLatin1String(kTitleTcp));
        m_lines[1]->setText(QLatin1String(kLine2NoAnswer));
        m_lines[2]->setText(QLatin1String(kLine3NoAnswer));
        m_lines[3]->setText(QLatin1String(kLine4NoAnswer));
    } else if (kind == kKindTcp) {
        setWindowTitle(QLatin1String(kTitleTcp));
    } else {
        setWindowTitle(QLatin1String(kTitleUsb));
    }
    m_lines[3]->show();
}

QString CDlgMsg::LineText(int controlId) const
{
    if (controlId < kIdLine1 || controlId > kIdLine4)
        return QString();
    return m_lines[controlId - kIdLine1]->text();
}

CAboutDlg::CAboutDlg(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("100"));
    setFixedSize(Dlu9(0, 0, 197, 62).size());
    setWindowTitle(QString::asprintf(kAboutTitleFormat, kProduct));

    auto *icon = new QLabel(this);
    icon->setGeometry(Dlu9(14, 14, 20, 20));
#if KLR_HAVE_RES
    const QIcon appIcon = res::LoadIcon(res::IDR_MAINFRAME);
    if (!appIcon.isNull())
        icon->setPixmap(appIcon.pixmap(icon->size()));
#endif

    auto *version = new QLabel(QString::asprintf(kAboutVersionFormat, kProduct, kVersion), this);
    version->setObjectName(QString::number(kIdAboutVersion));
    version->setGeometry(Dlu9(42, 14, 141, 8));

    auto *line2 = new QLabel(QLatin1String(kAboutLine2), this);
    line2->setObjectName(QString::number(kIdAboutLine2));
    line2->setGeometry(Dlu9(42, 26, 141, 8));

    AddOkButton(this, Dlu9(140, 41, 50, 14));
}

QAction *CAboutDlg::AddInformationAction(QMenu *menu, QWidget *parent)
{
    const QString text = QLatin1String(kInformationText);
    if (!menu || text.isEmpty())
        return nullptr;
    menu->addSeparator();
    QAction *action = menu->addAction(text);
    action->setData(kIdmAboutBox);
    QObject::connect(action, &QAction::triggered, parent ? parent : menu, [parent] {
        CAboutDlg about(parent);
        about.exec();
    });
    return action;
}
