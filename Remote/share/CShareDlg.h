// The "Share in Browser" dialog: where to listen, whether browsers may press keys, the address
// to open (with a copy button) and how many are watching. Modeless: it may stay open beside
// the panel; sharing goes on when it is closed.
#pragma once

#include <QDialog>

class CShareFeature;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

class CShareDlg : public QDialog
{
    Q_OBJECT
public:
    CShareDlg(CShareFeature &feature, QWidget *parent = nullptr);

    // Test hooks: the controls as the operator sees them.
    QComboBox *AddressBox() const { return m_address; }
    QSpinBox *PortBox() const { return m_port; }
    QCheckBox *ControlBox() const { return m_control; }
    QPushButton *StartButton() const { return m_start; }
    QPushButton *CopyButton() const { return m_copy; }
    QString UrlText() const;
    QString StatusText() const;

private:
    void OnStartStop();
    void Refresh();

    CShareFeature &m_feature;
    QComboBox *m_address = nullptr;
    QSpinBox *m_port = nullptr;
    QCheckBox *m_control = nullptr;
    QPushButton *m_start = nullptr;
    QLineEdit *m_url = nullptr;
    QPushButton *m_copy = nullptr;
    QLabel *m_status = nullptr;
    QString m_error;
};
