// An IPv4 address entry: four numeric fields of 0..255 separated by dots.
#pragma once

#include <QFrame>
#include <array>

class QLineEdit;

class CIpAddressCtrl : public QFrame
{
    Q_OBJECT
public:
    explicit CIpAddressCtrl(QWidget *parent = nullptr);

    // Each value is cut to 0..255 when shown.
    void SetAddress(const int fields[4]);
    // An empty field reads as 0.
    void GetAddress(int fields[4]) const;

    void SetField(int index, int value);
    int Field(int index) const;
    QLineEdit *FieldEdit(int index) const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void FocusField(int index);

    std::array<QLineEdit *, 4> m_fields{};
};
