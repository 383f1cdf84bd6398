#include "CDlgCommNew.h"
#include "CIpAddressCtrl.h"
#include "CPrefStore.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <array>
#include <gtest/gtest.h>

namespace {

std::array<int, 4> Split(const char *text)
{
    std::array<int, 4> f{-1, -1, -1, -1};
    CDlgCommNew::SplitIPv4(QString::fromLatin1(text), f.data());
    return f;
}

TEST(SplitIPv4, FieldsFollowTheDotsAndKeepTheirLowEightBits)
{
    using F = std::array<int, 4>;
    EXPECT_EQ(Split("192.168.1.20"), (F{192, 168, 1, 20}));
    EXPECT_EQ(Split("192.168.1"), (F{192, 168, 0, 1}));
    EXPECT_EQ(Split("300.1.2.3"), (F{44, 1, 2, 3}));
    EXPECT_EQ(Split("12345"), (F{0, 0, 0, 57}));
    EXPECT_EQ(Split("7"), (F{0, 0, 0, 7}));
    EXPECT_EQ(Split(""), (F{0, 0, 0, 0}));
    EXPECT_EQ(Split("1.2.3.4.5"), (F{1, 2, 3, 4}));
    EXPECT_EQ(Split("a.b.c.d"), (F{0, 0, 0, 0}));
    EXPECT_EQ(Split("10x.20y.30.40z"), (F{10, 20, 30, 40}));
    EXPECT_EQ(Split("..."), (F{0, 0, 0, 0}));
    EXPECT_EQ(Split("1..3"), (F{1, 0, 0, 3}));
    EXPECT_EQ(Split("-1.256.511.65536"), (F{255, 0, 255, 0}));
    // A number far beyond 32 bits still yields its true low byte: 10^20 mod 256 = 0.
    EXPECT_EQ(Split("100000000000000000000.1.2.3"), (F{0, 1, 2, 3}));
}

class DlgCommNewTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.isValid());
        m_store = std::make_unique<CPrefStore>(m_dir.path() + "/prefs.ini");
    }

    std::unique_ptr<CDlgCommNew> Open(int method, const QString &ipv4, const QString &ipv6)
    {
        auto dlg = std::make_unique<CDlgCommNew>(m_store.get());
        dlg->m_nConnMethod = method;
        dlg->m_strIPv4 = ipv4;
        dlg->m_strIPv6 = ipv6;
        dlg->InitDialog();
        dlg->show();
        return dlg;
    }

    template <typename T>
    static T *Control(QWidget *dlg, int id)
    {
        T *w = dlg->findChild<T *>(QString::number(id));
        EXPECT_NE(w, nullptr) << id;
        return w;
    }

    QTemporaryDir m_dir;
    std::unique_ptr<CPrefStore> m_store;
};

TEST_F(DlgCommNewTest, MethodDecidesCheckMarkAndUsableAddress)
{
    struct Case
    {
        int method, checked;
        bool ipv4Enabled, ipv6Enabled;
    };
    for (const Case c :
         {Case{1, 1104, true, false}, Case{3, 1105, false, true}, Case{2, 1106, false, false},
          Case{0, 1106, false, false}, Case{7, 1106, false, false}}) {
        auto dlg = Open(c.method, "1.2.3.4", "::1");
        for (int id : {1104, 1105, 1106})
            EXPECT_EQ(Control<QRadioButton>(dlg.get(), id)->isChecked(), id == c.checked)
                << c.method;
        EXPECT_EQ(Control<CIpAddressCtrl>(dlg.get(), 1108)->isEnabled(), c.ipv4Enabled);
        EXPECT_EQ(Control<QLineEdit>(dlg.get(), 1009)->isEnabled(), c.ipv6Enabled);
    }
}

TEST_F(DlgCommNewTest, RadioClicksSwitchTheUsableAddress)
{
    auto dlg = Open(2, "1.2.3.4", "::1");
    auto *ipv4 = Control<CIpAddressCtrl>(dlg.get(), 1108);
    auto *ipv6 = Control<QLineEdit>(dlg.get(), 1009);

    QTest::mouseClick(Control<QRadioButton>(dlg.get(), 1104), Qt::LeftButton);
    EXPECT_TRUE(ipv4->isEnabled());
    EXPECT_FALSE(ipv6->isEnabled());
    QTest::mouseClick(Control<QRadioButton>(dlg.get(), 1105), Qt::LeftButton);
    EXPECT_FALSE(ipv4->isEnabled());
    EXPECT_TRUE(ipv6->isEnabled());
    EXPECT_FALSE(Control<QRadioButton>(dlg.get(), 1104)->isChecked());
    QTest::mouseClick(Control<QRadioButton>(dlg.get(), 1106), Qt::LeftButton);
    EXPECT_FALSE(ipv4->isEnabled());
    EXPECT_FALSE(ipv6->isEnabled());
    EXPECT_TRUE(Control<QRadioButton>(dlg.get(), 1106)->isChecked());
}

TEST_F(DlgCommNewTest, OpeningShowsSplitAddressAndTheStoredIPv6)
{
    auto dlg = Open(1, "192.168.1", "fe80::held-in-memory");
    int f[4];
    Control<CIpAddressCtrl>(dlg.get(), 1108)->GetAddress(f);
    EXPECT_EQ((std::array<int, 4>{f[0], f[1], f[2], f[3]}), (std::array<int, 4>{192, 168, 0, 1}));
    // No store yet: the default, not the caller's copy.
    EXPECT_EQ(Control<QLineEdit>(dlg.get(), 1009)->text(), "0:0:0:0:0:0:0:1");

    m_store->SaveAfterDialog(3, QString(), "fe80::stored");
    auto again = Open(1, "1.2.3.4", "fe80::held-in-memory");
    EXPECT_EQ(Control<QLineEdit>(again.get(), 1009)->text(), "fe80::stored");
}

