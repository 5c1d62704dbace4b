#include "link/receive.h"

#include "dialogs/UserDialogs.h"

#include "link/ImageArchive.h"

#include <QDateTime>

#include <QCloseEvent>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

#include <algorithm>

namespace ulen3 {

namespace {

QString text(const char* utf8) { return QString::fromUtf8(utf8); }

} // namespace

TForm2::TForm2(DownloadResults& results, QWidget* parent, int replyTimeoutMs, int stallMs)
    : QDialog(parent), DownloadLink(results, replyTimeoutMs, stallMs), m_results(results),
      m_dialogs(&platform_dialogs()) {
    // A fixed border and no close box: the dialog ends through "Отмена", success or an error.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setWindowTitle(text(exchange_text::kCaption));

    Label1 = new QLabel(this);
    QFont bold = Label1->font();
    bold.setBold(true);
    Label1->setFont(bold);
    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);

    auto* group = new QGroupBox(QStringLiteral("Информация"), this);
    auto* form = new QFormLayout(group);
    LabelType = new QLabel(group);
    LabelVersion = new QLabel(group);
    LabelCount = new QLabel(group);
    form->addRow(QStringLiteral("Тип прибора:"), LabelType);
    form->addRow(QStringLiteral("Версия ПО:"), LabelVersion);
    form->addRow(QStringLiteral("Количество записей:"), LabelCount);

    Button1 = new QPushButton(QStringLiteral("Отмена"), this);
    // A long transfer must not end by a stray Enter: the button is no default; Escape, a click
    // and Space on the focused button cancel.
    Button1->setAutoDefault(false);
    Button1->setDefault(false);
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Label1);
    layout->addWidget(ProgressBar1);
    layout->addWidget(group);
    layout->addWidget(Button1, 0, Qt::AlignHCenter);
    // The status line has room for its longest text, the stall's in two lines, so that the
    // dialog keeps its size whatever it says.
    const QFontMetrics metrics = Label1->fontMetrics();
    int width = 0;
    for (const QString& status : {text(exchange_text::kWaiting), text(exchange_text::kReceiving), drainingText()})
        width = std::max(width, metrics.horizontalAdvance(status));
    width = std::max(width, metrics.horizontalAdvance(stallText(999)) / 2 + metrics.averageCharWidth() * 8);
    Label1->setWordWrap(true);
    Label1->setFixedWidth(width + 40);
    Label1->setFixedHeight(2 * metrics.lineSpacing() + 2);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

QString TForm2::statusText() const { return Label1->text(); }
int TForm2::progress() const { return ProgressBar1->value(); }
QString TForm2::deviceType() const { return LabelType->text(); }
QString TForm2::softwareVersion() const { return LabelVersion->text(); }
QString TForm2::recordCount() const { return LabelCount->text(); }

void TForm2::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!event->spontaneous() && !exchange().active())
        FormShow();
}

void TForm2::closeEvent(QCloseEvent* event) {
    // Only the exchange ends the dialog; a window manager's close is "Отмена".
    if (m_finishing) {
        event->accept();
        return;
    }
    event->ignore();
    Button1Click();
}

void TForm2::reject() {
    if (m_finishing)
        QDialog::reject();
    else
        Button1Click();
}

void TForm2::FormShow() {
    m_finishing = false;
    m_keptImage.clear();
    startDownload();
}

void TForm2::Button1Click() { cancelDownload(); }

void TForm2::FormClose() { Timer1.stop(); }

void TForm2::clearInformation() {
    LabelType->clear();
    LabelVersion->clear();
    LabelCount->clear();
}

void TForm2::showStatus(ExchangeStatus status) {
    Label1->setText(text(status == ExchangeStatus::Waiting ? exchange_text::kWaiting : exchange_text::kReceiving));
    setWindowTitle(text(exchange_text::kCaption));
}

void TForm2::showProgress(int percent) { ProgressBar1->setValue(percent); }

void TForm2::showIdentification(const std::string& deviceName, const std::string& version) {
    LabelType->setText(QString::fromStdString(deviceName));
    LabelVersion->setText(QString::fromStdString(version));
}

void TForm2::showRecordCount(unsigned count) { LabelCount->setNum(static_cast<int>(count)); }

// The specified text stays as it is; what each port did goes under it.
void TForm2::showError(const std::string& caption, const std::string& message) {
    const bool noInstrument = message == exchange_text::kNoInstrument;
    m_dialogs->error(this, QString::fromStdString(caption), QString::fromStdString(message),
                     noInstrument ? portReport() : QString());
}

QString TForm2::stallText(int seconds) {
    return QStringLiteral("Нет данных от прибора %1 с — проверьте кабель или нажмите «Отмена».").arg(seconds);
}

QString TForm2::drainingText() { return QStringLiteral("Прибор завершает предыдущую передачу …"); }

void TForm2::showStall(int seconds) {
    if (seconds == 0) {
        showStatus(ExchangeStatus::Receiving);
        return;
    }
    Label1->setText(stallText(seconds));
}

// Nothing of the previous instrument is shown while the line is waited for.
void TForm2::showDraining() {
    clearInformation();
    ProgressBar1->setValue(0);
    Label1->setText(drainingText());
}

void TForm2::finish(int result) {
    // A complete memory image is kept at once, before anything decodes it.
    if (result == 1) {
        try {
            m_keptImage = keep_image(m_results, QDateTime::currentDateTime());
        } catch (const std::exception&) {
            m_keptImage.clear(); // the download itself stands; only the copy is missing
        }
    }
    logEnd(result);
    m_finishing = true;
    FormClose();
    done(result);
}

} // namespace ulen3
