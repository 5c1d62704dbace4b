#pragma once

// TForm1, the main window: the menus, the toolbar, the two pages with their grids, the window's
// state that follows the document, and the document's lifecycle (create, open, append, save,
// close, exit).

#include "print/ReportEngine.h"
#include "table/ObservationTable.h"
#include "table/PageStatistics.h"
#include "table/Pages.h"
#include "ui/ColumnLayouts.h"
#include "ui/Document.h"
#include "ui/PageFooters.h"
#include "ui/Title.h"
#include "ui/grid/DBGridPro.h"

#include <QMainWindow>

#include <functional>
#include <memory>

class QAction;
class QIcon;
class QMenu;
class QTabWidget;
class QToolButton;

namespace ulen3 {

struct DecodeResult;
class ChartWindow;
class TForm2;
struct DownloadResults;
class SettingsStore;
class UserDialogs;

// A page's report: its template, read when the window is created, and the sheets last prepared
// from it, kept until the next prepare.
struct PageReport {
    ReportTemplate layout;
    PreparedReport prepared;
};

// One page of the window: what it shows (the page definition) and the widgets that show it.
struct Page {
    const PageDefinition& def;
    QWidget* sheet;
    TDBGridPro* grid;
    std::vector<TgpColumn> design; // the grid's columns as the window is built with them
    PageReport& report;
    // The grid showed a document or a stored layout since its layout was last written: only
    // then does a close write it, so a session without a table keeps the stored layouts.
    bool layoutShown = false;
};

// The program's icon, for every window and the desktop.
QIcon application_icon();

class TForm1 : public QMainWindow {
public:
    // The download dialog and its results are created by the start-up and outlive this window.
    TForm1(UserDialogs& dialogs, SettingsStore& settings, TForm2& download, DownloadResults& results,
           QWidget* parent = nullptr);
    ~TForm1() override;

    // The document: its table, whether it is open and changed, the folder of the dialogs.
    const Document& document() const { return m_document; }
    ObservationTable& table() { return m_table; }
    QString title() const { return windowTitle(); }
    // The user's decimal separator, as the decoder writes plate sizes with it.
    char decimalSeparator() const;

    // Window state operations.
    void FormCreate();
    void enable_button();
    void disable_button();
    void tab_vis_en();
    void tab_vis_dis();
    void TabSheet1Show();
    void TabSheet2Show();

    // Commands.
    void N2Click();                // "Создать"
    void N3Click();                // "Открыть"
    void N4Click();                // "Дополнить"
    void N5Click() { Save_DB(); }  // "Сохранить"
    void N7Click() { Close_DB(); } // "Закрыть"
    void N11Click();               // "Выход"
    void Excel1Click();            // "Экспорт в Excel"
    // "Экспорт…" (the visible page) and "Экспорт выбранных строк…" (its marked rows), in the
    // grid's order, to the type chosen in the save dialog (ExportCommands.cpp).
    void exportPage(bool markedOnly);
    // "Экспорт выбранных строк…" is enabled while the page shown has a marked row.
    void updateExportMarked();
    void FormClose(); // the window is closed

    void Create_DB(const QString& path);
    bool Open_DB(const QString& path);
    void Save_DB();
    void Close_DB();
    // The clear-sort step for one grid and one tag: marks, index, tag, refresh; failures ignored.
    void reset_sort(TDBGridPro* grid, const char* tag);

    // Grid commands (GridCommands.cpp).
    void DBGridPro1TitleStateChange(TDBGridPro* grid, int column);
    void DBGridPro2TitleStateChange(TDBGridPro* grid, int column);
    void N33Click(); // "Убрать сортировку"
    void N17Click(); // "Задать цвет"
    void N18Click(); // "Убрать цвет"
    void N19Click(); // "Убрать все цвета"
    void N23Click(); // "Выровнять столбцы"
    void N21Click(); // "Удалить строки", "Удалить"
    void N37Click(); // "Перенумеровать строки"
    void clear_colors(TDBGridPro* grid);
    void fit_columns(TDBGridPro* grid);
    void delete_rows(TDBGridPro* grid);

    // Footer statistics (PageFooters.cpp).
    void find_mma();
    void DBGridPro1SelectionChange(TDBGridPro* grid);
    void DBGridPro2SelectionChange(TDBGridPro* grid);
    void DBGridPro1AfterDelete(TDBGridPro* grid);
    void DBGridPro2AfterDelete(TDBGridPro* grid);
    // find_mma, then the footers of the visible page's grid.
    void recompute_footers();

