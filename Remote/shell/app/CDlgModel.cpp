#include "CDlgModel.h"

#include "Families.h"

#include <QButtonGroup>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>

namespace {

constexpr const char *kTitle = "Select Model";
constexpr const char *kOk = "OK";
constexpr const char *kExit = "EXIT";
constexpr int kFontPoints = 8;

// Template geometry, dialog units.
constexpr QRect kDialogDlu(0, 0, 275, 63);
constexpr QRect kFrameDlu(7, 3, 261, 31);
constexpr QRect kRadioDlu[3] = {{16, 14, 89, 13}, {117, 14, 52, 13}, {189, 15, 61, 13}};
constexpr QRect kOkDlu(56, 42, 75, 14);
constexpr QRect kExitDlu(145, 42, 72, 14);

// A dialog unit is a quarter of the font's average character width and an eighth of its
// height; for the 8 pt dialog font at 96 dpi those are 6 and 13 pixels.
constexpr int kBaseUnitX = 6;
constexpr int kBaseUnitY = 13;

// a * b / c rounded half away from zero, as the template mapping does.
constexpr int MulDiv(int a, int b, int c)
{
    const long long p = static_cast<long long>(a) * b;
    return static_cast<int>(p >= 0 ? (p + c / 2) / c : (p - c / 2) / c);
}

} // namespace

QRect CDlgModel::MapDialogRect(const QRect &dlu)
{
    const int left = MulDiv(dlu.left(), kBaseUnitX, 4);
    const int top = MulDiv(dlu.top(), kBaseUnitY, 8);
    const int right = MulDiv(dlu.left() + dlu.width(), kBaseUnitX, 4);
    const int bottom = MulDiv(dlu.top() + dlu.height(), kBaseUnitY, 8);
    return QRect(left, top, right - left, bottom - top);
}

CDlgModel::CDlgModel(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
{
    setWindowTitle(QString::fromLatin1(kTitle));
    setObjectName(QStringLiteral("CDlgModel"));
    QFont dialogFont = font();
    dialogFont.setPointSize(kFontPoints);
    setFont(dialogFont);

    m_frame = new QGroupBox(this);
    m_frame->setGeometry(MapDialogRect(kFrameDlu));

    m_group = new QButtonGroup(this);
    m_group->setExclusive(true);
    for (int i = 0; i < kFamilyCount; ++i) {
        const FamilyInfo &family = kFamilies[static_cast<size_t>(i)];
        auto *radio = new QRadioButton(
            QString::fromLatin1(family.label.data(), static_cast<qsizetype>(family.label.size())),
            this);
        radio->setObjectName(QString::number(family.radioId));
        QRect rc = MapDialogRect(kRadioDlu[i]);
        // Where the platform font is wider than the template's, keep the label readable.
        rc.setWidth(std::max(rc.width(), radio->sizeHint().width()));
        radio->setGeometry(rc);
        m_group->addButton(radio, i);
        m_radio[i] = radio;
    }

    m_ok = new QPushButton(QString::fromLatin1(kOk), this);
    m_ok->setGeometry(MapDialogRect(kOkDlu));
    m_ok->setDefault(true);
    m_ok->setAutoDefault(true);
    m_exit = new QPushButton(QString::fromLatin1(kExit), this);
    m_exit->setGeometry(MapDialogRect(kExitDlu));
    m_exit->setAutoDefault(false);

    setTabOrder(m_radio[0], m_radio[1]);
    setTabOrder(m_radio[1], m_radio[2]);
    setTabOrder(m_radio[2], m_ok);
    setTabOrder(m_ok, m_exit);

    connect(m_ok, &QPushButton::clicked, this, &CDlgModel::OnOK);
    connect(m_exit, &QPushButton::clicked, this, &QDialog::reject);

    setFixedSize(MapDialogRect(kDialogDlu).size());
}

QRadioButton *CDlgModel::Radio(int controlId) const
{
    const int index = controlId - IDC_RADIO_FIRST;
    return IsValidFamily(index) ? m_radio[index] : nullptr;
}

int CDlgModel::exec()
{
    ShowFamily();
    m_ok->setFocus();
    return QDialog::exec();
}

void CDlgModel::ShowFamily()
{
    const int index = IsValidFamily(m_nFamily) ? m_nFamily : 0;
    m_radio[index]->setChecked(true);
}

int CDlgModel::CheckedFamily() const
{
    const int id = m_group->checkedId();
    return IsValidFamily(id) ? id : 0;
}

void CDlgModel::OnOK()
{
    m_nFamily = CheckedFamily();
    accept();
}
