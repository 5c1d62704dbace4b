#pragma once

// The size a window opens with, kept inside the screen it opens on: on a small screen scaled
// to 200 % a window drawn for 1000 × 720 would put its buttons out of reach.

#include <QSize>

class QWidget;

namespace ulen3 {

// Resizes the window to `wanted`, or less where the available part of its parent's screen (or
// the primary screen) is smaller, leaving room for the window's frame.
void size_to_screen(QWidget* window, QSize wanted);

} // namespace ulen3
