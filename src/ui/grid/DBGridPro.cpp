#include "ui/grid/DBGridPro.h"

#include "table/Cp1251.h"
#include "table/FieldCodec.h"
#include "table/TableError.h"
#include "ui/grid/GridDelegate.h"
#include "ui/grid/GridFooter.h"
#include "ui/grid/GridModel.h"

#include <QApplication>
#include <QHeaderView>
#include <QLocale>
#include <QScrollBar>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace ulen3 {

namespace {

// A number as the user types it: the locale's form or the file's, with '.' or ','; no group
// separators are needed.
bool read_number(const QString& text, double& value) {
    bool ok = false;
    value = QLocale().toDouble(text, &ok);
    if (!ok)
        value = QLocale::c().toDouble(QString(text).replace(',', '.'), &ok);
    return ok && std::isfinite(value);
}

// The first character of the text that Windows-1251 cannot hold, or empty.
QString not_in_code_page(const QString& text) {
    for (int i = 0; i < text.size();) {
        const int n = text.at(i).isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        const std::string one = text.mid(i, n).toStdString();
        if (cp1251_to_utf8(utf8_to_cp1251(one)) != one)
            return text.mid(i, n);
        i += n;
    }
    return {};
}

// The view: editing starts only through the keys and clicks Qt offers, never through Tab, and
// its start is reported.
class GridView : public QTableView {
public:
    explicit GridView(TDBGridPro* grid) : QTableView(grid), m_grid(grid) {}
    bool editing() const { return state() == EditingState; }
    // The open cell editor is a child of the viewport: its text is written, or dropped.
    void finishOpenEditor(bool commit) {
        if (state() != EditingState)
            return;
        for (QWidget* editor : viewport()->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (editor->isHidden())
                continue;
            if (commit)
                commitData(editor);
            closeEditor(editor, commit ? QAbstractItemDelegate::NoHint : QAbstractItemDelegate::RevertModelCache);
        }
    }

protected:
    bool edit(const QModelIndex& index, EditTrigger trigger, QEvent* event) override {
        const bool started = QTableView::edit(index, trigger, event);
        if (started && m_grid->OnInitEdit)
            m_grid->OnInitEdit(m_grid);
        return started;
    }

private:
    TDBGridPro* m_grid;
};

} // namespace

TDBGridPro::TDBGridPro(QWidget* parent) : QWidget(parent) {
    m_model = new GridModel(*this, this);
    auto* view = new GridView(this);
    m_view = view;
    m_view->setModel(m_model);
    m_view->setItemDelegate(new GridDelegate(*this, this));
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_view->setSelectionMode(QAbstractItemView::SingleSelection);
    m_view->setTabKeyNavigation(false);
    m_view->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                            QAbstractItemView::AnyKeyPressed);
    m_view->setStyleSheet(QStringLiteral("QTableView { gridline-color: rgb(192, 192, 192); }"));
    m_view->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
    m_view->verticalHeader()->setFixedWidth(12);
    m_view->horizontalHeader()->setSectionsMovable(false);
    m_view->horizontalHeader()->setSectionsClickable(true);
    m_view->horizontalHeader()->setHighlightSections(false);
    m_headerViewport = m_view->horizontalHeader()->viewport();
    m_headerViewport->installEventFilter(this);
    m_view->setWordWrap(false);
    m_viewport = m_view->viewport();
    m_viewport->installEventFilter(this);
    m_footer = new GridFooter(m_columns, m_view, this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_view);
    layout->addWidget(m_footer);
    SetTitleLines(2);

    connect(m_view->horizontalHeader(), &QHeaderView::sectionClicked, this,
            [this](int section) { TitleClick(section, QApplication::keyboardModifiers() & Qt::ControlModifier); });
    connect(m_view->horizontalHeader(), &QHeaderView::sectionResized, this, [this] {
        m_footer->update();
        if (!m_settingWidths)
            userResizedColumn();
    });
    connect(m_view->horizontalScrollBar(), &QScrollBar::valueChanged, m_footer, [this] { m_footer->update(); });
    connect(m_view->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] { selectionChanged(); });
    connect(m_view->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) { currentRowChanged(current.row()); });
}

