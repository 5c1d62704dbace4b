#include "ui/grid/GridDelegate.h"

#include "table/FieldCodec.h"
#include "table/ObservationTable.h"
#include "ui/grid/GridColumns.h"

#include <QFocusEvent>
#include <QLineEdit>

namespace ulen3 {

namespace {

// The record an open editor began on.
const char* const kEditorRecord = "ulen3-record";

} // namespace

QWidget* GridDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                                    const QModelIndex& index) const {
    QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
    auto* line = qobject_cast<QLineEdit*>(editor);
    ObservationTable* t = m_cells.table();
    if (line && t && t->Active()) {
        const Field f = field_of(m_cells.columns().Items(index.column()).FieldName);
        if (!is_numeric(f))
            line->setMaxLength(t->TextLimit(f));
        line->setProperty(kEditorRecord, t->ViewRecordAt(index.row()));
    }
    return editor;
}

void GridDelegate::setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const {
    auto* line = qobject_cast<QLineEdit*>(editor);
    const QVariant record = editor->property(kEditorRecord);
    if (!line || !record.isValid()) {
        QStyledItemDelegate::setModelData(editor, model, index);
        return;
    }
    m_cells.writeCell(record.toUInt(), index.column(), line->text());
}

bool GridDelegate::eventFilter(QObject* object, QEvent* event) {
    if (event->type() == QEvent::FocusOut) {
        const Qt::FocusReason why = static_cast<QFocusEvent*>(event)->reason();
        if (why == Qt::ActiveWindowFocusReason || why == Qt::PopupFocusReason)
            return false;
    }
    return QStyledItemDelegate::eventFilter(object, event);
}

} // namespace ulen3
