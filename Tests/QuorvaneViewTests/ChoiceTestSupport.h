// Reading and working a choice box the way a user does, for the editors' tests.
#pragma once

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

} // namespace quorvane
