#include "CDlgMsg.h"

#include "DialogFit.h"

#include <QAction>
#include <QBoxLayout>
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
struct DialogUnits
{
    double x, y;
    int X(int dlu) const { return static_cast<int>(std::lround(dlu * x)); }
    int Y(int dlu) const { return static_cast<int>(std::lround(dlu * y)); }
    QSize Size(int w, int h) const { return QSize(X(w), Y(h)); }
};
constexpr DialogUnits kUnits8{1.5, 1.625};
constexpr DialogUnits kUnits9{1.75, 1.875};

// The one button of each box, in a row of its own on the right, at least its template size.
void AddOkRow(QDialog *dialog, QBoxLayout *layout, const QSize &least)
{
    auto *ok = new QPushButton(QLatin1String(kOk), dialog);
    ok->setObjectName(QString::number(kIdOk));
    SetLeastSize(ok, least);
    ok->setDefault(true);
    QObject::connect(ok, &QPushButton::clicked, dialog, &QDialog::accept);
    auto *row = new QHBoxLayout;
    row->addStretch(1);
    row->addWidget(ok);
    layout->addLayout(row);
}

} // namespace

CDlgMsg::CDlgMsg(int kind, QWidget *parent) : QDialog(parent), m_lines{}
{
    setObjectName(QStringLiteral("239"));

    const int ids[4] = {kIdLine1, kIdLine2, kIdLine3, kIdLine4};
    const char *texts[4] = {kLine1, kLine2, kLine3, kLine4};
    for (int i = 0; i < 4; ++i)
        m_lines[i] = MakeWrappedLabel(QLatin1String(texts[i]), ids[i], this);

    // The template's margins and gaps: 7 units around, the two reasons together below the
    // first line, the advice set apart.
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(kUnits8.X(7), kUnits8.Y(7), kUnits8.X(7), kUnits8.Y(7));
    layout->setSpacing(0);
    layout->addWidget(m_lines[0]);
    layout->addSpacing(kUnits8.Y(2));
    layout->addWidget(m_lines[1]);
    layout->addWidget(m_lines[2]);
    layout->addSpacing(kUnits8.Y(5));
    layout->addWidget(m_lines[3]);
    layout->addStretch(1);
    layout->addSpacing(kUnits8.Y(3));
    AddOkRow(this, layout, kUnits8.Size(50, 14));

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
    FitDialogToTexts(this, kUnits8.Size(320, 90));
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
    setWindowTitle(QString::asprintf(kAboutTitleFormat, kProduct));

    auto *icon = new QLabel(this);
    icon->setFixedSize(kUnits9.Size(20, 20));
#if KLR_HAVE_RES
    const QIcon appIcon = res::LoadIcon(res::IDR_MAINFRAME);
    if (!appIcon.isNull())
        icon->setPixmap(appIcon.pixmap(icon->size()));
#endif

    QLabel *version = MakeWrappedLabel(QString::asprintf(kAboutVersionFormat, kProduct, kVersion),
                                       kIdAboutVersion, this);
    QLabel *line2 = MakeWrappedLabel(QLatin1String(kAboutLine2), kIdAboutLine2, this);

    // The icon at the left, the two lines beside it, OK below on the right.
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(kUnits9.X(14), kUnits9.Y(14), kUnits9.X(7), kUnits9.Y(7));
    layout->setSpacing(0);
    auto *body = new QHBoxLayout;
    body->setSpacing(kUnits9.X(8));
    body->addWidget(icon, 0, Qt::AlignTop);
    auto *lines = new QVBoxLayout;
    lines->setSpacing(kUnits9.Y(4));
    lines->addWidget(version);
    lines->addWidget(line2);
    body->addLayout(lines, 1);
    layout->addLayout(body);
    layout->addStretch(1);
    layout->addSpacing(kUnits9.Y(4));
    AddOkRow(this, layout, kUnits9.Size(50, 14));

    FitDialogToTexts(this, kUnits9.Size(197, 62));
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
