#include "CDlgModel.h"

#include "DialogFit.h"
#include "Families.h"

#include <QBoxLayout>
#include <QButtonGroup>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>

namespace {

constexpr const char *kTitle = "Select Model";
constexpr const char *kOk = "OK";
constexpr const char *kExit = "EXIT";

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

    const QRect dialog = MapDialogRect(kDialogDlu);
    const QRect frame = MapDialogRect(kFrameDlu);
    const QRect ok = MapDialogRect(kOkDlu);
    const QRect exit = MapDialogRect(kExitDlu);

    // The frame around the three families, the two buttons centred below it; the frame and
    // the buttons grow with their texts, never below the template's sizes.
    m_frame = new QGroupBox(this);
    auto *families = new QHBoxLayout(m_frame);
    const QRect first = MapDialogRect(kRadioDlu[0]);
    families->setContentsMargins(first.left() - frame.left(), 0, first.left() - frame.left(), 0);
    families->setSpacing(MapDialogRect(kRadioDlu[1]).left() - first.right());

    m_group = new QButtonGroup(this);
    m_group->setExclusive(true);
    for (int i = 0; i < kFamilyCount; ++i) {
        const FamilyInfo &family = kFamilies[static_cast<size_t>(i)];
        auto *radio = new QRadioButton(
            QString::fromLatin1(family.label.data(), static_cast<qsizetype>(family.label.size())),
            m_frame);
        radio->setObjectName(QString::number(family.radioId));
        // A label is never cut short to make room.
        radio->setSizePolicy(QSizePolicy::Minimum, QSizePolicy::Fixed);
        m_group->addButton(radio, i);
        m_radio[i] = radio;
        families->addWidget(radio);
    }
    families->addStretch(1);
    SetLeastSize(m_frame, frame.size());

    m_ok = new QPushButton(QString::fromLatin1(kOk), this);
    SetLeastSize(m_ok, ok.size());
    m_exit = new QPushButton(QString::fromLatin1(kExit), this);
    SetLeastSize(m_exit, exit.size());
    // Enter acts on the button that has the focus (EXIT once tabbed to); with the focus on
    // a family, OK is the default.
    m_ok->setAutoDefault(true);
    m_exit->setAutoDefault(true);
    m_ok->setDefault(true);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_ok);
    buttons->addSpacing(exit.left() - ok.right());
    buttons->addWidget(m_exit);
    buttons->addStretch(1);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(frame.left(), frame.top(), dialog.width() - frame.right() - 1,
                               dialog.height() - ok.bottom() - 1);
    layout->setSpacing(ok.top() - frame.bottom() - 1);
    layout->addWidget(m_frame, 1);
    layout->addLayout(buttons);

    setTabOrder(m_radio[0], m_radio[1]);
    setTabOrder(m_radio[1], m_radio[2]);
    setTabOrder(m_radio[2], m_ok);
    setTabOrder(m_ok, m_exit);

    connect(m_ok, &QPushButton::clicked, this, &CDlgModel::OnOK);
    connect(m_exit, &QPushButton::clicked, this, &QDialog::reject);

    FitDialogToTexts(this, dialog.size());
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
