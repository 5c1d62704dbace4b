#include "app/HelpViewer.h"

#include "dialogs/UserDialogs.h"
#include "print/WindowSize.h"

#include <QDialog>
#include <QDir>
#include <QFileInfo>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

namespace ulen3 {

QString help_contents(const QString& programDir) {
    const QDir dir(programDir);
    for (const QString& candidate : {dir.filePath(QStringLiteral("ulen3.help/index.html")),
                                     dir.filePath(QStringLiteral("../share/ВЕСКОР/index.html")),
                                     QStringLiteral("/usr/share/doc/ВЕСКОР/index.html")}) {
        if (QFileInfo::exists(candidate))
            return QFileInfo(candidate).absoluteFilePath();
    }
    return {};
}

void show_help(QWidget* parent, UserDialogs& dialogs, const QString& programDir) {
    const QString contents = help_contents(programDir);
    if (contents.isEmpty()) {
        dialogs.warning(parent, QStringLiteral("Помощь"),
                        QStringLiteral("Не найден файл справки ВЕСКОР: ни страниц «ulen3» рядом с программой, "
                                       "ни установленных страниц «ВЕСКОР»."));
        return;
    }
    QDialog viewer(parent);
    viewer.setWindowTitle(QStringLiteral("Помощь"));
    size_to_screen(&viewer, QSize(720, 560));
    auto* browser = new QTextBrowser(&viewer);
    browser->setOpenLinks(true);
    browser->setSource(QUrl::fromLocalFile(contents));
    auto* layout = new QVBoxLayout(&viewer);
    layout->addWidget(browser);
    viewer.exec();
}

} // namespace ulen3
