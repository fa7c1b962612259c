#pragma once
// TDBGridView: a read-only grid that shows every record of a table through a
// TDataSource, one row a record, with the columns its owner declares. The row
// of the table's current record is highlighted; a click (or a key move) on a
// row makes that record current. The grid keeps its own copy of the texts it
// shows and refreshes it on each post, delete and cursor move the source
// announces, so what it shows follows the table at once, without polling.
//
// Threads: the GUI thread only.

#include <QColor>
#include <QTableView>
#include <memory>
#include <string>
#include <vector>

#include "framework/controls.h"
#include "framework/data_source.h"

namespace fw {

struct TColumn {
    std::string FieldName;
    std::string Title;
    Qt::Alignment TitleAlignment = Qt::AlignHCenter;
    // Width in pixels without the column line; -1 takes the default, which fits
    // the field's display width and the title.
    int Width = -1;
};

class TDBGridView : public QTableView {
public:
    explicit TDBGridView(QWidget* parent = nullptr);
    ~TDBGridView() override;

    TDataSource* DataSource() const;
    void SetDataSource(TDataSource* source);

    void SetColumns(std::vector<TColumn> columns);
    const std::vector<TColumn>& Columns() const { return ColumnList; }
    // The width a column has on screen, without its column line.
    int ColumnWidth(int column) const;

    // Cell background of ordinary cells, of the title row (with its text
    // colour), of the focused cell and of the current record's other cells.
    void SetColor(QColor color);
    void SetTitleColors(QColor background, QColor text);
    void SetFocusedColor(QColor color);
    void SetSelectedColor(QColor color);
    QColor Color() const { return CellColor; }
    QColor TitleColor() const { return TitleBackground; }
    QColor TitleFontColor() const { return TitleText; }
    QColor FocusedColor() const { return FocusColor; }
    QColor SelectedColor() const { return SelectColor; }

    // What the grid shows now: rows are 0-based, one per record; -1 when the
    // table is empty.
    int RowCount() const;
    std::string CellText(int row, int column) const;
    int CurrentRow() const;

protected:
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    void changeEvent(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    class Link;
    class Model;
    class Delegate;
    friend class Link;
    friend class Model;
    friend class Delegate;

    void Refresh();
    void FollowCursor();
    void ApplyColumns();
    void ApplyColors();
    int DefaultWidth(const TColumn& column) const;

    std::unique_ptr<Link> DataLink;
    Model* GridModel = nullptr;
    std::vector<TColumn> ColumnList;
    QColor CellColor{Qt::white};
    QColor TitleBackground{Qt::lightGray};
    QColor TitleText{Qt::black};
    QColor FocusColor{Qt::darkBlue};
    QColor SelectColor{Qt::blue};
    bool Following = false;  // true while the grid moves its own current cell
};

// The grid as a control placed on a form: `suiDBGrid1 = new TDBGrid(form)`.
class TDBGrid : public TControl {
public:
    explicit TDBGrid(TComponent* AOwner);
    TDBGridView* View() const;

    TDataSource* DataSource() const { return View()->DataSource(); }
    void SetDataSource(TDataSource* source) { View()->SetDataSource(source); }
    void SetColumns(std::vector<TColumn> columns) { View()->SetColumns(std::move(columns)); }
};

}  // namespace fw
