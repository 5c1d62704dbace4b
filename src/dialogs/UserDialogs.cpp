#include "dialogs/UserDialogs.h"

#include <QColorDialog>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPushButton>

namespace ulen3 {

namespace {

// "Базы данных|*.db" as the file dialog writes it, "Базы данных (*.db)"; several types as
// "name|pattern|name|pattern…", each name written once with its pattern.
QStringList name_filters(const QString& filter, QStringList& patterns) {
    const QStringList parts = filter.split('|');
    if (parts.size() < 2 || parts.size() % 2 != 0)
        return {filter};
    QStringList names;
    for (qsizetype i = 0; i < parts.size(); i += 2) {
        names << (parts[i].contains('(') ? parts[i] : parts[i] + " (" + parts[i + 1] + ")");
        patterns << parts[i + 1];
    }
    return names;
}

// "*.xlsx" gives "xlsx"; empty for a pattern of no one extension.
QString suffix_of(const QString& pattern) {
    return pattern.startsWith(QStringLiteral("*.")) && !pattern.contains(';') ? pattern.mid(2) : QString();
}

void prepare(QFileDialog& d, const QString& filter, const QString& defaultExt, const QString& folder) {
    QStringList patterns;
    const QStringList names = name_filters(filter, patterns);
    d.setNameFilters(names);
    d.setDefaultSuffix(defaultExt.startsWith('.') ? defaultExt.mid(1) : defaultExt);
    // A name typed without an extension takes the one of the type chosen.
    if (patterns.size() > 1)
        QObject::connect(&d, &QFileDialog::filterSelected, &d, [&d, names, patterns](const QString& chosen) {
            const QString suffix = suffix_of(patterns.value(names.indexOf(chosen)));
            if (!suffix.isEmpty())
                d.setDefaultSuffix(suffix);
        });
    d.setDirectory(folder);
}

QString chosen_file(QFileDialog& d) {
    return d.exec() == QDialog::Accepted && !d.selectedFiles().isEmpty() ? d.selectedFiles().front() : QString();
}

QMessageBox::Icon box_icon(BoxIcon icon) {
    return icon == BoxIcon::Error     ? QMessageBox::Critical
           : icon == BoxIcon::Warning ? QMessageBox::Warning
                                      : QMessageBox::Information;
}

} // namespace

QString QtUserDialogs::openFile(QWidget* parent, const QString& filter, const QString& defaultExt,
                                const QString& folder) {
    QFileDialog d(parent);
    prepare(d, filter, defaultExt, folder);
    d.setAcceptMode(QFileDialog::AcceptOpen);
    d.setFileMode(QFileDialog::ExistingFile);
    return chosen_file(d);
}

QString QtUserDialogs::saveFile(QWidget* parent, const QString& filter, const QString& defaultExt,
                                const QString& folder, bool confirmOverwrite) {
    QFileDialog d(parent);
    prepare(d, filter, defaultExt, folder);
    d.setAcceptMode(QFileDialog::AcceptSave);
    d.setOption(QFileDialog::DontConfirmOverwrite, !confirmOverwrite);
    return chosen_file(d);
}

bool QtUserDialogs::ask(QWidget* parent, const QString& caption, const QString& text, bool yesIsDefault) {
    return QMessageBox::question(parent, caption, text, QMessageBox::Yes | QMessageBox::No,
                                 yesIsDefault ? QMessageBox::Yes : QMessageBox::No) == QMessageBox::Yes;
}

void QtUserDialogs::message(QWidget* parent, BoxIcon icon, const QString& caption, const QString& text,
                            const QString& details) {
    QMessageBox box(box_icon(icon), caption, text, QMessageBox::Ok, parent);
    if (!details.isEmpty())
        box.setInformativeText(details);
    box.exec();
}

bool QtUserDialogs::offer(QWidget* parent, BoxIcon icon, const QString& caption, const QString& text,
                          const QString& details, const QString& action) {
    QMessageBox box(box_icon(icon), caption, text, QMessageBox::Close, parent);
    box.setInformativeText(details);
    box.setTextInteractionFlags(Qt::TextSelectableByMouse);
    QPushButton* button = box.addButton(action, QMessageBox::ActionRole);
    box.exec();
    return box.clickedButton() == button;
}

bool QtUserDialogs::print(QWidget* parent, QPrinter& printer, int sheets) {
    QPrintDialog dialog(&printer, parent);
    dialog.setMinMax(1, sheets);
    return dialog.exec() == QDialog::Accepted;
}

std::optional<QColor> QtUserDialogs::color(QWidget* parent, const QColor& initial) {
    const QColor c = QColorDialog::getColor(initial, parent);
    return c.isValid() ? std::optional<QColor>(c) : std::nullopt;
}

UserDialogs& platform_dialogs() {
    static QtUserDialogs dialogs;
    return dialogs;
}

} // namespace ulen3
