#include "app/about.h"

#include "app/FileVersion.h"

#include <QLabel>
#include <QPushButton>

namespace ulen3 {

Tform6::Tform6(const QString& programFile, QWidget* parent) : QDialog(parent), m_programFile(programFile) {
    setWindowFlags(Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setWindowTitle(QStringLiteral("О программе"));
    setFixedSize(515, 151);
    auto* name = new QLabel(QStringLiteral("ВЕСКОР"), this);
    QFont bold = name->font();
    bold.setPixelSize(16);
    bold.setBold(true);
    name->setFont(bold);
    name->move(12, 12);
    QFont text = name->font();
    text.setPixelSize(13);
    text.setBold(false);
    m_version = new QLabel(QStringLiteral("Версия 1.0"), this);
    m_version->setFont(text);
    m_version->move(12, 44);
    m_version->setMinimumWidth(300);
    auto* purpose = new QLabel(QStringLiteral("Программа для передачи данных с приборов ВЕСКОР"), this);
    purpose->setFont(text);
    purpose->move(12, 72);
    auto* ok = new QPushButton(QStringLiteral("Ок"), this);
    ok->setGeometry(434, 116, 75, 25);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, [this] { done(QDialog::Accepted); });
}

QString Tform6::versionText() const { return m_version->text(); }

void Tform6::showEvent(QShowEvent* event) {
    m_version->setText(QStringLiteral("Версия ") + file_version(m_programFile));
    QDialog::showEvent(event);
}

} // namespace ulen3