TDBGridPro::~TDBGridPro() {
    if (m_table)
        m_table->RemoveListener(this);
    // The view and the footer read the columns while they go: they go first, unwatched.
    m_viewport->removeEventFilter(this);
    m_headerViewport->removeEventFilter(this);
    m_viewport = m_headerViewport = nullptr;
    delete m_footer;
    delete m_view;
}

QTableView* TDBGridPro::view() const { return m_view; }

void TDBGridPro::SetDataSource(ObservationTable* table) {
    if (m_table)
        m_table->RemoveListener(this);
    m_table = table;
    if (m_table)
        m_table->AddListener(this);
    viewReset(true);
}

void TDBGridPro::SetColumns(std::vector<TgpColumn> columns) {
    m_columns.list() = std::move(columns);
    ColumnsChanged();
}

void TDBGridPro::ColumnsChanged() {
    // The fields are resolved once here, not for every painted cell; an unknown name is an
    // error of the caller, reported now rather than while painting.
    m_fields.clear();
    for (int i = 0; i < m_columns.Count(); ++i)
        m_fields.push_back(field_of(m_columns.Items(i).FieldName));
    const std::vector<SelectedRow> kept = m_selection;
    m_following = true;
    m_model->reset(m_table && m_table->Active() ? m_table->VisibleCount() : 0);
    m_following = false;
    std::vector<uint32_t> records;
    for (const SelectedRow& r : kept)
        records.push_back(r.record);
    selectRecords(records);
    applyColumns();
}

void TDBGridPro::setSectionWidth(int column, int width) {
    m_settingWidths = true;
    m_view->setColumnWidth(column, width);
    m_settingWidths = false;
}

void TDBGridPro::applyColumns() {
    QHeaderView* header = m_view->horizontalHeader();
    int marked = -1;
    for (int i = 0; i < m_columns.Count(); ++i) {
        setSectionWidth(i, m_columns.Items(i).Width);
        if (m_columns.Items(i).TitleState != tsSortedNone)
            marked = i;
    }
    header->setSortIndicatorShown(marked >= 0);
    if (marked >= 0)
        header->setSortIndicator(marked, m_columns.Items(marked).TitleState == tsSortedUp ? Qt::AscendingOrder
                                                                                          : Qt::DescendingOrder);
    if (m_autoFit)
        fitColumns();
    m_footer->update();
}

// A border dragged by the user: every column keeps the width it now has, so that the next fit
// keeps the user's proportions. The fit waits until the mouse is let go.
void TDBGridPro::userResizedColumn() {
    for (int i = 0; i < m_columns.Count(); ++i)
        m_columns.Items(i).Width = std::max(1, m_view->columnWidth(i));
    m_userResized = true;
    if (!(QApplication::mouseButtons() & Qt::LeftButton)) {
        m_userResized = false;
        if (m_autoFit)
            fitColumns();
    }
}

void TDBGridPro::SetBookmarkFields(const QString& fields) {
    m_bookmarks.clear();
    for (const QString& name : fields.split(';', Qt::SkipEmptyParts))
        m_bookmarks.push_back(field_of(name.trimmed()));
    readSelectionValues();
}

void TDBGridPro::SetMultiSelect(bool on) {
    m_multiSelect = on;
    m_view->setSelectionMode(on ? QAbstractItemView::ExtendedSelection : QAbstractItemView::SingleSelection);
}

void TDBGridPro::SetAutoColumnFit(bool on) {
    m_autoFit = on;
    m_view->setHorizontalScrollBarPolicy(on ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAsNeeded);
    if (on)
        fitColumns();
}

