#pragma once

// TForm5, the splash window: a picture without caption or border, shown modally at start and
// closed by its own timer.

#include <QDialog>
#include <QTimer>

namespace ulen3 {

class TForm5 : public QDialog {
public:
    // intervalMs is shortened only by tests.
    explicit TForm5(QWidget* parent = nullptr, int intervalMs = 3000);
    static QPixmap picture(); // the 400 × 78 picture drawn for this program

protected:
    void showEvent(QShowEvent* event) override;

private:
    QTimer Timer1;
};

} // namespace ulen3
