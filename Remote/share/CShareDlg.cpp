#include "CShareDlg.h"

#include "CShareFeature.h"
#include "ShareHttp.h"

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkInterface>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {

constexpr const char *kTitle = "Share in Browser";
constexpr const char *kAddressLabel = "Listen on:";
constexpr const char *kPortLabel = "Port:";
constexpr const char *kThisComputer = "127.0.0.1";
constexpr const char *kEveryNetwork = "0.0.0.0";
constexpr const char *kControlText = "Allow control from the browser (keys and screen touches)";
constexpr const char *kStartText = "Start Sharing";
constexpr const char *kStopText = "Stop Sharing";
constexpr const char *kUrlLabel = "Open this address in a browser:";
constexpr const char *kCopyText = "Copy";
constexpr const char *kNotSharing = "Not sharing.";
constexpr const char *kSharing = "Sharing. Viewers: %1 of %2.";
constexpr const char *kCannotShare = "Cannot share on %1: %2";
constexpr const char *kBadAddress = "Not an address to listen on: %1";
constexpr const char *kHint =
    "127.0.0.1 shows the screen on this computer only; 0.0.0.0 or one of this computer's "
    "addresses shows it to the room. Anyone who can open the address sees the screen; with "
    "control allowed, only an address with its token can press keys.";

} // namespace

CShareDlg::CShareDlg(CShareFeature &feature, QWidget *parent) : QDialog(parent), m_feature(feature)
{
    setWindowTitle(QString::fromLatin1(kTitle));
    auto *layout = new QVBoxLayout(this);
    auto *form = new QFormLayout;
    layout->addLayout(form);

    m_address = new QComboBox(this);
    m_address->setEditable(true);
    m_address->addItem(QString::fromLatin1(kThisComputer));
    m_address->addItem(QString::fromLatin1(kEveryNetwork));
    for (const QHostAddress &a : QNetworkInterface::allAddresses()) {
        if (a.protocol() == QAbstractSocket::IPv4Protocol && !a.isLoopback())
            m_address->addItem(a.toString());
    }
    m_port = new QSpinBox(this);
    m_port->setRange(1, 65535);
    QHostAddress lastAddress(QHostAddress::LocalHost);
    quint16 lastPort = 8080;
    QString ignored;
    share::ParseListen(m_feature.LastListen(), lastAddress, lastPort, ignored);
    m_address->setCurrentText(lastAddress.toString());
    m_port->setValue(lastPort == 0 ? 8080 : lastPort);
    form->addRow(QString::fromLatin1(kAddressLabel), m_address);
    form->addRow(QString::fromLatin1(kPortLabel), m_port);

    m_control = new QCheckBox(QString::fromLatin1(kControlText), this);
    m_control->setChecked(m_feature.Server().ControlAllowed());
    layout->addWidget(m_control);

    m_start = new QPushButton(this);
    auto *startRow = new QHBoxLayout;
    startRow->addWidget(m_start);
    startRow->addStretch();
    layout->addLayout(startRow);

    layout->addWidget(new QLabel(QString::fromLatin1(kUrlLabel), this));
    auto *urlRow = new QHBoxLayout;
    m_url = new QLineEdit(this);
    m_url->setReadOnly(true);
    m_url->setMinimumWidth(m_url->fontMetrics().horizontalAdvance(QLatin1Char('0')) * 62);
    m_copy = new QPushButton(QString::fromLatin1(kCopyText), this);
    urlRow->addWidget(m_url, 1);
    urlRow->addWidget(m_copy);
    layout->addLayout(urlRow);

    m_status = new QLabel(this);
    m_status->setWordWrap(true);
    layout->addWidget(m_status);
    auto *hint = new QLabel(QString::fromLatin1(kHint), this);
    hint->setWordWrap(true);
    layout->addWidget(hint);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    layout->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::close);
    connect(m_start, &QPushButton::clicked, this, &CShareDlg::OnStartStop);
    connect(m_control, &QCheckBox::toggled, this, [this](bool on) {
        m_feature.SetControlAllowed(on);
        Refresh();
    });
    connect(m_copy, &QPushButton::clicked, this,
            [this] { QGuiApplication::clipboard()->setText(m_url->text()); });
    connect(&m_feature.Server(), &CShareServer::viewersChanged, this, &CShareDlg::Refresh);
    connect(&m_feature.Server(), &CShareServer::listeningChanged, this, &CShareDlg::Refresh);
    Refresh();
}

QString CShareDlg::UrlText() const
{
    return m_url->text();
}

QString CShareDlg::StatusText() const
{
    return m_status->text();
}

void CShareDlg::OnStartStop()
{
    if (m_feature.Server().IsListening()) {
        m_feature.Stop();
        return;
    }
    m_error.clear();
    QHostAddress address;
    const QString text = m_address->currentText().trimmed();
    if (!share::ParseHost(text, address))
        m_error = QString::fromLatin1(kBadAddress).arg(text);
    QString error;
    if (m_error.isEmpty() && !m_feature.Start(address, quint16(m_port->value()), error))
        m_error = QString::fromLatin1(kCannotShare)
                      .arg(share::ListenText(address, quint16(m_port->value())), error);
    Refresh();
}

void CShareDlg::Refresh()
{
    const CShareServer &server = m_feature.Server();
    const bool sharing = server.IsListening();
    m_start->setText(QString::fromLatin1(sharing ? kStopText : kStartText));
    m_address->setEnabled(!sharing);
    m_port->setEnabled(!sharing);
    if (sharing) {
        // Shared from the command line, or on a port the system picked: show where.
        m_address->setCurrentText(server.Address().toString());
        m_port->setValue(server.Port());
    }
    m_url->setText(sharing ? server.PageUrl().toString() : QString());
    m_copy->setEnabled(sharing);
    if (sharing)
        m_error.clear();
    m_status->setText(
        !m_error.isEmpty() ? m_error
        : sharing ? QString::fromLatin1(kSharing).arg(server.ViewerCount()).arg(share::kMaxViewers)
                  : QString::fromLatin1(kNotSharing));
}