void TDBGridPro::SetTitleLines(int lines) {
    m_titleLines = lines;
    m_view->horizontalHeader()->setFixedHeight(lines * fontMetrics().height() + 8);
}

void TDBGridPro::SetShowFooters(bool on) { m_footer->setVisible(on); }

// The columns keep their proportions and together fill the grid's width.
void TDBGridPro::fitColumns() {
    const int available = m_view->viewport()->width();
    int total = 0;
    for (int i = 0; i < m_columns.Count(); ++i)
        total += std::max(1, m_columns.Items(i).Width);
    if (available <= 0 || total <= 0)
        return;
    int used = 0;
    for (int i = 0; i < m_columns.Count(); ++i) {
        const int w =
            i + 1 == m_columns.Count()
                ? available - used
                : static_cast<int>(std::lround(double(std::max(1, m_columns.Items(i).Width)) * available / total));
        setSectionWidth(i, std::max(8, w));
        used += w;
    }
}

void TDBGridPro::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (m_autoFit)
        fitColumns();
}

// The columns fill the width the rows really have, known only once the view has laid out; a
// border the user dragged is fitted once the mouse is let go.
bool TDBGridPro::eventFilter(QObject* watched, QEvent* event) {
    // The watched widgets are known by their addresses: while they go, the view is no longer
    // one to ask.
    if (watched == m_viewport && event->type() == QEvent::Resize && m_autoFit)
        fitColumns();
    if (watched == m_headerViewport && event->type() == QEvent::MouseButtonRelease && m_userResized) {
        m_userResized = false;
        if (m_autoFit)
            QMetaObject::invokeMethod(
                this, [this] { fitColumns(); }, Qt::QueuedConnection);
    }
    return QWidget::eventFilter(watched, event);
}

int TDBGridPro::FocusedColumn() const {
    const int c = m_view->currentIndex().column();
    return c >= 0 ? c : 0;
}

void TDBGridPro::SetTitleState(int column, TTitleState state) {
    if (column < 0 || column >= m_columns.Count())
        return;
    m_columns.Items(column).TitleState = state;
    applyColumns();
}

void TDBGridPro::SetFooterText(int column, const QString& text) {
    if (column < 0 || column >= m_columns.Count())
        return;
    m_columns.Items(column).FooterText = text;
    m_footer->update();
}

void TDBGridPro::SetColumnColor(int column, ColourValue color) {
    if (column < 0 || column >= m_columns.Count())
        return;
    m_columns.Items(column).Color = color;
    m_view->viewport()->update();
}

void TDBGridPro::SetColumnWidth(int column, int width) {
    if (column < 0 || column >= m_columns.Count())
        return;
    m_columns.Items(column).Width = width;
    setSectionWidth(column, width);
}

// The title-click cycle: none → up → down → up; with Ctrl any mark goes, and a column
// without a mark stays as it is.
void TDBGridPro::TitleClick(int column, bool ctrl) {
    if (column < 0 || column >= m_columns.Count())
        return;
    const TTitleState before = m_columns.Items(column).TitleState;
    TTitleState after;
    if (ctrl) {
        if (before == tsSortedNone)
            return;
        after = tsSortedNone;
    } else {
        after = before == tsSortedUp ? tsSortedDown : tsSortedUp;
    }
    for (int i = 0; i < m_columns.Count(); ++i) {
        m_columns.Items(i).TitleState = tsSortedNone;
        m_columns.Items(i).SortOrder = -1;
    }
    m_columns.Items(column).TitleState = after;
    m_columns.Items(column).SortOrder = after == tsSortedNone ? -1 : 0;
    applyColumns();
    if (OnTitleStateChange)
        OnTitleStateChange(this, column);
}

