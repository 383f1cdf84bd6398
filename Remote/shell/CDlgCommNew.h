// The "Communication" dialog: connection method and addresses.
#pragma once

#include <QDialog>
#include <QString>

class CPrefStore;
class CIpAddressCtrl;
class QLineEdit;
class QRadioButton;
class QPushButton;
class QKeyEvent;

class CDlgCommNew : public QDialog
{
    Q_OBJECT
public:
    enum
    {
        IDD = 763,
        IDC_RADIO_IPV4 = 1104,
        IDC_RADIO_IPV6 = 1105,
        IDC_RADIO_USB = 1106,
        IDC_OK = 1107,
        IDC_IPADDRESS = 1108,
        IDC_EDIT_IPV6 = 1009
    };

    CDlgCommNew(CPrefStore *store, QWidget *parent = nullptr);

    // Filled by the caller before exec(); read back after Accepted.
    QString m_strIPv4;
    QString m_strIPv6;
    int m_nConnMethod = 2;

    // Splits an IPv4 text into four fields by the dialog's opening rule
    // ("192.168.1" gives 192, 168, 0, 1; "300.1.2.3" gives 44, 1, 2, 3).
    static void SplitIPv4(const QString &text, int fields[4]);

    // The opening steps (address fields, IPv6 text read afresh from the store, method). exec()
    // runs them itself; callers that use open() or show() call this first.
    void InitDialog();

    int exec() override;

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void OnOk();
    void ApplyMethod(int method);

    CPrefStore *m_store;
    QRadioButton *m_radioIPv4, *m_radioIPv6, *m_radioUsb;
    CIpAddressCtrl *m_ipv4;
    QLineEdit *m_ipv6;
    QPushButton *m_ok;
};
