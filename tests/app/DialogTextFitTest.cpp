// Every text of every dialog shows whole with the platform's font: no label, radio button or
// push button is narrower or lower than its text, none lies outside its dialog or over
// another.
#include "CDlgCommNew.h"
#include "CDlgModel.h"
#include "CDlgMsg.h"
#include "CPrefStore.h"

#include <QApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTemporaryDir>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

namespace {

struct Control
{
    QWidget *widget;
    QString text;
};

std::string Name(const QWidget *w)
{
    return (w->window()->windowTitle() + " / " + w->objectName() + " \"" +
            (qobject_cast<const QLabel *>(w) ? qobject_cast<const QLabel *>(w)->text()
             : qobject_cast<const QAbstractButton *>(w)
                 ? qobject_cast<const QAbstractButton *>(w)->text()
                 : QString()) +
            "\"")
        .toStdString();
}

// The rectangle a button's text is drawn in, as the style lays the button out.
QRect ButtonTextRect(QAbstractButton *button, QStyle::SubElement element)
{
    QStyleOptionButton option;
    option.initFrom(button);
    option.text = button->text();
    option.icon = button->icon();
    option.iconSize = button->iconSize();
    return button->style()->subElementRect(element, &option, button);
}

void ExpectTextsFit(QDialog &dialog)
{
    dialog.show();
    QApplication::processEvents();
    std::vector<QWidget *> controls;
    const QRect client(QPoint(0, 0), dialog.size());

    for (QLabel *label : dialog.findChildren<QLabel *>()) {
        if (label->text().isEmpty())
            continue; // a picture
        controls.push_back(label);
        const QRect room = label->contentsRect();
        const QFontMetrics fm(label->font());
        if (label->wordWrap()) {
            EXPECT_LE(label->heightForWidth(label->width()), label->height()) << Name(label);
            const QRect needed =
                fm.boundingRect(QRect(0, 0, room.width(), 1 << 20),
                                Qt::TextWordWrap | label->alignment(), label->text());
            EXPECT_LE(needed.width(), room.width()) << Name(label);
            EXPECT_LE(needed.height(), room.height()) << Name(label);
        } else {
            EXPECT_LE(fm.horizontalAdvance(label->text()), room.width()) << Name(label);
            EXPECT_LE(fm.height(), room.height()) << Name(label);
        }
    }
    for (QAbstractButton *button : dialog.findChildren<QAbstractButton *>()) {
        QStyle::SubElement element;
        if (qobject_cast<QRadioButton *>(button))
            element = QStyle::SE_RadioButtonContents;
        else if (qobject_cast<QPushButton *>(button))
            element = QStyle::SE_PushButtonContents;
        else
            continue;
        controls.push_back(button);
        const QRect room = ButtonTextRect(button, element);
        const QFontMetrics fm(button->font());
        const QString text = QString(button->text()).remove(QLatin1Char('&'));
        EXPECT_LE(fm.horizontalAdvance(text), room.width()) << Name(button);
        EXPECT_LE(fm.height(), room.height()) << Name(button);
    }
    EXPECT_FALSE(controls.empty());

    for (size_t i = 0; i < controls.size(); ++i) {
        QWidget *w = controls[i];
        EXPECT_TRUE(w->isVisible()) << Name(w);
        const QRect place(w->mapTo(&dialog, QPoint(0, 0)), w->size());
        EXPECT_TRUE(client.contains(place)) << Name(w);
        // Inside its own parent too, or the parent clips it.
        EXPECT_TRUE(QRect(QPoint(0, 0), w->parentWidget()->size()).contains(w->geometry()))
            << Name(w);
        for (size_t j = i + 1; j < controls.size(); ++j) {
            QWidget *v = controls[j];
            if (w->isAncestorOf(v) || v->isAncestorOf(w))
                continue;
            const QRect other(v->mapTo(&dialog, QPoint(0, 0)), v->size());
            EXPECT_FALSE(place.intersects(other)) << Name(w) << " overlaps " << Name(v);
        }
    }
    dialog.hide();
}

TEST(RegressDialogTexts, EveryTextFitsItsControlAtTwoFontSizes)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    CPrefStore store(dir.filePath("prefs.ini"));

    const std::vector<std::function<std::unique_ptr<QDialog>()>> dialogs{
        [] { return std::make_unique<CDlgMsg>(1); },
        [] { return std::make_unique<CDlgMsg>(2); },
        [] { return std::make_unique<CDlgMsg>(3); },
        [] { return std::make_unique<CAboutDlg>(); },
        [&store] {
            auto dlg = std::make_unique<CDlgCommNew>(&store);
            dlg->m_nConnMethod = 1;
            dlg->m_strIPv4 = "192.168.100.200";
            dlg->InitDialog();
            return dlg;
        },
        [] { return std::make_unique<CDlgModel>(); },
    };

    // The platform's own font, and one half as large again (a large-print desktop): the
    // layout, not the template, decides where the texts go.
    const QFont platform = QApplication::font();
    QFont large = platform;
    large.setPointSizeF(platform.pointSizeF() * 1.5);
    for (const QFont &font : {platform, large}) {
        QApplication::setFont(font);
        for (const auto &make : dialogs) {
            std::unique_ptr<QDialog> dialog = make();
            SCOPED_TRACE(dialog->windowTitle().toStdString() + " at " +
                         std::to_string(font.pointSizeF()) + " pt");
            ExpectTextsFit(*dialog);
        }
    }
    QApplication::setFont(platform);
}

} // namespace
