#pragma once

// TForm2, the download dialog: runs one complete exchange with the instrument while it is shown
// modally and ends with 1 (a new memory image is ready) or 2 (failed or cancelled).

#include "link/DownloadLink.h"

#include <QDialog>

#include <functional>

class QLabel;
class QProgressBar;
class QPushButton;

namespace ulen3 {

class UserDialogs;

class TForm2 : public QDialog, public DownloadLink {
public:
    explicit TForm2(DownloadResults& results, QWidget* parent = nullptr, int replyTimeoutMs = kReplyTimeoutMs,
                    int stallMs = kStallMs);

    // The boxes the dialog shows its errors in (with the ports' report under the text when there
    // is one); the platform's own unless set.
    void setDialogs(UserDialogs& dialogs) { m_dialogs = &dialogs; }

    // What the dialog shows, for tests.
    QString statusText() const;
    int progress() const;
    QString deviceType() const;
    QString softwareVersion() const;
    QString recordCount() const;
    // Where the last complete download's memory image was kept, or empty.
    QString keptImage() const { return m_keptImage; }

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void reject() override; // Escape is "Отмена"

private:
    void FormShow();
    void Button1Click();
    void FormClose();

    void clearInformation() override;
    void showStatus(ExchangeStatus status) override;
    void showProgress(int percent) override;
    void showIdentification(const std::string& deviceName, const std::string& version) override;
    void showRecordCount(unsigned count) override;
    void showError(const std::string& caption, const std::string& text) override;
    void finish(int result) override;
    void showStall(int seconds) override;
    void showDraining() override;
    static QString stallText(int seconds);
    static QString drainingText();

    QLabel* Label1; // status line
    QProgressBar* ProgressBar1;
    QLabel* LabelType;
    QLabel* LabelVersion;
    QLabel* LabelCount;
    QPushButton* Button1;
    DownloadResults& m_results;
    UserDialogs* m_dialogs;
    bool m_finishing = false;
    QString m_keptImage;
};

} // namespace ulen3
