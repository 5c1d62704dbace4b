#pragma once

// Helpers for tests that use the grids as a user does.

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTableView>

namespace ulen3::test {

// The cell editor that is open in the view, or nullptr.
inline QLineEdit* open_editor(QTableView* view) {
    for (QLineEdit* e : view->viewport()->findChildren<QLineEdit*>())
        if (!e->isHidden())
            return e;
    return nullptr;
}

// Types the text as key presses, Cyrillic included (QTest's key clicks take ASCII only).
inline void type_text(QWidget* widget, const QString& text) {
    for (const QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
        QApplication::sendEvent(widget, &press);
        QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, QString(c));
        QApplication::sendEvent(widget, &release);
    }
}

} // namespace ulen3::test
