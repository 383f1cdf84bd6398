// Laptop keys and the key list: the main keyboard's digits and period as the numeric pad's,
// and the window listing exactly the PC keys of the panel's own table.
#include "RoomHarness.h"

#include "ArtLayout.h"
#include "CShortcutsWindow.h"

#include <QTreeWidget>

#include <gtest/gtest.h>

namespace {

using Commands = std::vector<std::string>;

const int kDigitRow[] = {Qt::Key_1, Qt::Key_2, Qt::Key_3, Qt::Key_4, Qt::Key_5,     Qt::Key_6,
                         Qt::Key_7, Qt::Key_8, Qt::Key_9, Qt::Key_0, Qt::Key_Period};
const Commands kPadCommands = {"KEYP:NUM1", "KEYP:NUM2", "KEYP:NUM3", "KEYP:NUM4",
                               "KEYP:NUM5", "KEYP:NUM6", "KEYP:NUM7", "KEYP:NUM8",
                               "KEYP:NUM9", "KEYP:NUM0", "KEYP:JUM"};

// Each digit-row key pressed, held (a repeat) and released.
template <typename Harness>
Commands TypeDigitRow(Harness &h)
{
    h.Settle();
    h.instrument->ClearReceivedCommands();
    ulong t = 1000;
    for (int key : kDigitRow) {
        h.Key(QEvent::KeyPress, key, Qt::NoModifier, false, t);
        h.Key(QEvent::KeyPress, key, Qt::NoModifier, true, t + 500);
        h.Key(QEvent::KeyRelease, key, Qt::NoModifier, false, t + 600);
        t += 1000;
    }
    // With Ctrl the digits are the operator's own shortcuts, never the pad's.
    h.Key(QEvent::KeyPress, Qt::Key_5, Qt::ControlModifier, false, t);
    h.Key(QEvent::KeyRelease, Qt::Key_5, Qt::ControlModifier, false, t + 100);
    return h.Sent();
}

template <typename Panel>
void ExpectDigitRowAsKeypad()
{
    RoomHarness<Panel> h;
    ASSERT_TRUE(h.StartServer());
    h.OpenRoom(1);
    ASSERT_TRUE(h.Run());
    EXPECT_FALSE(h.panel->DigitRowAsKeypad());
    EXPECT_EQ(TypeDigitRow(h), Commands{});

    h.room->OnCommand(CRoomFeature::ID_DIGIT_ROW);
    EXPECT_TRUE(h.panel->DigitRowAsKeypad());
    EXPECT_EQ(h.Stored("DigitRowAsKeypad").toInt(), 1);
    EXPECT_EQ(TypeDigitRow(h), kPadCommands);
    // Held, nothing; released, the command once.
    h.Settle();
    h.instrument->ClearReceivedCommands();
    h.Key(QEvent::KeyPress, Qt::Key_3, Qt::NoModifier, false, 100000);
    h.Key(QEvent::KeyPress, Qt::Key_3, Qt::NoModifier, true, 100500);
    EXPECT_EQ(h.Sent(), Commands{});
    h.Key(QEvent::KeyRelease, Qt::Key_3, Qt::NoModifier, false, 100600);
    EXPECT_EQ(h.Sent(), Commands{"KEYP:NUM3"});
    // The pad itself still counts once per key.
    h.instrument->ClearReceivedCommands();
    h.Tap(Qt::Key_7, Qt::KeypadModifier);
    EXPECT_EQ(h.Sent(), Commands{"KEYP:NUM7"});

    h.room->OnCommand(CRoomFeature::ID_DIGIT_ROW);
    EXPECT_EQ(h.Stored("DigitRowAsKeypad").toInt(), 0);
    EXPECT_EQ(TypeDigitRow(h), Commands{});
}

// The table's rows that a PC key stands for, walked here from the table itself.
struct TableRow
{
    int id;
    std::string command;
    std::vector<int> pcKeys;
    bool keypadOnly;
};

std::vector<TableRow> TableRows(KeyTable table)
{
    std::vector<TableRow> rows;
    if (table == KeyTable::Kkc) {
        for (const auto &key : res::layout::KkcKeys()) {
            std::vector<int> keys;
            for (int k : key.pcKeys)
                if (k)
                    keys.push_back(k);
            if (!keys.empty())
                rows.push_back({key.id, key.command, keys, key.keypadOnly});
        }
    } else {
        for (const auto &key : res::layout::LkKeys())
            if (key.pcKey)
                rows.push_back({key.id, key.command, {key.pcKey}, key.keypadOnly});
    }
    return rows;
}

template <typename Panel>
void ExpectShortcutsListTheTable()
{
    RoomHarness<Panel> h;
    h.OpenRoom(2);
    h.room->OnCommand(CRoomFeature::ID_SHORTCUTS);
    CShortcutsWindow *window = h.room->ShortcutsWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->windowTitle(), "Keyboard Shortcuts");
    for (bool digitRow : {false, true}) {
        SCOPED_TRACE(digitRow);
        if (digitRow != h.panel->DigitRowAsKeypad())
            h.room->OnCommand(CRoomFeature::ID_DIGIT_ROW);
        const std::vector<TableRow> table = TableRows(RoomHarness<Panel>::kTable);
        QTreeWidget *list = window->List();
        ASSERT_EQ(list->topLevelItemCount(), int(table.size()));
        for (int i = 0; i < list->topLevelItemCount(); ++i) {
            const QTreeWidgetItem *item = list->topLevelItem(i);
            const TableRow &row = table[std::size_t(i)];
            EXPECT_EQ(item->data(0, Qt::UserRole).toInt(), row.id);
            EXPECT_EQ(item->text(2).toStdString(), row.command);
            QStringList names;
            for (int key : row.pcKeys)
                names << PcKeyName(key, row.keypadOnly);
            if (row.keypadOnly && digitRow)
                for (int key : row.pcKeys)
                    names << PcKeyName(key, false);
            EXPECT_EQ(item->text(0), names.join(", ")) << row.id;
        }
    }
}

} // namespace

TEST(RoomKeys, DigitRowSendsThePadsCommandsOnlyWhenAsked)
{
    ExpectDigitRowAsKeypad<CRemoteDlgKKC>();
    ExpectDigitRowAsKeypad<CRemoteDlgLK>();
}

TEST(RoomKeys, ShortcutWindowListsExactlyThePanelsTable)
{
    ExpectShortcutsListTheTable<CRemoteDlgKKC>();
    ExpectShortcutsListTheTable<CRemoteDlgLK>();
    // How the rows read.
    EXPECT_EQ(PcKeyName(Qt::Key_5, true), "Numeric pad 5");
    EXPECT_EQ(PcKeyName(Qt::Key_Return, false), "Enter");
    const std::vector<KeyMapRow> lk = KeyMapRows(KeyTable::Lk, false);
    ASSERT_FALSE(lk.empty());
    EXPECT_EQ(lk[1].panelKey, "Soft key 1");
    EXPECT_EQ(lk[1].pcKeys, "F1");
}
