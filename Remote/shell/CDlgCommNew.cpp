#include "CDlgCommNew.h"

#include "CIpAddressCtrl.h"
#include "CPrefStore.h"
#include "DialogFit.h"

#include <QGridLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <cmath>

namespace {

constexpr const char *kTitle = "Communication";
constexpr const char *kTextIPv4 = "TCP/IP (IPv4)";
constexpr const char *kTextIPv6 = "TCP/IP (IPv6)";
constexpr const char *kTextUsb = "USB";
constexpr const char *kTextOk = "OK";

constexpr int kMethodIPv4 = 1;
constexpr int kMethodUsb = 2;
constexpr int kMethodIPv6 = 3;

// Template geometry is in dialog units of an 8 pt font: about 1.5 pixels across, 1.625 down.
int DluX(int x)
{
    return static_cast<int>(std::lround(x * 1.5));
}
int DluY(int y)
{
    return static_cast<int>(std::lround(y * 1.625));
}
QSize Dlu(int w, int h)
{
    return QSize(DluX(w), DluY(h));
}

// The decimal number at the start of the text (as atoi reads it, 0 when there is none), kept
// to its low 8 bits. Working modulo 256 gives the same low bits for numbers of any length.
int LeadingNumberLow8(const QString &text)
{
    qsizetype i = 0;
    while (i < text.size() && (text[i] == QLatin1Char(' ') || text[i] == QLatin1Char('\t')))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }
    unsigned value = 0;
    for (; i < text.size() && text[i] >= QLatin1Char('0') && text[i] <= QLatin1Char('9'); ++i)
        value = (value * 10 + static_cast<unsigned>(text[i].unicode() - '0')) & 0xFFu;
    if (negative)
        value = (0x100u - value) & 0xFFu;
    return static_cast<int>(value);
}

} // namespace

CDlgCommNew::CDlgCommNew(CPrefStore *store, QWidget *parent) : QDialog(parent), m_store(store)
{
    setObjectName(QString::number(IDD));
    setWindowTitle(QLatin1String(kTitle));

    m_radioIPv4 = new QRadioButton(QLatin1String(kTextIPv4), this);
    m_radioIPv4->setObjectName(QString::number(IDC_RADIO_IPV4));
    m_radioIPv6 = new QRadioButton(QLatin1String(kTextIPv6), this);
    m_radioIPv6->setObjectName(QString::number(IDC_RADIO_IPV6));
    m_radioUsb = new QRadioButton(QLatin1String(kTextUsb), this);
    m_radioUsb->setObjectName(QString::number(IDC_RADIO_USB));
    // A label is never cut short to make room; each radio is as wide as its text, so that
    // a click beside a short label does not count.
    for (QRadioButton *radio : {m_radioIPv4, m_radioIPv6, m_radioUsb})
        radio->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Fixed);

    m_ipv4 = new CIpAddressCtrl(this);
    m_ipv4->setObjectName(QString::number(IDC_IPADDRESS));
    SetLeastSize(m_ipv4, Dlu(100, 15));
    m_ipv6 = new QLineEdit(this);
    m_ipv6->setObjectName(QString::number(IDC_EDIT_IPV6));
    SetLeastSize(m_ipv6, Dlu(99, 14));

    m_ok = new QPushButton(QLatin1String(kTextOk), this);
    m_ok->setObjectName(QString::number(IDC_OK));
    SetLeastSize(m_ok, Dlu(50, 14));
    m_ok->setAutoDefault(false);
    m_ok->setDefault(false);

    // Each address beside its method, USB below them, OK in the bottom right corner; the
    // radio labels take the width their text needs.
    auto *grid = new QGridLayout(this);
    grid->setContentsMargins(DluX(19), DluY(15), DluX(7), DluY(7));
    grid->setHorizontalSpacing(DluX(12));
    grid->setVerticalSpacing(DluY(9));
    grid->addWidget(m_radioIPv4, 0, 0, Qt::AlignLeft | Qt::AlignVCenter);
    grid->addWidget(m_ipv4, 0, 1);
    grid->addWidget(m_radioIPv6, 1, 0, Qt::AlignLeft | Qt::AlignVCenter);
    grid->addWidget(m_ipv6, 1, 1);
    grid->addWidget(m_radioUsb, 2, 0, Qt::AlignLeft | Qt::AlignVCenter);
    grid->setColumnStretch(2, 1);
    grid->setRowStretch(3, 1);
    grid->addWidget(m_ok, 4, 0, 1, 3, Qt::AlignRight);
    FitDialogToTexts(this, Dlu(240, 106));

    // The radio buttons check themselves (one group); a click only changes which address is usable.
    connect(m_radioIPv4, &QRadioButton::clicked, this, [this] { ApplyMethod(kMethodIPv4); });
    connect(m_radioIPv6, &QRadioButton::clicked, this, [this] { ApplyMethod(kMethodIPv6); });
    connect(m_radioUsb, &QRadioButton::clicked, this, [this] { ApplyMethod(kMethodUsb); });
    connect(m_ok, &QPushButton::clicked, this, &CDlgCommNew::OnOk);
}

void CDlgCommNew::SplitIPv4(const QString &text, int fields[4])
{
    QString rest = text;
    for (int i = 0; i < 3; ++i) {
        const qsizetype dot = rest.indexOf(QLatin1Char('.'));
        if (dot < 0) {
            fields[i] = 0;
            continue;
        }
        fields[i] = LeadingNumberLow8(rest.left(dot));
        rest = rest.mid(dot + 1);
    }
    fields[3] = LeadingNumberLow8(rest);
}

void CDlgCommNew::InitDialog()
{
    int fields[4];
    SplitIPv4(m_strIPv4, fields);
    m_ipv4->SetAddress(fields);
    // The stored address, not the caller's copy: the two may differ until the next confirm.
    m_ipv6->setText(m_store ? m_store->ReadIPv6() : QString::fromLatin1(kDefaultIPv6));
    switch (m_nConnMethod) {
    case kMethodIPv4:
        m_radioIPv4->setChecked(true);
        ApplyMethod(kMethodIPv4);
        break;
    case kMethodIPv6:
        m_radioIPv6->setChecked(true);
        ApplyMethod(kMethodIPv6);
        break;
    default:
        m_radioUsb->setChecked(true);
        ApplyMethod(kMethodUsb);
        break;
    }
}

int CDlgCommNew::exec()
{
    InitDialog();
    return QDialog::exec();
}

void CDlgCommNew::ApplyMethod(int method)
{
    m_ipv4->setEnabled(method == kMethodIPv4);
    m_ipv6->setEnabled(method == kMethodIPv6);
}

void CDlgCommNew::OnOk()
{
    int fields[4];
    m_ipv4->GetAddress(fields);
    m_strIPv4 = QString::asprintf("%d.%d.%d.%d", fields[0], fields[1], fields[2], fields[3]);
    m_strIPv6 = m_ipv6->text();
    if (m_radioIPv4->isChecked())
        m_nConnMethod = kMethodIPv4;
    else if (m_radioIPv6->isChecked())
        m_nConnMethod = kMethodIPv6;
    else
        m_nConnMethod = kMethodUsb;
    accept();
}

void CDlgCommNew::keyPressEvent(QKeyEvent *event)
{
    // There is no default button; Enter confirms exactly as the OK button does, so the
    // address fields are always captured.
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        OnOk();
        return;
    }
    QDialog::keyPressEvent(event);
}
