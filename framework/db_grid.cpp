#include "framework/db_grid.h"

#include <QAbstractTableModel>
#include <QFocusEvent>
#include <QHeaderView>
#include <QPainter>
#include <QStyledItemDelegate>
#include <algorithm>

namespace fw {

namespace {

QString ToQString(const std::string& text) {
    return QString::fromUtf8(text.data(), text.size());
}

QString ColorName(const QColor& c) {
    return c.name(QColor::HexRgb);
}

// The column and row lines.
const QColor kLineColor(0xA0, 0xA0, 0xA0);

}  // namespace

// Tells the grid of every event of its table.
class TDBGridView::Link : public TDataLink {
public:
    explicit Link(TDBGridView& grid) : Grid(grid) {}

protected:
    void DataEvent(TDataEvent event) override {
        switch (event) {
            case TDataEvent::deDataSetChange:
                Grid.Refresh();
                break;
            case TDataEvent::deDataSetScroll:
                Grid.FollowCursor();
                break;
            case TDataEvent::deUpdateState:
            case TDataEvent::deFieldChange:
                // Changes show when they are posted.
                break;
        }
    }
    void ActiveChanged() override { Grid.Refresh(); }

private:
    TDBGridView& Grid;
};

// The grid's copy of the texts it shows.
class TDBGridView::Model : public QAbstractTableModel {
public:
    explicit Model(TDBGridView& grid) : Grid(grid) {}

    int rowCount(const QModelIndex& parent) const override {
        return parent.isValid() ? 0 : static_cast<int>(Texts.size());
    }
    int columnCount(const QModelIndex& parent) const override {
        return parent.isValid() ? 0 : static_cast<int>(Grid.ColumnList.size());
    }
    QVariant data(const QModelIndex& index, int role) const override {
        if (!index.isValid())
            return {};
        if (role == Qt::DisplayRole)
            return Texts[index.row()][index.column()];
        if (role == Qt::TextAlignmentRole) {
            return QVariant::fromValue(RightAligned[index.column()]
                                           ? Qt::AlignRight | Qt::AlignVCenter
                                           : Qt::AlignLeft | Qt::AlignVCenter);
        }
        return {};
    }
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
        if (orientation != Qt::Horizontal || section < 0 ||
            section >= static_cast<int>(Grid.ColumnList.size())) {
            return {};
        }
        const TColumn& column = Grid.ColumnList[section];
        if (role == Qt::DisplayRole)
            return ToQString(column.Title);
        if (role == Qt::TextAlignmentRole) {
            return QVariant::fromValue(column.TitleAlignment | Qt::AlignVCenter);
        }
        return {};
    }
    Qt::ItemFlags flags(const QModelIndex& index) const override {
        return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
    }

    // Reads every record again; tells the view what changed.
    void Reload() {
        const TRxMemoryData* table = Grid.DataLink->DataSet();
        std::vector<std::vector<QString>> texts;
        std::vector<int> fieldIndexes;
        RightAligned.clear();
        for (const TColumn& column : Grid.ColumnList) {
            const TField* field = table ? table->FindField(column.FieldName) : nullptr;
            fieldIndexes.push_back(field ? field->Index() : -1);
            RightAligned.push_back(field && (field->DataType() == TFieldType::ftInteger ||
                                             field->DataType() == TFieldType::ftAutoInc));
        }
        const int records = table ? table->RecordCount() : 0;
        texts.reserve(records);
        for (int recNo = 1; recNo <= records; ++recNo) {
            std::vector<QString> row;
            for (int fieldIndex : fieldIndexes) {
                row.push_back(fieldIndex < 0 ? QString()
                                             : ToQString(TField::DisplayTextOf(
                                                   table->ValueAt(recNo, fieldIndex))));
            }
            texts.push_back(std::move(row));
        }
        if (texts.size() == Texts.size() && !Texts.empty()) {
            Texts = std::move(texts);
            emit dataChanged(index(0, 0), index(rowCount({}) - 1, columnCount({}) - 1));
        } else {
            beginResetModel();
            Texts = std::move(texts);
            endResetModel();
        }
    }

    void ColumnsChanged() {
        beginResetModel();
        Texts.clear();
        endResetModel();
        Reload();
    }

    std::vector<std::vector<QString>> Texts;
    std::vector<bool> RightAligned;

private:
    TDBGridView& Grid;
};

// Paints cells flat in the grid's colours: the focused cell, the current
// record's other cells, and the rest.
class TDBGridView::Delegate : public QStyledItemDelegate {
public:
    explicit Delegate(TDBGridView& grid) : QStyledItemDelegate(&grid), Grid(grid) {}

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const bool currentRow = index.row() == Grid.CurrentRow();
        const bool focused =
            currentRow && index.column() == Grid.currentIndex().column() && Grid.hasFocus();
        QColor background = Grid.CellColor;
        QColor text = Qt::black;
        if (focused) {
            background = Grid.FocusColor;
            text = Qt::white;
        } else if (currentRow) {
            background = Grid.SelectColor;
        }
        painter->save();
        painter->fillRect(option.rect, background);
        painter->setPen(text);
        painter->setFont(option.font);
        const QRect textRect = option.rect.adjusted(2, 0, -2, 0);
        const auto alignment = index.data(Qt::TextAlignmentRole).value<Qt::Alignment>();
        painter->setClipRect(option.rect);
        painter->drawText(textRect, static_cast<int>(alignment), index.data().toString());
        painter->restore();
    }

private:
    TDBGridView& Grid;
};

