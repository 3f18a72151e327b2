// Reading and working a choice box the way a user does, for the editors' tests.
#pragma once

#include <QAbstractItemView>
#include <QComboBox>
#include <QStringList>
#include <QTest>

#include <gtest/gtest.h>

namespace quorvane {

/// The texts of the box's entries, in order.
inline QStringList itemTexts(const QComboBox& box)
{
    QStringList texts;
    for (int index = 0; index < box.count(); ++index)
        texts.push_back(box.itemText(index));
    return texts;
}

/// Moves to the entry with the keyboard; each step is a choice the box reports.
inline void pick(QComboBox& box, const QString& text)
{
    const int index = box.findText(text);
    ASSERT_GE(index, 0) << text.toStdString();
    QTest::keyClick(&box, Qt::Key_Home);
    for (int step = 0; step < index; ++step)
        QTest::keyClick(&box, Qt::Key_Down);
    ASSERT_EQ(box.currentText(), text);
}

/// Opens `box` with a click and closes its list with Escape: the drop-down keeps the focus.
inline void clickOpenAndEscape(QComboBox& box)
{
    QTest::mouseClick(&box, Qt::LeftButton);
    ASSERT_TRUE(box.view()->isVisible());
    QTest::keyClick(box.view(), Qt::Key_Escape);
    ASSERT_FALSE(box.view()->isVisible());
    ASSERT_TRUE(box.hasFocus());
}

} // namespace quorvane
