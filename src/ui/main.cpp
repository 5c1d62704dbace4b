#include "ui/main.h"

#include "base/File.h"
#include "decode/ImageDecoder.h"
#include "dialogs/UserDialogs.h"
#include "export/SheetExport.h"
#include "link/receive.h"
#include "print/Reports.h"
#include "settings/Settings.h"
#include "table/Pages.h"
#include "table/TablePaths.h"
#include "ui/ChartWindow.h"
#include "ui/PortsDialog.h"

#include <algorithm>
#include <utility>

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QLocale>
#include <QMenuBar>
#include <QScrollBar>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryFile>
#include <QToolBar>
#include <QVBoxLayout>

// The icons live in the ui library; a static library's resources are registered by hand.
static void register_icons() { Q_INIT_RESOURCE(icons); }

namespace ulen3 {

QIcon application_icon() {
    register_icons();
    return QIcon(QStringLiteral(":/icons/ulen3.svg"));
}

namespace {

// What a failed save or close leaves: the window shows no table, the file keeps what was posted.
const char* const kClosedNote = ". Таблица закрыта; записи, сохранённые раньше, остались в файле";

// The image list: seven icons drawn for this program on a 16 × 16 grid (resources/icons), as
// SVG so that they stay sharp on a scaled screen.
QIcon list_icon(int index) {
    static const char* const names[] = {"0-create", "1-open", "2-save",       "3-preview",
                                        "4-print",  "5-help", "6-delete-rows"};
    return QIcon(QStringLiteral(":/icons/%1.svg").arg(QLatin1String(names[index])));
}

// A command's caption as the user reads it, without the mark of its menu mnemonic.
QString caption_of(const QAction* a) { return QString(a->text()).remove(QLatin1Char('&')); }

TgpColumn col(const char* field, const char* caption, int width, const char* format = "", bool readOnly = false) {
    TgpColumn c;
    c.FieldName = QString::fromLatin1(field);
    c.Caption = QString::fromUtf8(caption);
    c.Width = width;
    c.Alignment = TgpAlignment::Center;
    c.CaptionAlignment = TgpAlignment::Center;
    c.DisplayFormat = QString::fromLatin1(format);
    c.ReadOnly = readOnly;
    return c;
}

std::vector<TgpColumn> observation_columns() {
    return {
        col("SERIAL", "Серия", 23),         col("N", "N", 27),     col("DATE", "Дата", 44), col("TIME", "Время", 41),
        col("P", kTitleP, 66, "0.0", true), col("R", kTitleR, 66), col("H", kTitleH, 85),   col("T", kTitleQ, 107),
        col("COMMENT", "Примечание", 216)};
}

std::vector<TgpColumn> operative_columns() {
    return {col("SERIAL", "Серия", 24),
            col("N", "N", 21),
            col("DATE", "Дата", 63),
            col("TIME", "Время", 42),
            col("P", kTitleP, 87, "0.0", true),
            col("R", kTitleR, 57, "0.0"),
            col("H", kTitleH, 58, "0.0"),
            col("H", kTitleQ, 109, "0.00"),
            col("COMMENT", "Примечание", 214)};
}

} // namespace

TForm1::TForm1(UserDialogs& dialogs, SettingsStore& settings, TForm2& download, DownloadResults& results,
               QWidget* parent)
    : QMainWindow(parent), m_dialogs(dialogs), m_settings(settings), m_download(download), m_results(results) {
    // The download reads the ports' devices from the window's store and shows its errors in the
    // window's boxes.
    m_download.setSettings(m_settings);
    m_download.setDialogs(m_dialogs);
    // A document that closes, by a command or because its table could not be opened again,
    // leaves the window without a document.
    m_document.onStateChanged = [this] {
        if (!m_document.isOpen())
            showNoDocument();
    };
    resize(703, 501);
    PageControl1 = new QTabWidget;
    TabSheet1 = new QWidget;
    TabSheet2 = new QWidget;
    DBGridPro1 = new TDBGridPro(TabSheet1);
    DBGridPro2 = new TDBGridPro(TabSheet2);
    for (auto [page, grid] : {std::pair{TabSheet1, DBGridPro1}, std::pair{TabSheet2, DBGridPro2}}) {
        auto* layout = new QVBoxLayout(page);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(grid);
        grid->SetAutoColumnFit(true);
        grid->SetTitleLines(2);
        grid->SetShowFooters(true);
        grid->SetDataSource(&m_table);
        grid->OnInitEdit = [this](TDBGridPro*) { m_document.markChanged(); };
        grid->OnSelectionChange = [this](TDBGridPro* g) {
            m_footers.showMarked(*g);
            updateExportMarked();
            if (m_chart)
                m_chart->marksChanged();
        };
        grid->OnTitleStateChange = [this](TDBGridPro* g, int column) {
            guarded([&] {
                if (g == DBGridPro1)
                    DBGridPro1TitleStateChange(g, column);
                else
                    DBGridPro2TitleStateChange(g, column);
            });
        };
        grid->AfterDelete = [this](TDBGridPro* g) {
            if (g == DBGridPro1)
                DBGridPro1AfterDelete(g);
            else
                DBGridPro2AfterDelete(g);
        };
        grid->AfterPost = [this](TDBGridPro* g) { afterPost(g); };
        grid->OnError = [this](const QString& message) { showError(std::runtime_error(message.toStdString())); };
    }
    DBGridPro1->SetColumns(observation_columns());
    DBGridPro2->SetColumns(operative_columns());
    DBGridPro1->SetMultiSelect(true);
    frReport1.layout = report_template(PageKind::Observation);
    frReport2.layout = report_template(PageKind::Operative);
    m_pages.push_back(
        {page_definition(PageKind::Observation), TabSheet1, DBGridPro1, observation_columns(), frReport1});
    m_pages.push_back({page_definition(PageKind::Operative), TabSheet2, DBGridPro2, operative_columns(), frReport2});
    for (const Page& p : m_pages)
        PageControl1->addTab(p.sheet, QString::fromUtf8(p.def.caption));
    connect(PageControl1, &QTabWidget::currentChanged, this, [this](int page) {
        if (page == 0)
            TabSheet1Show();
        else if (page == 1)
            TabSheet2Show();
        updateExportMarked();
    });
    auto* central = new QWidget;
    central->setAutoFillBackground(true);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(PageControl1);
    setCentralWidget(central);
    buildMenus();
    setTitle(QString::fromUtf8(kTitle));
    FormCreate();
}

TForm1::~TForm1() {
    delete std::exchange(m_chart, nullptr); // it follows the table, which goes before the window's children
    // The table closes as the application shuts down; the grids no longer follow it.
    DBGridPro1->SetDataSource(nullptr);
    DBGridPro2->SetDataSource(nullptr);
}

void TForm1::buildMenus() {
    register_icons();
    const auto action = [this](const char* caption, std::function<void()> run, int icon = -1, QKeySequence key = {}) {
        auto* a = new QAction(QString::fromUtf8(caption), this);
        if (icon >= 0)
            a->setIcon(list_icon(icon));
        if (!key.isEmpty())
            a->setShortcut(key);
        connect(a, &QAction::triggered, this, [this, run] { guarded(run); });
        m_allCommands.push_back(a);
        return a;
    };
    QMenu* file = menuBar()->addMenu(QStringLiteral("&Файл"));
    QAction* N2 = action(
        "&Создать", [this] { N2Click(); }, 0, QKeySequence(Qt::CTRL | Qt::Key_N));
    QAction* N3 = action(
        "&Открыть", [this] { N3Click(); }, 1, QKeySequence(Qt::CTRL | Qt::Key_O));
    QAction* N4 = action("&Дополнить", [this] { N4Click(); });
    QAction* N5 = action(
        "Со&хранить", [this] { N5Click(); }, 2, QKeySequence(Qt::CTRL | Qt::Key_S));
    QAction* N7 = action("&Закрыть", [this] { N7Click(); });
    QAction* N8 = action(
        "Пред&варительный просмотр", [this] { N8Click(); }, 3);
    QAction* N9 = action(
        "&Печать", [this] { N9Click(); }, 4, QKeySequence(Qt::CTRL | Qt::Key_P));
    QAction* N11 = action("В&ыход", [this] { N11Click(); });
    file->addActions({N2, N3, N4, N5, N7});
    file->addSeparator();
    file->addActions({N8, N9});
    file->addSeparator();
    file->addAction(N11);
    QMenu* view = menuBar()->addMenu(QStringLiteral("&Вид"));
    QAction* N27 = action("&Выровнять столбцы", [this] { N23Click(); });
    QAction* N29 = action("&Задать цвет", [this] { N17Click(); });
    QAction* N30 = action("&Убрать цвет", [this] { N18Click(); });
    QAction* N31 = action("Убрать вс&е цвета", [this] { N19Click(); });
    QAction* N33 = action("Убрать &сортировку", [this] { N33Click(); });
    view->addAction(N27);
    view->addSeparator();
    view->addActions({N29, N30, N31});
    view->addSeparator();
    view->addAction(N33);
    view->addSeparator();
    m_chartAction = action(
        "&График…", [this] { showChart(); }, -1, QKeySequence(Qt::CTRL | Qt::Key_G));
    m_chartAction->setEnabled(false);
    view->addAction(m_chartAction);
    QMenu* edit = menuBar()->addMenu(QStringLiteral("&Правка"));
    QAction* N34 = action(
        "&Удалить строки", [this] { N21Click(); }, 6);
    edit->addAction(N34);
    QMenu* tools = menuBar()->addMenu(QStringLiteral("С&ервис"));
    QAction* Excel1 = action("&Экспорт в Excel", [this] { Excel1Click(); });
    QAction* N37 = action("&Перенумеровать строки", [this] { N37Click(); });
    tools->addActions({Excel1, N37});
    tools->addSeparator();
    QAction* exportAll = action("Экспо&рт…", [this] { exportPage(false); });
    m_exportMarkedAction = action("Экспорт вы&бранных строк…", [this] { exportPage(true); });
    m_exportMarkedAction->setEnabled(false);
    tools->addActions({exportAll, m_exportMarkedAction});
    connect(tools, &QMenu::aboutToShow, this, [this] { updateExportMarked(); });
    tools->addSeparator();
    tools->addAction(action("П&орты прибора…", [this] {
        PortsDialog ports(m_settings, m_dialogs, this);
        ports.exec();
    }));
    QMenu* help = menuBar()->addMenu(QStringLiteral("&Справка"));
    QAction* N24 = action(
        "&Помощь",
        [this] {
            if (ShowHelp)
                ShowHelp();
        },
        5, QKeySequence(Qt::Key_F1));
    QAction* N26 = action("&О программе", [this] {
        if (ShowAbout)
            ShowAbout();
    });
    help->addAction(N24);
    help->addSeparator();
    help->addAction(N26);
    m_documentCommands = {N4, N5, N7, N8, N9, N27, N29, N30, N31, N33, N34, N37, Excel1, exportAll};

    // The popup menu of both grids: the menu bar's own actions where the captions agree (the
    // popup opens only over a page, while a document is open and they are enabled).
    auto* popup = new QMenu(this);
    popup->addAction(action("&Печать", [this] { N22Click(); }));
    popup->addSeparator();
    popup->addActions({N29, N30, N31});
    popup->addSeparator();
    popup->addAction(N27);
    popup->addSeparator();
    popup->addAction(action("У&далить", [this] { N21Click(); }));
    popup->addSeparator();
    popup->addAction(action("&График…", [this] { showChart(); }));
    popup->addAction(action("&Статистика…", [this] { showStatistics(); }));
    popup->addSeparator();
    popup->addAction(m_exportMarkedAction);
    connect(popup, &QMenu::aboutToShow, this, [this] { updateExportMarked(); });
    for (TDBGridPro* grid : {DBGridPro1, DBGridPro2}) {
        grid->view()->setContextMenuPolicy(Qt::CustomContextMenu);
        connect(grid->view(), &QWidget::customContextMenuRequested, this,
                [grid, popup](const QPoint& at) { popup->popup(grid->view()->viewport()->mapToGlobal(at)); });
    }

    QToolBar* bar = addToolBar(QStringLiteral("ToolBar1"));
    bar->setMovable(false);
    bar->setIconSize(QSize(16, 16));
    bar->setToolButtonStyle(Qt::ToolButtonIconOnly);
    // The toolbar's save, preview and print buttons follow their menu items.
    bar->addActions({N2, N3, N5, N8, N9, N24});
}

char TForm1::decimalSeparator() const {
    // The table's texts are single-byte: a separator outside Latin-1 falls back to '.'.
    const QString sep = QLocale().decimalPoint();
    const char c = sep.isEmpty() ? '\0' : sep.at(0).toLatin1();
    return c ? c : '.';
}

void TForm1::guarded(const std::function<void()>& work) {
    try {
        work();
    } catch (const std::exception& e) {
        showError(e);
    }
}

void TForm1::showError(const std::exception& e) {
    QString text = QString::fromStdString(e.what());
    if (!text.endsWith('.'))
        text += '.';
    m_dialogs.error(this, QString::fromUtf8(kTitle), text);
}

void TForm1::setTitle(const QString& title) { setWindowTitle(title); }

void TForm1::setBackground(bool documentOpen) {
    QPalette p = centralWidget()->palette();
    p.setColor(QPalette::Window, palette().color(documentOpen ? QPalette::Button : QPalette::Dark));
    centralWidget()->setPalette(p);
}

QColor TForm1::backgroundColor() const { return centralWidget()->palette().color(QPalette::Window); }

void TForm1::FormCreate() {
    setWindowState(Qt::WindowMaximized);
    setBackground(false);
    PageControl1->hide();
    const std::optional<QString> dir = m_settings.read(QStringLiteral("Default_dir"));
    if (dir && QFileInfo(*dir).isDir()) {
        m_document.setFolder(*dir);
    } else if (dir) {
        // A folder that is gone: the dialogs start in the current one, and the setting is
        // written anew when the window closes.
        m_document.setFolder(QDir::currentPath());
    } else {
        m_document.setFolder(QDir::currentPath());
        remember(QStringLiteral("Default_dir"), m_document.folder());
    }
    m_document.close();
    DBGridPro1->SetBookmarkFields(QStringLiteral("P;R"));
    DBGridPro2->SetBookmarkFields(QStringLiteral("P;R"));
    for (const Page& p : m_pages)
        reset_sort(p.grid, p.def.sortTag);
    disable_button();
    tab_vis_dis();
}

void TForm1::enable_button() {
    for (QAction* a : m_documentCommands)
        a->setEnabled(true);
}

void TForm1::disable_button() {
    for (QAction* a : m_documentCommands)
        a->setEnabled(false);
}

bool TForm1::commandHasIcon(const QString& caption) const {
    for (QAction* a : m_allCommands) {
        if (caption_of(a) == caption)
            return !a->icon().isNull() && !a->icon().pixmap(16, 16).isNull();
    }
    return false;
}

bool TForm1::commandEnabled(const QString& caption) const {
    for (QAction* a : m_allCommands) {
        if (caption_of(a) == caption)
            return a->isEnabled();
    }
    return false;
}

void TForm1::tab_vis_en() {
    if (!m_table.Active())
        return;
    const ObservationTable::UpdateBatch batch(m_table);
    m_table.First();
    const PageKind kind = shown_page(m_table);
    const int index = kind == PageKind::Observation ? 0 : 1;
    for (int i = 0; i < 2; ++i)
        PageControl1->setTabVisible(i, i == index);
    PageControl1->setCurrentIndex(index);
    setFilter(page(kind).def);
    PageControl1->show();
    PageControl1->update();
}

void TForm1::tab_vis_dis() { PageControl1->hide(); }

void TForm1::setFilter(const PageDefinition& page) {
    if (!m_table.Active())
        return;
    m_table.SetFilter(page.filter);
}

void TForm1::TabSheet1Show() { setFilter(page(PageKind::Observation).def); }

void TForm1::TabSheet2Show() { setFilter(page(PageKind::Operative).def); }

bool TForm1::pagesShown() const { return !PageControl1->isHidden(); }

bool TForm1::observationPageShown() const { return PageControl1->currentIndex() == 0; }

// The pages stand in the order of their tabs: the observation page first.
const Page& TForm1::page(PageKind kind) const { return m_pages[kind == PageKind::Observation ? 0 : 1]; }

const Page& TForm1::visiblePage() const {
    return page(observationPageShown() ? PageKind::Observation : PageKind::Operative);
}

void TForm1::reset_sort(TDBGridPro* grid, const char* tag) {
    for (int i = 0; i < grid->Columns().Count(); ++i)
        grid->SetTitleState(i, tsSortedNone);
    if (m_table.Active())
        drop_sort_tag(m_table, tag);
}

void TForm1::N2Click() {
    if (m_document.isOpen())
        Close_DB();
    // The save dialog asks before an existing table is replaced.
    const QString path =
        m_dialogs.saveFile(this, QStringLiteral("Файлы данных|*.db"), QStringLiteral(".db"), m_document.folder(), true);
    if (path.isEmpty())
        return;
    // The download takes minutes on the real line: a file that cannot be written is said now.
    const QString why = cannot_write(path);
    if (!why.isEmpty())
        throw std::runtime_error(QStringLiteral("Таблицу «%1» нельзя записать: %2. Приём данных не начат")
                                     .arg(QFileInfo(path).fileName(), why)
                                     .toStdString());
    if (m_download.exec() != 1)
        return;
    rememberAnswer();
    try {
        Create_DB(path);
    } catch (const std::exception& e) {
        throw std::runtime_error(e.what() + keptImageNote());
    }
}

QString TForm1::cannot_write(const QString& path) {
    const QFileInfo file(path);
    if (file.exists())
        return file.isWritable() ? QString() : QStringLiteral("нет прав на запись в файл");
    QTemporaryFile probe(file.absolutePath() + QStringLiteral("/.ulen3-XXXXXX"));
    if (!QFileInfo(file.absolutePath()).isDir())
        return QStringLiteral("нет папки «%1»").arg(file.absolutePath());
    if (!probe.open())
        return QStringLiteral("в папку «%1» нельзя записывать (%2)").arg(file.absolutePath(), probe.errorString());
    return {};
}

void TForm1::rememberAnswer() {
    if (!m_download.answeredDevice().isEmpty())
        remember(QStringLiteral("Last_port"), m_download.answeredDevice());
}

std::string TForm1::keptImageNote() const {
    const QString kept = m_download.keptImage();
    if (kept.isEmpty())
        return {};
    return QStringLiteral(". Принятый образ памяти сохранён в «%1»; его можно загрузить в таблицу командой "
                          "«ulen3-cli decode %1 ТАБЛИЦА.db»")
        .arg(kept)
        .toStdString();
}

void TForm1::Create_DB(const QString& path) {
    // An image the decoder would refuse creates nothing: an older file of that name stays as
    // it was.
    try {
        check_image({m_results.flash_image.data(), m_results.image_size, m_results.dev_code, m_results.dev_serial});
    } catch (const DecodeError& e) {
        const QString kept = QFileInfo::exists(path)
                                 ? QStringLiteral("Файл «%1» не изменён.").arg(QFileInfo(path).fileName())
                                 : QStringLiteral("Таблица «%1» не создана.").arg(QFileInfo(path).fileName());
        throw DecodeError(std::string(e.what()) + " " + kept.toStdString());
    }
    m_document.create(path.toStdString());
    setBackground(true);
    decode(false);
    showDocument(true);
    m_document.markSaved();
}

// The commands on, the page for the table's records, the footers, and the stored layouts.
void TForm1::showDocument(bool withLayouts) {
    enable_button();
    tab_vis_en();
    recompute_footers();
    for (Page& p : m_pages) {
        p.layoutShown = true;
        if (withLayouts)
            load_layout(QString::fromLatin1(p.def.layoutValue), p.grid);
    }
    m_chartAction->setEnabled(true);
    updateExportMarked();
    if (m_chart && m_chart->isVisible())
        showChart();
}

// The window without a document: commands off, pages hidden, the plain title and background.
void TForm1::showNoDocument() {
    m_chartAction->setEnabled(false);
    m_exportMarkedAction->setEnabled(false);
    if (m_chart)
        m_chart->detach();
    disable_button();
    tab_vis_dis();
    setTitle(QString::fromUtf8(kTitle));
    setBackground(false);
}

// Runs the decoder on the last download; the grids hear of it once, at the end. When it stops
// with an error, the document stays open on what was written: the page is shown and the
// footers recomputed before the error is shown.
DecodeResult TForm1::decode(bool append) {
    try {
        const ObservationTable::UpdateBatch batch(m_table);
        return flash2ulen3(
            m_table, {m_results.flash_image.data(), m_results.image_size, m_results.dev_code, m_results.dev_serial},
            append, decimalSeparator());
    } catch (const std::exception&) {
        showDocument(false);
        throw;
    }
}

void TForm1::N3Click() {
    const QString path =
        m_dialogs.openFile(this, QStringLiteral("Базы данных|*.db"), QStringLiteral(".db"), m_document.folder());
    if (path.isEmpty())
        return;
    openChosen(path);
}

void TForm1::openChosen(const QString& path) {
    if (m_document.isOpen())
        Close_DB();
    m_document.setFolder(QFileInfo(path).absolutePath());
    Open_DB(QFileInfo(path).absoluteFilePath());
}

bool TForm1::Open_DB(const QString& path) {
    if (m_document.isOpen())
        Close_DB();
    try {
        m_document.open(path.toStdString());
    } catch (const std::exception& e) {
        // The reason the table gave (busy, no permission, not a table) is said below the
        // program's own text, so that a sound file held by another program is not thrown away.
        m_dialogs.error(this, QStringLiteral("Ошибка"), QStringLiteral("База данных повреждена !"),
                        QString::fromStdString(e.what()) + '.');
        return false;
    }
    m_table.First();
    setBackground(true);
    showDocument(true);
    setTitle(QFileInfo(path).completeBaseName() + " - " + QString::fromUtf8(kTitle));
    m_document.markSaved();
    return true;
}

void TForm1::N4Click() {
    if (!m_document.isOpen())
        return;
    // Only result 1 means a new memory image.
    if (m_download.exec() != 1)
        return;
    rememberAnswer();
    if (m_table.Active())
        for (const Page& p : m_pages)
            reset_sort(p.grid, p.def.sortTag);
    DecodeResult added;
    try {
        added = decode(true);
    } catch (const std::exception& e) {
        throw std::runtime_error(e.what() + keptImageNote());
    }
    // The records are in the file and on the page before the boxes say how many were added.
    Save_DB();
    tab_vis_en();
    recompute_footers();
    for (unsigned n : added.added)
        m_dialogs.information(this, QString::fromUtf8(kAppendCaption), QString::fromStdString(added_text(n)));
}

void TForm1::Save_DB() {
    if (!m_document.isOpen())
        return;
    if (m_table.Active()) {
        DBGridPro1->PostPendingEdit();
        DBGridPro2->PostPendingEdit();
    }
    // Close and open again; the filter and the sort carry over, the index file stays, and the
    // user's record stays current.
    try {
        keepingPlace([this] { m_document.reopen(); });
    } catch (const std::exception& e) {
        showError(std::runtime_error(std::string(e.what()) + kClosedNote));
        return;
    }
    m_document.markSaved();
}

void TForm1::refuseOutput(const QString& path, const char* what) const {
    const std::string refused =
        output_refusal(path.toStdString(), m_table.Active() ? m_table.Path() : std::string(), what);
    if (!refused.empty())
        throw std::runtime_error(refused);
}

void TForm1::keepingPlace(const std::function<void()>& work) {
    QTableView* view = activeGrid()->view();
    const uint32_t record = m_table.Active() ? m_table.RecordId() : 0;
    // Where the current row stands in the window: it stands there again, even where the
    // command changed the order (the export clears the sort).
    const int perRow = view->verticalScrollMode() == QAbstractItemView::ScrollPerPixel
                           ? view->verticalHeader()->defaultSectionSize()
                           : 1;
    const int offset = m_table.Active() ? m_table.ViewRow() * perRow - view->verticalScrollBar()->value() : 0;
    const int scrolled = view->verticalScrollBar()->value();
    const int across = view->horizontalScrollBar()->value();
    // The place comes back however the command ends: a failed export leaves the grid as it was.
    struct Restore {
        TForm1& f;
        QTableView* view;
        uint32_t record;
        int perRow, offset, scrolled, across;
        ~Restore() {
            int top = scrolled;
            if (record != 0 && f.m_table.Active() && f.m_table.GotoRecord(record))
                top = f.m_table.ViewRow() * perRow - offset;
            view->verticalScrollBar()->setValue(top);
            view->horizontalScrollBar()->setValue(across);
        }
    } restore{*this, view, record, perRow, offset, scrolled, across};
    work();
}

void TForm1::Close_DB() {
    if (m_document.isChanged() &&
        m_dialogs.question(this, QString::fromUtf8(kTitle), QStringLiteral("Сохранить изменения в таблицах ?")))
        Save_DB();
    for (const Page& p : m_pages)
        if (p.layoutShown)
            save_layout(QString::fromLatin1(p.def.layoutValue), p.grid);
    std::string failure;
    if (m_table.Active()) {
        // After "No" a cell edit still open is dropped; posted edits are in the file.
        DBGridPro1->CancelPendingEdit();
        DBGridPro2->CancelPendingEdit();
    }
    try {
        m_document.close();
    } catch (const std::exception& e) {
        // The table is closed all the same; the window must show that.
        failure = e.what();
    }
    if (!failure.empty())
        throw std::runtime_error(failure + kClosedNote);
}

void TForm1::N11Click() {
    // The application ends without the window-close steps, but not over an edit the user is
    // still typing: it reaches the file first, and an edit the table refuses (the box has said
    // why) keeps the program running.
    if (m_table.Active()) {
        const bool posted1 = DBGridPro1->PostPendingEdit();
        const bool posted2 = DBGridPro2->PostPendingEdit();
        if (!posted1 || !posted2)
            return;
    }
    m_exiting = true;
    if (QuitApplication)
        QuitApplication();
    else
        QCoreApplication::exit(0);
}

void TForm1::FormClose() {
    remember(QStringLiteral("Default_dir"), m_document.folder());
    remember(QStringLiteral("Window"), QString::fromLatin1(saveGeometry().toBase64()));
    Close_DB();
}

void TForm1::closeEvent(QCloseEvent* event) {
    if (!m_exiting)
        guarded([this] { FormClose(); });
    event->accept();
}

void TForm1::Excel1Click() {
    if (!m_document.isOpen() || !m_table.Active() || !pagesShown())
        return;
    const QString path = m_dialogs.saveFile(this, QStringLiteral("Книга Excel|*.xls"), QStringLiteral(".xls"),
                                            m_document.folder(), false);
    if (path.isEmpty())
        return;
    refuseOutput(path, "Книга не записана");
    // The records in the order of the file; the user's record stays current.
    keepingPlace([this, &path] {
        const ObservationTable::UpdateBatch batch(m_table);
        for (const Page& p : m_pages)
            reset_sort(p.grid, p.def.sortTag);
        exp2excel(m_table.Records(), path.toStdString());
    });
    m_dialogs.information(this, QStringLiteral("Экспорт в Excel"),
                          QString::fromStdString(export_success_text(path.toStdString())));
}

// The footers (PageFooters).
void TForm1::find_mma() { m_footers.recompute(); }

void TForm1::recompute_footers() {
    m_footers.recompute();
    if (pagesShown())
        m_footers.showPage(*visiblePage().grid);
}

void TForm1::afterPost(TDBGridPro* grid) {
    if (!m_table.Active())
        return;
    m_footers.recomputeInPlace();
    if (pagesShown() && grid == visiblePage().grid)
        m_footers.showMarked(*grid);
}

void TForm1::showChart() {
    if (!m_document.isOpen() || !m_table.Active())
        return;
    if (!m_chart)
        m_chart = new ChartWindow(m_dialogs, this);
    const Page& p = visiblePage();
    m_chart->showPage(p.grid, QString::fromUtf8(p.def.caption),
                      QFileInfo(QString::fromStdString(m_table.Path())).fileName(),
                      QChar::fromLatin1(decimalSeparator()));
    m_chart->show();
    m_chart->raise();
    m_chart->activateWindow();
}

void TForm1::showStatistics() {
    if (!m_document.isOpen() || !m_table.Active())
        return;
    const Page& p = visiblePage();
    show_statistics(p.grid, QString::fromUtf8(p.def.caption), QChar::fromLatin1(decimalSeparator()), this);
}

void TForm1::DBGridPro1SelectionChange(TDBGridPro* grid) { m_footers.showMarked(*grid); }
void TForm1::DBGridPro2SelectionChange(TDBGridPro* grid) { m_footers.showMarked(*grid); }

void TForm1::DBGridPro1AfterDelete(TDBGridPro* grid) {
    m_footers.recompute();
    m_footers.showPage(*grid);
}
void TForm1::DBGridPro2AfterDelete(TDBGridPro* grid) { DBGridPro1AfterDelete(grid); }

// The layouts and the other settings (ColumnLayouts).
Page& TForm1::pageOf(const TDBGridPro* grid) {
    return *std::find_if(m_pages.begin(), m_pages.end(), [grid](const Page& p) { return p.grid == grid; });
}

void TForm1::remember(const QString& name, const QString& value) { m_layouts.remember(name, value); }

void TForm1::load_layout(const QString& value, TDBGridPro* grid) {
    m_layouts.load(value, *grid, pageOf(grid).design, [this, grid] { fit_columns(grid); });
}

void TForm1::save_layout(const QString& value, TDBGridPro* grid) {
    m_layouts.save(value, *grid);
    pageOf(grid).layoutShown = false;
}

void TForm1::showAsStored() {
    const std::optional<QString> place = m_settings.read(QStringLiteral("Window"));
    if (place && restoreGeometry(QByteArray::fromBase64(place->toLatin1()))) {
        show();
        return;
    }
    showMaximized();
}

} // namespace ulen3