TDBGridView::TDBGridView(QWidget* parent)
    : QTableView(parent), DataLink(std::make_unique<Link>(*this)) {
    GridModel = new Model(*this);
    GridModel->setParent(this);
    setModel(GridModel);
    setItemDelegate(new Delegate(*this));
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::NoSelection);
    setTabKeyNavigation(false);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    setShowGrid(true);
    setGridStyle(Qt::SolidLine);
    verticalHeader()->hide();
    verticalHeader()->setMinimumSectionSize(1);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setSectionsClickable(false);
    horizontalHeader()->setMinimumSectionSize(1);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    ApplyColors();
}

TDBGridView::~TDBGridView() {
    // The link must not call back into a half-destroyed view.
    DataLink->SetDataSource(nullptr);
}

TDataSource* TDBGridView::DataSource() const {
    return DataLink->DataSource();
}

void TDBGridView::SetDataSource(TDataSource* source) {
    DataLink->SetDataSource(source);
}

void TDBGridView::SetColumns(std::vector<TColumn> columns) {
    ColumnList = std::move(columns);
    GridModel->ColumnsChanged();
    ApplyColumns();
    FollowCursor();
}

int TDBGridView::DefaultWidth(const TColumn& column) const {
    const QFontMetrics metrics(font());
    const int average = metrics.averageCharWidth();
    int width = metrics.horizontalAdvance(ToQString(column.Title)) + 4;
    const TRxMemoryData* table = DataLink->DataSet();
    if (const TField* field = table ? table->FindField(column.FieldName) : nullptr) {
        width = std::max(width, field->DisplayWidth() * average - average / 2 + 3);
    }
    return width;
}

int TDBGridView::ColumnWidth(int column) const {
    // Each section holds the column's cells and, at its right edge, its line.
    return horizontalHeader()->sectionSize(column) - 1;
}

void TDBGridView::ApplyColumns() {
    const QFontMetrics metrics(font());
    const int rowHeight = metrics.height() + 4;
    verticalHeader()->setDefaultSectionSize(rowHeight);
    horizontalHeader()->setFixedHeight(rowHeight);
    for (int i = 0; i < static_cast<int>(ColumnList.size()); ++i) {
        const TColumn& column = ColumnList[i];
        const int width = column.Width >= 0 ? column.Width : DefaultWidth(column);
        horizontalHeader()->resizeSection(i, width + 1);
    }
}

void TDBGridView::ApplyColors() {
    // The title row right of the last column shows the cell colour, like the
    // empty area below the last row.
    setStyleSheet(QStringLiteral("QTableView { background-color: %1; gridline-color: %2; }"
                                 "QHeaderView { background-color: %1; }"
                                 "QHeaderView::section { background-color: %3; color: %4;"
                                 " border: none; border-right: 1px solid %2;"
                                 " border-bottom: 1px solid %2; padding: 0px 2px; }")
                      .arg(ColorName(CellColor), ColorName(kLineColor), ColorName(TitleBackground),
                           ColorName(TitleText)));
    viewport()->update();
}

void TDBGridView::SetColor(QColor color) {
    CellColor = color;
    ApplyColors();
}

void TDBGridView::SetTitleColors(QColor background, QColor text) {
    TitleBackground = background;
    TitleText = text;
    ApplyColors();
}

void TDBGridView::SetFocusedColor(QColor color) {
    FocusColor = color;
    viewport()->update();
}

void TDBGridView::SetSelectedColor(QColor color) {
    SelectColor = color;
    viewport()->update();
}

int TDBGridView::RowCount() const {
    return static_cast<int>(GridModel->Texts.size());
}

std::string TDBGridView::CellText(int row, int column) const {
    if (row < 0 || row >= RowCount() || column < 0 ||
        column >= static_cast<int>(ColumnList.size())) {
        return {};
    }
    return GridModel->Texts[row][column].toStdString();
}

int TDBGridView::CurrentRow() const {
    const TRxMemoryData* table = DataLink->DataSet();
    if (!table || table->IsEmpty() || RowCount() == 0)
        return -1;
    return table->RecNo() - 1;
}

void TDBGridView::Refresh() {
    GridModel->Reload();
    ApplyColumns();
    FollowCursor();
}

void TDBGridView::FollowCursor() {
    const int row = CurrentRow();
    Following = true;
    if (row >= 0) {
        const int column = std::max(0, currentIndex().column());
        const QModelIndex target = GridModel->index(row, column);
        setCurrentIndex(target);
        scrollTo(target);
    } else {
        setCurrentIndex({});
    }
    Following = false;
    viewport()->update();
}

void TDBGridView::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
    QTableView::currentChanged(current, previous);
    if (!Following && current.isValid()) {
        if (TRxMemoryData* table = DataLink->DataSet())
            table->SetRecNo(current.row() + 1);
    }
    viewport()->update();
}

void TDBGridView::changeEvent(QEvent* event) {
    QTableView::changeEvent(event);
    // Row heights and default widths depend on the font the form gives us.
    if (event->type() == QEvent::FontChange)
        ApplyColumns();
}

void TDBGridView::focusInEvent(QFocusEvent* event) {
    QTableView::focusInEvent(event);
    viewport()->update();
}

void TDBGridView::focusOutEvent(QFocusEvent* event) {
    QTableView::focusOutEvent(event);
    viewport()->update();
}

TDBGrid::TDBGrid(TComponent* AOwner) : TControl(AOwner, new TDBGridView) {}

TDBGridView* TDBGrid::View() const {
    return static_cast<TDBGridView*>(Widget());
}

}  // namespace fw