// The record and the field of a cell; false for a cell that holds no value.
bool TDBGridPro::cellField(int row, int column, uint32_t& id, Field& field) const {
    if (!m_table || !m_table->Active() || column < 0 || column >= m_columns.Count())
        return false;
    id = m_table->ViewRecordAt(row);
    field = m_fields[static_cast<std::size_t>(column)];
    return id != 0 && !m_table->IsNullAt(id, field);
}

QString TDBGridPro::CellText(int row, int column) const {
    uint32_t id;
    Field f;
    if (!cellField(row, column, id, f))
        return {};
    if (!is_numeric(f))
        return QString::fromStdString(m_table->TextAt(id, f));
    const TgpColumn& c = m_columns.Items(column);
    const double v = m_table->NumberAt(id, f);
    // The patterns "0.0" and "0.00" and the general form print no group separators.
    QLocale locale;
    locale.setNumberOptions(locale.numberOptions() | QLocale::OmitGroupSeparator);
    QString text;
    if (c.DisplayFormat == QLatin1String("0.0"))
        text = locale.toString(v, 'f', 1);
    else if (c.DisplayFormat == QLatin1String("0.00"))
        text = locale.toString(v, 'f', 2);
    else
        return locale.toString(v, 'g', 15);
    // A small negative value rounds to zero, and zero has no sign: "0,0", not "-0,0".
    if (v < 0 && locale.toDouble(text) == 0.0)
        text.remove(0, 1);
    return text;
}

// The stored value as it is: a number with every decimal the file holds (trailing zeros
// dropped) and the locale's separator, a text as stored.
QString TDBGridPro::EditText(int row, int column) const {
    return m_table ? recordEditText(m_table->ViewRecordAt(row), column) : QString();
}

QString TDBGridPro::recordEditText(uint32_t id, int column) const {
    if (!m_table || !m_table->Active() || id == 0 || column < 0 || column >= m_columns.Count())
        return {};
    const Field f = m_fields[static_cast<std::size_t>(column)];
    if (m_table->IsNullAt(id, f))
        return {};
    if (!is_numeric(f))
        return QString::fromStdString(m_table->TextAt(id, f));
    return QString::fromStdString(plain_number(m_table->TextAt(id, f)))
        .replace(QLatin1Char('.'), QLocale().decimalPoint());
}

// An edit ended by the user: edit, set, post. Text that is still what the editor started with
// writes nothing; text the field cannot take is refused with a message and writes nothing.
bool TDBGridPro::writeCell(uint32_t record, int column, const QString& typed) {
    ObservationTable* t = m_table;
    if (!t || !t->Active() || record == 0 || column < 0 || column >= m_columns.Count())
        return false;
    if (typed == recordEditText(record, column))
        return true;
    const auto refuse = [this](const QString& message) {
        m_writeRefused = true;
        if (OnError)
            OnError(message);
        return false;
    };
    const Field f = m_fields[static_cast<std::size_t>(column)];
    const QString text = typed.trimmed();
    double number = 0;
    if (!text.isEmpty() && is_numeric(f) && !read_number(text, number))
        return refuse(QStringLiteral("«%1» не является числом; запись не изменена").arg(text));
    // A character the table's code page cannot hold would be written as '?'.
    const QString lost = is_numeric(f) ? QString() : not_in_code_page(text);
    if (!lost.isEmpty())
        return refuse(QStringLiteral("Знак «%1» нельзя записать в таблицу (кодировка Windows-1251); "
                                     "запись не изменена")
                          .arg(lost));
    if (!t->GotoRecord(record))
        return refuse(QStringLiteral("Запись, которую изменяли, больше не показана; изменение не записано"));
    try {
        t->Edit();
        if (text.isEmpty())
            t->SetNull(f);
        else if (is_numeric(f))
            t->SetNumber(f, number);
        else
            t->SetText(f, text.toStdString());
        t->Post();
    } catch (const std::exception& e) {
        t->Cancel();
        return refuse(QString::fromStdString(e.what()));
    }
    if (AfterPost)
        AfterPost(this);
    return true;
}

