#include "CRemoteDlgKKC.h"

#include "CKnobButton.h"
#include "CLog.h"
#include "CQxButton.h"
#include "KkcKeyTable.h"
#include "Resources.h"

#include <QKeyEvent>
#include <QPainter>

namespace {

constexpr const char *kKnobRightShort = "KEYP:RIGH";
constexpr const char *kKnobRight = "KEYP:RIGHT";
constexpr int kKnobX = 787;
constexpr int kKnobY = 530;
constexpr int kKnobSize = 140;
constexpr int kPanelWidth = 1023;
constexpr int kPanelHeight = 679;

} // namespace

CRemoteDlgKKC::CRemoteDlgKKC(CPrefStore *store, CSessionPresenter *presenter, QWidget *parent)
    : CRemoteDlg(store, presenter, parent)
{
    m_rcScreen = QRect(111, 25, 800, 480);
    setMinimumSize(kMinWidth, kMinHeight);
    setMaximumSize(kWidth, kHeight);
    setFocusPolicy(Qt::StrongFocus);
}

CRemoteDlgKKC::~CRemoteDlgKKC()
{
    // The refresh worker calls this class's overrides: it must end before they go.
    TearDown();
}

void CRemoteDlgKKC::CreatePanel()
{
    m_panel = res::LoadBitmap(res::IDB_PANEL_KKC);
    for (const KkcKey &key : KkcKeys()) {
        auto *button = new CQxButton(this, key.id);
        button->setObjectName(QString::number(key.id));
        button->setText(QString::fromUtf8(key.label));
        button->setFocusPolicy(Qt::NoFocus);
        button->setGeometry(key.x, key.y, key.width, key.height);
        m_keys[key.id] = button;
        SetKeyFaces(key.id, false);
        const int id = key.id;
        connect(button, &QAbstractButton::clicked, this, [this, id] { OnCommand(id); });
    }

    m_knob = new CKnobButton(this, ids::IDC_KKC_KNOB);
    m_knob->setObjectName(QString::number(ids::IDC_KKC_KNOB));
    m_knob->setText(QStringLiteral("Knob"));
    m_knob->setGeometry(kKnobX, kKnobY, kKnobSize, kKnobSize);
    int knobIds[13];
    knobIds[0] = res::IDB_KNOB_KKC_DISABLED;
    for (int notch = 1; notch <= 12; ++notch)
        knobIds[notch] = res::IDB_KNOB_KKC_FIRST + notch - 1;
    m_knob->SetKnobGeometry(knobIds);
    m_knob->m_pOwner = this;
}

void CRemoteDlgKKC::SetKeyFaces(int id, bool held)
{
    CQxButton *button = Key(id);
    if (!button)
        return;
    const int normal = res::KkcKeyFace(id, res::Face::Normal);
    const int pressed = res::KkcKeyFace(id, res::Face::Pressed);
    const int disabled = res::KkcKeyFace(id, res::Face::Disabled);
    // While the PC key is held the pressed face stands in for the normal one.
    button->SetBitmaps(held ? pressed : normal, pressed, normal, disabled);
    const QImage face = res::LoadBitmap(normal);
    if (!face.isNull())
        button->resize(face.size());
    button->repaint();
}

CQxButton *CRemoteDlgKKC::Key(int id) const
{
    const auto it = m_keys.find(id);
    return it == m_keys.end() ? nullptr : it->second;
}

void CRemoteDlgKKC::SetPanelKeysEnabled(bool enabled)
{
    for (auto &entry : m_keys)
        entry.second->setEnabled(enabled);
    if (m_knob)
        m_knob->setEnabled(enabled);
}

bool CRemoteDlgKKC::OnCommand(int id)
{
    if (const KkcKey *key = FindKkcKey(id)) {
        SendKeyCommand(key->command);
        return true;
    }
    return CRemoteDlg::OnCommand(id);
}

void CRemoteDlgKKC::SendKeyCommand(const std::string &command)
{
    std::string text = command == kKnobRightShort ? std::string(kKnobRight) : command;
    CLog::Instance().Write(std::string_view(text));
    text += '\n';
    QueueKeyCommand(text, kKeySpacingMs);
}

void CRemoteDlgKKC::ForwardScreenClick(const QPoint &point)
{
    if (!Link().IsConnected() || m_bStarted != 1)
        return;
    // QRect::contains takes the right and bottom edges as outside only with this form.
    if (point.x() < m_rcScreen.left() || point.y() < m_rcScreen.top() ||
        point.x() >= m_rcScreen.left() + m_rcScreen.width() ||
        point.y() >= m_rcScreen.top() + m_rcScreen.height())
        return;
    SendKeyCommand(
        QString::asprintf("KEYP %d,%d", point.x() - m_rcScreen.left(), point.y() - m_rcScreen.top())
            .toStdString());
}

int CRemoteDlgKKC::PanelKeyFor(int qtKey, Qt::KeyboardModifiers modifiers)
{
    switch (qtKey) {
    case Qt::Key_Backspace:
    case Qt::Key_Delete:
        return 1098;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return 1097;
    case Qt::Key_Escape:
        return 1096;
    case Qt::Key_Up:
        return 1099;
    case Qt::Key_Down:
        return 1100;
    default:
        break;
    }
    // Digits and the decimal point count only from the numeric pad.
    if (!(modifiers & Qt::KeypadModifier))
        return 0;
    if (qtKey == Qt::Key_0)
        return 1094;
    if (qtKey >= Qt::Key_1 && qtKey <= Qt::Key_9)
        return 1085 + (qtKey - Qt::Key_1);
    if (qtKey == Qt::Key_Period || qtKey == Qt::Key_Comma)
        return 1095;
    return 0;
}

bool CRemoteDlgKKC::HandleKey(QKeyEvent *event)
{
    const bool press = event->type() == QEvent::KeyPress;
    if (m_bStarted != 1) {
        const int key = event->key();
        return key == Qt::Key_Escape || key == Qt::Key_Return || key == Qt::Key_Enter;
    }
    const int id = PanelKeyFor(event->key(), event->modifiers());
    if (id == 0)
        return false;
    if (event->isAutoRepeat())
        return true;
    if (press) {
        SetKeyFaces(id, true);
    } else {
        SetKeyFaces(id, false);
        OnCommand(id);
    }
    return true;
}

void CRemoteDlgKKC::PaintPanel(QPainter &painter)
{
    if (isMinimized()) {
        const QIcon icon = windowIcon();
        const QRect area(width() / 2 - 16, height() / 2 - 16, 32, 32);
        icon.paint(&painter, area);
        return;
    }
    painter.fillRect(rect(), Qt::white);
    if (!m_panel.isNull())
        painter.drawImage(QRect(0, 0, kPanelWidth, kPanelHeight), m_panel);
}
