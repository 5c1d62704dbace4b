#include "ui/PortsDialog.h"

#include "dialogs/UserDialogs.h"

#include "link/ImageArchive.h"
#include "link/PortNames.h"
#include "link/SerialDevice.h"
#include "settings/Settings.h"

#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHash>
#include <QLabel>
#include <QPushButton>
#include <QSerialPortInfo>
#include <QUrl>

namespace ulen3 {

namespace {

// The stable name of a device under /dev/serial/by-id, or the device itself.
QString stable_name(const QString& device) {
    const QDir byId(QStringLiteral("/dev/serial/by-id"));
    for (const QFileInfo& link : byId.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot))
        if (link.canonicalFilePath() == QFileInfo(device).canonicalFilePath())
            return link.absoluteFilePath();
    return device;
}

QString described(const QSerialPortInfo& info) {
    QStringList about;
    for (const QString& part : {info.description(), info.manufacturer()})
        if (!part.isEmpty() && !about.contains(part))
            about << part;
    if (!info.serialNumber().isEmpty())
        about << QStringLiteral("№ ") + info.serialNumber();
    return about.isEmpty() ? QString() : QStringLiteral(" — ") + about.join(QStringLiteral(", "));
}

} // namespace

PortsDialog::PortsDialog(SettingsStore& settings, UserDialogs& dialogs, QWidget* parent)
    : QDialog(parent), m_settings(settings), m_dialogs(dialogs) {
    setWindowTitle(QStringLiteral("Порты прибора"));
    auto* grid = new QGridLayout(this);
    // The ports the program finds by itself, in its own order, each as the system describes it.
    const QStringList present = serial_devices_present();
    QHash<QString, QString> about;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
        about.insert(QFileInfo(info.systemLocation()).canonicalFilePath(), described(info));
    for (int port = 0; port < 2; ++port) {
        const QString key = QStringLiteral("COM%1").arg(port + 1);
        auto* box = new QComboBox(this);
        box->setEditable(true);
        // As wide as 48 characters, not as the longest stable name: the dialog fits a small
        // screen at 200 %.
        box->setMinimumContentsLength(48);
        box->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
        const QString automatic = present.value(port);
        box->addItem(QStringLiteral("Автоматически%1")
                         .arg(automatic.isEmpty() ? QString() : QStringLiteral(" (") + automatic + ')'),
                     QString());
        for (const QString& found : present) {
            const QString device = stable_name(found);
            box->addItem(device + about.value(QFileInfo(found).canonicalFilePath()), device);
        }
        m_ports[port] = box;
        choose(port, settings.read(key).value_or(QString()));
        auto* checkButton = new QPushButton(QStringLiteral("Проверить"), this);
        m_results[port] = new QLabel(this);
        m_results[port]->setWordWrap(true);
        connect(checkButton, &QPushButton::clicked, this, [this, port] { check(port); });
        grid->addWidget(new QLabel(key + ':', this), port * 2, 0);
        grid->addWidget(box, port * 2, 1);
        grid->addWidget(checkButton, port * 2, 2);
        grid->addWidget(m_results[port], port * 2 + 1, 1, 1, 2);
    }
    const QString last = settings.read(QStringLiteral("Last_port")).value_or(QString());
    grid->addWidget(new QLabel(last.isEmpty() ? QStringLiteral("Прибор ещё не отвечал ни на одном порту.")
                                              : QStringLiteral("Последний раз прибор ответил на %1.").arg(last),
                               this),
                    4, 0, 1, 3);
    m_log = new QCheckBox(QStringLiteral("Записывать журнал обмена с прибором"), this);
    m_log->setChecked(settings.read(QStringLiteral("Exchange_log")).value_or(QString()) == QLatin1String("1"));
    auto* folder = new QPushButton(QStringLiteral("Папка журналов и образов памяти"), this);
    connect(folder, &QPushButton::clicked, this, [this] { openFolder(); });
    grid->addWidget(m_log, 6, 0, 1, 2);
    grid->addWidget(folder, 6, 2);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
        store();
        accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    grid->addWidget(buttons, 7, 0, 1, 3);
}

QString PortsDialog::chosen(int port) const {
    QComboBox* box = m_ports[port];
    const int i = box->findText(box->currentText());
    return i >= 0 ? box->itemData(i).toString() : box->currentText().trimmed();
}

void PortsDialog::choose(int port, const QString& device) {
    QComboBox* box = m_ports[port];
    const int i = box->findData(device);
    if (i >= 0)
        box->setCurrentIndex(i);
    else
        box->setEditText(device);
}

QString PortsDialog::check(int port) {
    QString device = chosen(port);
    if (device.isEmpty())
        device = serial_devices_present().value(port);
    SerialDevice d;
    const bool opened = d.open(device.toStdString());
    QString shown;
    if (opened)
        shown = QStringLiteral("%1 открывается; ответит ли прибор, покажет приём данных.").arg(device);
    else if (d.lastFailure() == PortFailure::NotAssigned)
        shown = serial_devices_present().isEmpty()
                    ? QStringLiteral(
                          "Последовательных портов не найдено: подключите USB-переходник или впишите путь к порту.")
                    : QStringLiteral("COM%1 не назначен: выберите порт из списка.").arg(port + 1);
    else
        shown = QString::fromStdString(
                    port_failure_text(d.lastFailure(), device.toStdString(), PortAdvice::InPortsDialog)) +
                '.';
    d.close();
    shown[0] = shown[0].toUpper();
    QLabel* result = m_results[port];
    result->setText(shown);
    // The whole text is shown: the label takes the lines it needs and the dialog grows to them.
    result->setMinimumHeight(result->heightForWidth(std::max(result->width(), result->sizeHint().width())));
    layout()->activate();
    resize(size().expandedTo(minimumSizeHint()));
    return shown;
}

// The folder in the desktop's file manager; without one, its path, to be copied.
void PortsDialog::openFolder() {
    QDir().mkpath(log_folder());
    const QString folder = QFileInfo(log_folder()).absolutePath();
    if (QDesktopServices::openUrl(QUrl::fromLocalFile(folder)))
        return;
    if (m_dialogs.offer(
            this, BoxIcon::Information, windowTitle(),
            QStringLiteral("Папку журналов и образов памяти не удалось открыть: в системе нет программы для "
                           "просмотра папок. Она находится здесь:"),
            folder, QStringLiteral("Копировать путь")))
        QGuiApplication::clipboard()->setText(folder);
}

void PortsDialog::store() {
    for (int port = 0; port < 2; ++port)
        m_settings.write(QStringLiteral("COM%1").arg(port + 1), chosen(port));
    m_settings.write(QStringLiteral("Exchange_log"), m_log->isChecked() ? QStringLiteral("1") : QStringLiteral("0"));
}

} // namespace ulen3
