#include "ui/UserDialogs.h"

#include <QColorDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

namespace ulen3 {

namespace {

// "Базы данных|*.db" as the file dialog writes it: "Базы данных (*.db)".
QString name_filter(const QString& filter) {
    const QStringList parts = filter.split('|');
    return parts.size() == 2 ? parts[0] + " (" + parts[1] + ")" : filter;
}

QFileDialog* file_dialog(QWidget* parent, const QString& filter, const QString& defaultExt,
                         const QString& folder) {
    auto* d = new QFileDialog(parent);
    d->setNameFilter(name_filter(filter));
    d->setDefaultSuffix(defaultExt.startsWith('.') ? defaultExt.mid(1) : defaultExt);
    d->setDirectory(folder);
    return d;
}

} // namespace

QString QtUserDialogs::openFile(QWidget* parent, const QString& filter, const QString& defaultExt,
                                const QString& folder) {
    QFileDialog* d = file_dialog(parent, filter, defaultExt, folder);
    d->setAcceptMode(QFileDialog::AcceptOpen);
    d->setFileMode(QFileDialog::ExistingFile);
    const QString chosen = d->exec() == QDialog::Accepted && !d->selectedFiles().isEmpty() ? d->selectedFiles().front() : QString();
    delete d;
    return chosen;
}

QString QtUserDialogs::saveFile(QWidget* parent, const QString& filter, const QString& defaultExt,
                                const QString& folder, bool confirmOverwrite) {
    QFileDialog* d = file_dialog(parent, filter, defaultExt, folder);
    d->setAcceptMode(QFileDialog::AcceptSave);
    d->setOption(QFileDialog::DontConfirmOverwrite, !confirmOverwrite);
    const QString chosen = d->exec() == QDialog::Accepted && !d->selectedFiles().isEmpty() ? d->selectedFiles().front() : QString();
    delete d;
    return chosen;
}

bool QtUserDialogs::ask(QWidget* parent, const QString& caption, const QString& text, bool yesIsDefault) {
    return QMessageBox::question(parent, caption, text, QMessageBox::Yes | QMessageBox::No,
                                 yesIsDefault ? QMessageBox::Yes : QMessageBox::No) == QMessageBox::Yes;
}

void QtUserDialogs::message(QWidget* parent, BoxIcon icon, const QString& caption, const QString& text,
                            const QString& details) {
    const QMessageBox::Icon kind = icon == BoxIcon::Error     ? QMessageBox::Critical
                                   : icon == BoxIcon::Warning ? QMessageBox::Warning
                                                              : QMessageBox::Information;
    QMessageBox box(kind, caption, text, QMessageBox::Ok, parent);
    if (!details.isEmpty())
        box.setInformativeText(details);
    box.exec();
}

std::optional<QColor> QtUserDialogs::color(QWidget* parent, const QColor& initial) {
    const QColor c = QColorDialog::getColor(initial, parent);
    return c.isValid() ? std::optional<QColor>(c) : std::nullopt;
}

} // namespace ulen3
