#include "print/WindowSize.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace ulen3 {

void size_to_screen(QWidget* window, QSize wanted) {
    const QWidget* parent = window->parentWidget();
    const QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen();
    if (!screen) {
        window->resize(wanted);
        return;
    }
    // A title bar and borders of a usual window manager, in logical pixels.
    const QSize frame(16, 40);
    const QRect room = screen->availableGeometry();
    window->resize(wanted.expandedTo(window->minimumSizeHint()).boundedTo(room.size() - frame));
}

} // namespace ulen3
