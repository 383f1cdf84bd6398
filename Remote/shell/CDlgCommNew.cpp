#include "CDlgCommNew.h"

#include "CIpAddressCtrl.h"
#include "CPrefStore.h"

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
QRect Dlu(int x, int y, int w, int h)
{
    return QRect(static_cast<int>(std::lround(x * 1.5)), static_cast<int>(std::lround(y * 1.625)),
                 static_cast<int>(std::lround(w * 1.5)), static_cast<int>(std::lround(h * 1.625)));
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
    setFixedSize(Dlu(0, 0, 240, 106).size());

    m_radioIPv4 = new QRadioButton(QLatin1String(kTextIPv4), this);
    m_radioIPv4->setObjectName(QString::number(IDC_RADIO_IPV4));
    m_radioIPv4->setGeometry(Dlu(20, 17, 60, 10));

    m_radioIPv6 = new QRadioButton(QLatin1String(kTextIPv6), this);
    m_radioIPv6->setObjectName(QString::number(IDC_RADIO_IPV6));
    m_radioIPv6->setGeometry(Dlu(19, 42, 60, 10));

    m_radioUsb = new QRadioButton(QLatin1String(kTextUsb), this);
    m_radioUsb->setObjectName(QString::number(IDC_RADIO_USB));
    m_radioUsb->setGeometry(Dlu(20, 63, 29, 10));

    m_ipv4 = new CIpAddressCtrl(this);
    m_ipv4->setObjectName(QString::number(IDC_IPADDRESS));
    m_ipv4->setGeometry(Dlu(99, 15, 100, 15));

    m_ipv6 = new QLineEdit(this);
    m_ipv6->setObjectName(QString::number(IDC_EDIT_IPV6));
    m_ipv6->setGeometry(Dlu(99, 40, 99, 14));

    m_ok = new QPushButton(QLatin1String(kTextOk), this);
    m_ok->setObjectName(QString::number(IDC_OK));
    m_ok->setGeometry(Dlu(183, 85, 50, 14));
    m_ok->setAutoDefault(false);
    m_ok->setDefault(false);

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