// The user changed the marks: the grid keeps them as records.
void TDBGridPro::selectionChanged() {
    if (m_following)
        return;
    m_selection.clear();
    if (m_table && m_table->Active()) {
        QModelIndexList rows = m_view->selectionModel()->selectedRows();
        std::sort(rows.begin(), rows.end(),
                  [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
        for (const QModelIndex& r : rows)
            m_selection.push_back({m_table->ViewRecordAt(r.row()), {}});
    }
    readSelectionValues();
    raiseSelectionChange();
}

void TDBGridPro::readSelectionValues() {
    for (SelectedRow& item : m_selection) {
        item.values.clear();
        for (Field f : m_bookmarks)
            item.values.push_back(m_table ? m_table->NumberAt(item.record, f) : 0.0);
    }
}

// Marks the rows that show these records, in view order; records not in the view drop out.
void TDBGridPro::selectRecords(const std::vector<uint32_t>& records) {
    m_selection.clear();
    QItemSelection selection;
    if (!records.empty() && m_table && m_table->Active()) {
        std::vector<uint32_t> wanted = records;
        std::sort(wanted.begin(), wanted.end());
        const int last = std::max(0, m_columns.Count() - 1);
        int runStart = -1;
        const int rows = m_model->rowCount();
        for (int row = 0; row <= rows; ++row) {
            const uint32_t id = row < rows ? m_table->ViewRecordAt(row) : 0;
            const bool marked = id != 0 && std::binary_search(wanted.begin(), wanted.end(), id);
            if (marked) {
                m_selection.push_back({id, {}});
                if (runStart < 0)
                    runStart = row;
            } else if (runStart >= 0) {
                selection.select(m_model->index(runStart, 0), m_model->index(row - 1, last));
                runStart = -1;
            }
        }
    }
    m_following = true;
    m_view->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    m_following = false;
    readSelectionValues();
}

void TDBGridPro::raiseSelectionChange() {
    if (OnSelectionChange)
        OnSelectionChange(this);
}

void TDBGridPro::currentRowChanged(int row) {
    if (m_following || !m_table || !m_table->Active() || row < 0)
        return;
    // The user moved the current row: the table's cursor follows.
    m_following = true;
    m_table->GotoRow(row);
    m_following = false;
    raiseSelectionChange();
}

int TDBGridPro::SelectionCount() const { return static_cast<int>(m_selection.size()); }

double TDBGridPro::SelectionValue(int item, int field) const {
    if (item < 0 || item >= SelectionCount() || field < 0 ||
        field >= static_cast<int>(m_selection[static_cast<std::size_t>(item)].values.size()))
        return 0;
    return m_selection[static_cast<std::size_t>(item)].values[static_cast<std::size_t>(field)];
}

uint32_t TDBGridPro::SelectionRecord(int item) const {
    return item >= 0 && item < SelectionCount() ? m_selection[static_cast<std::size_t>(item)].record : 0;
}

std::vector<uint32_t> TDBGridPro::SelectionRecords() const {
    std::vector<uint32_t> records;
    records.reserve(m_selection.size());
    for (const SelectedRow& item : m_selection)
        records.push_back(item.record);
    return records;
}

void TDBGridPro::SelectRows(const std::vector<int>& rows) {
    // Rows that follow one another make one range, as a Shift-click does.
    std::vector<int> sorted = rows;
    std::sort(sorted.begin(), sorted.end());
    sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
    QItemSelection selection;
    const int last = std::max(0, m_columns.Count() - 1);
    for (size_t i = 0; i < sorted.size();) {
        size_t j = i;
        while (j + 1 < sorted.size() && sorted[j + 1] == sorted[j] + 1)
            ++j;
        selection.select(m_model->index(sorted[i], 0), m_model->index(sorted[j], last));
        i = j + 1;
    }
    m_view->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void TDBGridPro::DeleteSelectedRows() {
    if (!m_table || !m_table->Active() || m_selection.empty())
        return;
    const std::vector<SelectedRow> doomed = m_selection;
    m_view->setUpdatesEnabled(false);
    {
        // One view reset for the whole delete, once the selection is gone.
        const ObservationTable::UpdateBatch batch(*m_table);
        for (auto it = doomed.rbegin(); it != doomed.rend(); ++it) {
            if (m_table->GotoRecord(it->record))
                m_table->Delete();
        }
        m_selection.clear();
    }
    m_view->setUpdatesEnabled(true);
}

bool TDBGridPro::PostPendingEdit() {
    m_writeRefused = false;
    static_cast<GridView*>(m_view)->finishOpenEditor(true);
    return !m_writeRefused;
}

void TDBGridPro::CancelPendingEdit() { static_cast<GridView*>(m_view)->finishOpenEditor(false); }

bool TDBGridPro::Editing() const { return static_cast<GridView*>(m_view)->editing(); }

// The table's cursor moved: the current row follows it.
void TDBGridPro::followCursor() {
    if (m_following)
        return;
    const int row = m_table && m_table->Active() ? m_table->ViewRow() : -1;
    if (row >= 0 && row < m_model->rowCount() && row != m_view->currentIndex().row()) {
        m_following = true;
        m_view->selectionModel()->setCurrentIndex(m_model->index(row, std::max(0, m_view->currentIndex().column())),
                                                  m_multiSelect ? QItemSelectionModel::NoUpdate
                                                                : QItemSelectionModel::ClearAndSelect |
                                                                      QItemSelectionModel::Rows);
        m_following = false;
        if (!m_multiSelect)
            markCurrentRow(row, false); // the move above has marked it in the view
    }
    raiseSelectionChange();
}

// The single-selection grid marks its current row, whose place is known: no walk of the view.
void TDBGridPro::markCurrentRow(int row, bool inView) {
    m_selection = {{m_table->ViewRecordAt(row), {}}};
    if (inView) {
        m_following = true;
        m_view->selectionModel()->select(m_model->index(row, 0),
                                         QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        m_following = false;
    }
    readSelectionValues();
}

// The view was built anew: the rows are read again, the marked records stay marked wherever
// they now are, and the current record stays current.
void TDBGridPro::viewReset(bool renumbered) {
    if (Editing()) {
        // An open editor belongs to a row that may now show another record: the reset waits
        // until the editor has closed.
        if (!m_resetPending) {
            m_resetPending = true;
            QMetaObject::invokeMethod(
                this,
                [this, renumbered] {
                    m_resetPending = false;
                    viewReset(renumbered);
                },
                Qt::QueuedConnection);
        }
        return;
    }
    std::vector<uint32_t> marked;
    if (!renumbered)
        for (const SelectedRow& r : m_selection)
            marked.push_back(r.record);
    const int column = std::max(0, m_view->currentIndex().column());
    m_following = true;
    m_model->reset(m_table && m_table->Active() ? m_table->VisibleCount() : 0);
    const int row = m_table && m_table->Active() ? m_table->ViewRow() : -1;
    if (row >= 0)
        m_view->selectionModel()->setCurrentIndex(m_model->index(row, column), QItemSelectionModel::NoUpdate);
    m_following = false;
    if (!m_multiSelect && row >= 0)
        markCurrentRow(row, true);
    else
        selectRecords(marked);
    m_view->viewport()->update();
    raiseSelectionChange();
}

void TDBGridPro::recordChanged(uint32_t recordId) {
    for (SelectedRow& item : m_selection)
        if (item.record == recordId)
            readSelectionValues();
    const int row = m_table ? m_table->ViewRow() : -1;
    if (row >= 0 && m_table->ViewRecordAt(row) == recordId)
        m_model->rowChanged(row);
    else
        m_view->viewport()->update();
}

} // namespace ulen3
