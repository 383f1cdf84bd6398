#include "CIpAddressCtrl.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <algorithm>

CIpAddressCtrl::CIpAddressCtrl(QWidget *parent) : QFrame(parent)
{
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(2, 1, 2, 1);
    row->setSpacing(0);
    for (int i = 0; i < 4; ++i) {
        auto *edit = new QLineEdit(this);
        edit->setObjectName(QStringLiteral("field%1").arg(i + 1));
        edit->setValidator(new QIntValidator(0, 255, edit));
        edit->setMaxLength(3);
        edit->setAlignment(Qt::AlignCenter);
        edit->setFrame(false);
        edit->setText(QStringLiteral("0"));
        edit->installEventFilter(this);
        // Three digits fill a field: typing goes on in the next one, as in the native control.
        connect(edit, &QLineEdit::textEdited, this, [this, i](const QString &text) {
            if (text.size() == 3 && i < 3)
                FocusField(i + 1);
        });
        m_fields[static_cast<size_t>(i)] = edit;
        row->addWidget(edit, 1);
        if (i < 3) {
            auto *dot = new QLabel(QStringLiteral("."), this);
            dot->setAlignment(Qt::AlignCenter);
            row->addWidget(dot, 0);
        }
    }
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Base);
    setFocusProxy(m_fields[0]);
}

void CIpAddressCtrl::SetAddress(const int fields[4])
{
    for (int i = 0; i < 4; ++i)
        SetField(i, fields[i]);
}

void CIpAddressCtrl::GetAddress(int fields[4]) const
{
    for (int i = 0; i < 4; ++i)
        fields[i] = Field(i);
}

void CIpAddressCtrl::SetField(int index, int value)
{
    if (index < 0 || index > 3)
        return;
    m_fields[static_cast<size_t>(index)]->setText(QString::number(std::clamp(value, 0, 255)));
}

int CIpAddressCtrl::Field(int index) const
{
    if (index < 0 || index > 3)
        return 0;
    bool ok = false;
    const int v = m_fields[static_cast<size_t>(index)]->text().toInt(&ok);
    return ok ? std::clamp(v, 0, 255) : 0;
}

QLineEdit *CIpAddressCtrl::FieldEdit(int index) const
{
    return index >= 0 && index <= 3 ? m_fields[static_cast<size_t>(index)] : nullptr;
}

void CIpAddressCtrl::FocusField(int index)
{
    QLineEdit *edit = FieldEdit(index);
    if (!edit)
        return;
    edit->setFocus(Qt::TabFocusReason);
    edit->selectAll();
}

bool CIpAddressCtrl::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        for (int i = 0; i < 4; ++i) {
            if (watched != m_fields[static_cast<size_t>(i)])
                continue;
            QLineEdit *edit = m_fields[static_cast<size_t>(i)];
            // A dot or space moves on to the next field instead of being typed.
            if ((key->key() == Qt::Key_Period || key->key() == Qt::Key_Space) && i < 3) {
                FocusField(i + 1);
                return true;
            }
            if (key->key() == Qt::Key_Backspace && edit->cursorPosition() == 0 && i > 0 &&
                !edit->hasSelectedText()) {
                FocusField(i - 1);
                return true;
            }
        }
    }
    return QFrame::eventFilter(watched, event);
}
