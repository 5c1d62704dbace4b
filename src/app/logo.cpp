#include "app/logo.h"

#include <QLabel>
#include <QLinearGradient>
#include <QPainter>

namespace ulen3 {

TForm5::TForm5(QWidget* parent, int intervalMs) : QDialog(parent) {
    setWindowFlags(Qt::SplashScreen | Qt::FramelessWindowHint);
    setFixedSize(400, 77);
    auto* image = new QLabel(this);
    image->setGeometry(0, 0, 401, 81);
    image->setPixmap(picture());
    image->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Timer1.setSingleShot(true);
    Timer1.setInterval(intervalMs);
    connect(&Timer1, &QTimer::timeout, this, [this] { done(QDialog::Accepted); });
}

void TForm5::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    Timer1.start();
}

QPixmap TForm5::picture() {
    QPixmap pm(400, 78);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 400, 78);
    sky.setColorAt(0, QColor(16, 52, 96));
    sky.setColorAt(1, QColor(40, 110, 170));
    p.fillRect(pm.rect(), sky);
    // A measuring plate under a load arrow: what the instrument does.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(210, 220, 230));
    p.drawRect(22, 52, 56, 8);
    p.setBrush(QColor(240, 190, 60));
    p.drawPolygon(QPolygon({QPoint(44, 14), QPoint(56, 14), QPoint(56, 32), QPoint(64, 32), QPoint(50, 48),
                            QPoint(36, 32), QPoint(44, 32)}));
    QFont title(QStringLiteral("Sans Serif"));
    title.setPixelSize(34);
    title.setBold(true);
    p.setFont(title);
    p.setPen(Qt::white);
    p.drawText(QRect(96, 4, 300, 44), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("ВЕСКОР"));
    QFont sub(QStringLiteral("Sans Serif"));
    sub.setPixelSize(13);
    p.setFont(sub);
    p.setPen(QColor(220, 232, 245));
    p.drawText(QRect(98, 46, 300, 24), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Передача данных с приборов ВЕСКОР"));
    return pm;
}

} // namespace ulen3
