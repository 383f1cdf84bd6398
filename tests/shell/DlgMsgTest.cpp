#include "CDlgMsg.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

const char *const kTemplate[4] = {
    "Remote Controller cannot connect to the remote instrument for the one of these reasons:",
    "  1) The remote instrument is turned off",
    "  2) The remote instrument is not available on the network",
    "Make sure the remote instrument is turned on and connected to the network",
};

TEST(DlgMsg, TitleAndTextsForEachKind)
{
    for (int kind : {1, 2, 0, -1, 4, 1000}) {
        CDlgMsg dlg(kind);
        EXPECT_EQ(dlg.windowTitle(),
                  kind == 1 ? "Connection Failed" : "Cannot Connect to the Intrument")
            << kind;
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(dlg.LineText(1067 + i), QString::fromLatin1(kTemplate[i])) << kind;
    }

    CDlgMsg noAnswer(3);
    EXPECT_EQ(noAnswer.windowTitle(), "Connection Failed");
    EXPECT_EQ(noAnswer.LineText(1067), QString::fromLatin1(kTemplate[0]));
    EXPECT_EQ(noAnswer.LineText(1068), "  1) IP you entered is being used by another program");
    EXPECT_EQ(noAnswer.LineText(1069),
              "  2) The remote instrument is being used by another program");
    EXPECT_EQ(noAnswer.LineText(1070),
              "Make sure the remote instrument is connected to the network, and no other "
              "program is connected to it.  If you are not sure, try again after rebooting the "
              "remote instrument.");
    EXPECT_TRUE(noAnswer.LineText(1066).isEmpty());
    EXPECT_TRUE(noAnswer.LineText(1071).isEmpty());
    // The labels themselves carry the texts the operator sees.
    EXPECT_EQ(noAnswer.findChild<QLabel *>("1068")->text(), noAnswer.LineText(1068));
}

// Every way of closing: OK, Enter, Escape, the close box.
void ExpectClosesEveryWay(const std::function<QDialog *()> &make)
{
    struct Way
    {
        const char *name;
        std::function<void(QDialog *)> act;
        int result;
    };
    const Way ways[] = {
        {"ok",
         [](QDialog *d) { QTest::mouseClick(d->findChild<QPushButton *>("1"), Qt::LeftButton); },
         QDialog::Accepted},
        {"enter", [](QDialog *d) { QTest::keyClick(d, Qt::Key_Return); }, QDialog::Accepted},
        {"escape", [](QDialog *d) { QTest::keyClick(d, Qt::Key_Escape); }, QDialog::Rejected},
        {"close box", [](QDialog *d) { d->close(); }, QDialog::Rejected},
    };
    for (const Way &way : ways) {
        std::unique_ptr<QDialog> dlg(make());
        QTimer::singleShot(0, dlg.get(), [&] { way.act(dlg.get()); });
        QTimer::singleShot(10000, dlg.get(), [&] { dlg->done(-1); }); // hang guard
        EXPECT_EQ(dlg->exec(), way.result) << way.name;
    }
}

TEST(DlgMsg, ClosesWithOkEnterEscapeOrCloseBox)
{
    ExpectClosesEveryWay([] { return new CDlgMsg(1); });
}

TEST(AboutDlg, TitleTextsAndClosing)
{
    CAboutDlg about;
    EXPECT_EQ(about.windowTitle(), "KLRemote Infomation");
    EXPECT_EQ(about.findChild<QLabel *>("1065")->text(), "KLRemote, Version 2.0");
    EXPECT_FALSE(about.findChild<QLabel *>("1066")->text().isEmpty());
    EXPECT_TRUE(about.findChild<QPushButton *>("1")->isDefault());
    ExpectClosesEveryWay([] { return new CAboutDlg; });
}

TEST(AboutDlg, InformationEntryOpensTheAboutBox)
{
    QWidget panel;
    QMenu menu;
    menu.addAction("Communication");
    QAction *entry = CAboutDlg::AddInformationAction(&menu, &panel);
    ASSERT_NE(entry, nullptr);
    const QList<QAction *> actions = menu.actions();
    ASSERT_EQ(actions.size(), 3);
    EXPECT_TRUE(actions[1]->isSeparator());
    EXPECT_EQ(actions[2], entry);
    EXPECT_EQ(entry->text(), "Infomation");
    EXPECT_EQ(entry->data().toInt(), 16);

    QString seenTitle;
    QTimer::singleShot(0, [&] {
        if (QWidget *modal = QApplication::activeModalWidget()) {
            seenTitle = modal->windowTitle();
            EXPECT_NE(qobject_cast<CAboutDlg *>(modal), nullptr);
            EXPECT_EQ(modal->parentWidget(), &panel);
            QTest::keyClick(modal, Qt::Key_Escape);
        }
    });
    entry->trigger();
    EXPECT_EQ(seenTitle, "KLRemote Infomation");
    EXPECT_EQ(CAboutDlg::AddInformationAction(nullptr, &panel), nullptr);
}

} // namespace