TEST_F(DlgCommNewTest, OkButtonCapturesFieldsTextAndMethod)
{
    auto dlg = Open(1, "10.0.0.1", "::1");
    auto *ipv4 = Control<CIpAddressCtrl>(dlg.get(), 1108);
    ipv4->SetField(0, 172);
    ipv4->FieldEdit(2)->clear(); // an empty field counts as 0
    QTest::mouseClick(Control<QRadioButton>(dlg.get(), 1105), Qt::LeftButton);
    auto *ipv6 = Control<QLineEdit>(dlg.get(), 1009);
    ipv6->clear();
    QTest::keyClicks(ipv6, "not an address"); // kept as typed

    QTest::mouseClick(Control<QPushButton>(dlg.get(), 1107), Qt::LeftButton);
    EXPECT_EQ(dlg->result(), QDialog::Accepted);
    EXPECT_FALSE(dlg->isVisible());
    EXPECT_EQ(dlg->m_strIPv4, "172.0.0.1");
    EXPECT_EQ(dlg->m_strIPv6, "not an address");
    EXPECT_EQ(dlg->m_nConnMethod, 3);
}

TEST_F(DlgCommNewTest, OkButtonIsNotTheDefaultButEnterStillCapturesEverything)
{
    auto dlg = Open(2, "8.8.4.4", "::1");
    auto *ok = Control<QPushButton>(dlg.get(), 1107);
    EXPECT_FALSE(ok->isDefault());
    EXPECT_FALSE(ok->autoDefault());

    QTest::mouseClick(Control<QRadioButton>(dlg.get(), 1104), Qt::LeftButton);
    auto *ipv4 = Control<CIpAddressCtrl>(dlg.get(), 1108);
    QLineEdit *last = ipv4->FieldEdit(3);
    last->selectAll();
    QTest::keyClicks(last, "8");
    QTest::keyClick(last, Qt::Key_Return);
    EXPECT_EQ(dlg->result(), QDialog::Accepted);
    EXPECT_EQ(dlg->m_strIPv4, "8.8.4.8");
    EXPECT_EQ(dlg->m_nConnMethod, 1);
}

TEST_F(DlgCommNewTest, EscapeAndCloseBoxChangeNothing)
{
    for (bool useEscape : {true, false}) {
        auto dlg = Open(1, "192.168.1", "fe80::mine");
        Control<CIpAddressCtrl>(dlg.get(), 1108)->SetField(0, 5);
        QTest::mouseClick(Control<QRadioButton>(dlg.get(), 1106), Qt::LeftButton);
        if (useEscape)
            QTest::keyClick(dlg.get(), Qt::Key_Escape);
        else
            dlg->close();
        EXPECT_EQ(dlg->result(), QDialog::Rejected);
        EXPECT_EQ(dlg->m_strIPv4, "192.168.1");
        EXPECT_EQ(dlg->m_strIPv6, "fe80::mine");
        EXPECT_EQ(dlg->m_nConnMethod, 1);
    }
    EXPECT_FALSE(m_store->Exists());
}

TEST_F(DlgCommNewTest, ExecRunsTheOpeningStepsAndReturnsOnEnter)
{
    CDlgCommNew dlg(m_store.get());
    dlg.m_nConnMethod = 3;
    dlg.m_strIPv4 = "300.1.2.3";
    bool sawOpening = false;
    QTimer::singleShot(0, &dlg, [&] {
        sawOpening = dlg.findChild<QRadioButton *>("1105")->isChecked() &&
                     dlg.findChild<QLineEdit *>("1009")->isEnabled();
        QTest::keyClick(&dlg, Qt::Key_Enter, Qt::KeypadModifier);
    });
    // Guard against a hang if Enter were ignored.
    QTimer::singleShot(10000, &dlg, [&] { dlg.done(-1); });
    EXPECT_EQ(dlg.exec(), QDialog::Accepted);
    EXPECT_TRUE(sawOpening);
    EXPECT_EQ(dlg.m_strIPv4, "44.1.2.3");
    EXPECT_EQ(dlg.m_nConnMethod, 3);
    EXPECT_EQ(dlg.m_strIPv6, "0:0:0:0:0:0:0:1");
}

TEST(IpAddressCtrl, FieldsStayWithinAByte)
{
    CIpAddressCtrl ctrl;
    const int in[4] = {-5, 256, 1000, 255};
    ctrl.SetAddress(in);
    int out[4];
    ctrl.GetAddress(out);
    EXPECT_EQ((std::array<int, 4>{out[0], out[1], out[2], out[3]}),
              (std::array<int, 4>{0, 255, 255, 255}));

    ctrl.show();
    QLineEdit *first = ctrl.FieldEdit(0);
    first->clear();
    QTest::keyClicks(first, "999");
    EXPECT_LE(ctrl.Field(0), 255);
    EXPECT_EQ(ctrl.FieldEdit(4), nullptr);
    EXPECT_EQ(ctrl.Field(-1), 0);
}

} // namespace
