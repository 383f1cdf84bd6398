// "Select Model": the choice of instrument family at start.
#pragma once

#include <QDialog>
#include <QRect>

class QButtonGroup;
class QGroupBox;
class QPushButton;
class QRadioButton;

class CDlgModel : public QDialog
{
    Q_OBJECT
public:
    enum
    {
        IDD = 240,
        IDC_RADIO_FIRST = 1071
    };

    explicit CDlgModel(QWidget *parent = nullptr);

    // The selected family index, 0..2. Set before exec() to preselect; read after Accepted.
    int m_nFamily = 0;

    int exec() override;

    // A rectangle of the dialog template (dialog units of the 8 pt dialog font) in pixels.
    static QRect MapDialogRect(const QRect &dlu);

    QRadioButton *Radio(int controlId) const;
    QPushButton *OkButton() const { return m_ok; }
    QPushButton *ExitButton() const { return m_exit; }

private:
    void OnOK();
    // Data exchange between m_nFamily and the radio group.
    void ShowFamily();
    int CheckedFamily() const;

    QGroupBox *m_frame;
    QButtonGroup *m_group;
    QRadioButton *m_radio[3];
    QPushButton *m_ok;
    QPushButton *m_exit;
};