    // The window «График» of the visible page ("График…"), made at its first use; and the
    // figures of the page or its marked rows ("Статистика…").
    void showChart();
    void showStatistics();
    ChartWindow* chartWindow() const { return m_chart; }

    // Printed reports (PrintCommands.cpp); each page's report as last prepared.
    const PageReport& report(PageKind kind) const { return page(kind).report; }
    void N8Click();  // "Предварительный просмотр"
    void N9Click();  // "Печать"
    void N22Click(); // the popup's "Печать"
    // Prepares the visible page's report from its records; false without a document.
    bool prepare_report();
    // Prints through the print dialog, or offers a PDF where no printer is installed.
    void printReport(const PreparedReport& prepared);
    void saveReportAsPdf(const PreparedReport& prepared);
    QString reportName() const;

    // Settings and column layouts (ColumnLayouts.cpp).
    void load_layout(const QString& value, TDBGridPro* grid);
    void save_layout(const QString& value, TDBGridPro* grid);
    // Why a table file cannot be written there, or empty.
    static QString cannot_write(const QString& path);
    // Shows the window as it was left at the last close, or maximised.
    void showAsStored();
    // Opens a table the user chose outside the open dialog (the desktop's "Open with") as
    // "Открыть" does.
    void openChosen(const QString& path);

    // The page shown, and each page by kind.
    const Page& visiblePage() const;
    const Page& page(PageKind kind) const;
    TDBGridPro* activeGrid() const { return visiblePage().grid; }
    bool observationPageShown() const;
    bool pagesShown() const;
    bool commandEnabled(const QString& caption) const;
    bool commandHasIcon(const QString& caption) const;
    QColor backgroundColor() const;

    // What ends the message loop for "Выход" (tests count it instead), and the "Помощь" and
    // "О программе" commands of the application shell.
    void setQuit(std::function<void()> quit) { QuitApplication = std::move(quit); }
    void setHelp(std::function<void()> help) { ShowHelp = std::move(help); }
    void setAbout(std::function<void()> about) { ShowAbout = std::move(about); }

    // The application's general error handler: the text in an error box with the title.
    void showError(const std::exception& e);
    UserDialogs& dialogs() { return m_dialogs; }
    // The toolbar has no context menu: it could hide the toolbar for good.
    QMenu* createPopupMenu() override { return nullptr; }

    // The grid of each page, and the pages' tabs.
    TDBGridPro* grid(PageKind kind) const { return page(kind).grid; }
    QTabWidget* pageTabs() const { return PageControl1; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildMenus();
    DecodeResult decode(bool append);
    void showDocument(bool withLayouts);
    void showNoDocument();
    void setFilter(const PageDefinition& page);
    void rememberAnswer();
    std::string keptImageNote() const;
    void titleStateChange(const Page& page, int column);
    // The page statistics again after a cell edit, without moving the cursor.
    void afterPost(TDBGridPro* grid);
    // The page whose grid this is.
    Page& pageOf(const TDBGridPro* grid);
    // Runs a command that reads or rewrites the table and puts the visible grid's current
    // record and scroll position back where the user left them.
    void keepingPlace(const std::function<void()>& work);
    // Throws when an output may not go to `path`: the open table, its index, another table,
    // a file another program holds. `what` begins the message.
    void refuseOutput(const QString& path, const char* what) const;
    // Writes a settings value; a store that refuses is said once, and the program goes on.
    void remember(const QString& name, const QString& value);
    void setTitle(const QString& title);
    void setBackground(bool documentOpen);
    // Runs a command; an error it raises goes to the general error handler.
    void guarded(const std::function<void()>& work);

    TDBGridPro* DBGridPro1;
    TDBGridPro* DBGridPro2;
    QTabWidget* PageControl1;
    QWidget* TabSheet1;
    QWidget* TabSheet2;
    PageReport frReport1, frReport2;

    std::function<void()> QuitApplication;
    std::function<void()> ShowHelp;
    std::function<void()> ShowAbout;

    UserDialogs& m_dialogs;
    SettingsStore& m_settings;
    TForm2& m_download;
    DownloadResults& m_results;
    Document m_document;
    ChartWindow* m_chart = nullptr;
    QAction* m_chartAction = nullptr;
    QAction* m_exportMarkedAction = nullptr;
    ObservationTable& m_table = m_document.table();
    PageFooters m_footers{m_table};
    ColumnLayouts m_layouts{m_settings, m_dialogs, this};
    std::vector<Page> m_pages;
    std::vector<QAction*> m_documentCommands;
    std::vector<QAction*> m_allCommands;
    bool m_exiting = false;
};

} // namespace ulen3
