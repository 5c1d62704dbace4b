#pragma once

// The report's preview window and printing through the print dialog.

#include <QDialog>

#include <functional>

class QComboBox;
class QLabel;

namespace ulen3 {

class PreparedReport;
class UserDialogs;
class SheetsView;

// The modal preview: zoom, print, PDF, help and close. Only the sheets in sight are drawn, so a
// report of thousands of sheets opens as fast as one of a few.
class ReportPreview : public QDialog {
    Q_OBJECT
public:
    struct Commands {
        std::function<void()> print;
        std::function<void()> savePdf;
        std::function<void()> help;
    };
    ReportPreview(const PreparedReport& report, Commands commands, QWidget* parent = nullptr);
    ~ReportPreview() override;

    // The zoom: 0 for the sheet's width, -1 for the whole sheet, otherwise per cent.
    void setZoom(int zoom);
    int currentSheet() const;
    SheetsView* view() const { return m_view; }

private:
    void showWhere(); // "Лист N из M"

    SheetsView* m_view;
    QComboBox* m_zoom;
    QLabel* m_where;
    int m_sheets = 0;
};

// Shows the print dialog with one copy and collated copies, and prints the prepared sheets when
// the user confirms. With no printer installed nothing happens. True when printed.
// Whether the system has a printer to print on.
bool printers_installed();

bool print_with_dialog(const PreparedReport& report, const QString& documentName, UserDialogs& dialogs,
                       QWidget* parent);

} // namespace ulen3
