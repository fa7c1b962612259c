// The read-only grid on the offscreen platform: it shows what the table holds
// the moment a record is posted or deleted, highlights the current record in
// its colours, and a click on a row moves the table's cursor.
#include "framework/db_grid.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QHeaderView>
#include <QImage>
#include <QMouseEvent>

namespace {

using namespace fw;

const QColor kCells(0xE8, 0xE8, 0xE8);
const QColor kTitles(0x44, 0x4A, 0xA0);
const QColor kFocused(0x00, 0x80, 0x00);
const QColor kSelected(0xFF, 0xFF, 0x00);

class GridFixture : public ::testing::Test {
protected:
    TRxMemoryData Table{nullptr,
                        {{"ID", TFieldType::ftAutoInc, 0},
                         {"HostName", TFieldType::ftString, 16},
                         {"Connected", TFieldType::ftBoolean, 0},
                         {"FalseCount", TFieldType::ftInteger, 0},
                         {"UNC", TFieldType::ftString, 50}}};
    TDataSource Source{nullptr};
    TDBGridView Grid;

    GridFixture() {
        Source.SetDataSet(&Table);
        Grid.SetDataSource(&Source);
        Grid.SetColumns({{"HostName", "Host Name", Qt::AlignHCenter, 86},
                         {"Connected", "On", Qt::AlignHCenter, -1},
                         {"FalseCount", ".", Qt::AlignLeft, 16},
                         {"UNC", "Universal Name Connection", Qt::AlignHCenter, 213}});
        Grid.SetColor(kCells);
        Grid.SetTitleColors(kTitles, Qt::white);
        Grid.SetFocusedColor(kFocused);
        Grid.SetSelectedColor(kSelected);
        Grid.setGeometry(0, 0, 445, 189);
        Grid.show();
    }

    void Add(const std::string& host, bool setConnected) {
        Table.Append();
        Table.FieldByName("HostName").SetAsString(host);
        if (setConnected)
            Table.FieldByName("Connected").SetAsBoolean(true);
        Table.Post();
    }

    // The colour in the middle of a cell as the grid paints it now.
    QColor CellColor(const QImage& image, int row, int column) {
        const QRect cell = Grid.visualRect(Grid.model()->index(row, column));
        const QPoint centre = Grid.viewport()->mapTo(&Grid, cell.topLeft() + QPoint(3, 3));
        return image.pixelColor(centre);
    }
};

TEST_F(GridFixture, ShowsPostsAndDeletesAtOnce) {
    EXPECT_EQ(Grid.RowCount(), 0);  // title row only
    Add("alpha", false);
    // No event processing in between: the grid's state is already up to date.
    ASSERT_EQ(Grid.RowCount(), 1);
    EXPECT_EQ(Grid.CellText(0, 0), "alpha");
    EXPECT_EQ(Grid.CellText(0, 1), "");  // unset Boolean shows blank
    EXPECT_EQ(Grid.CellText(0, 2), "");  // unset integer shows blank

    Add("beta", true);
    Table.First();
    Table.Edit();
    Table.FieldByName("FalseCount").SetAsInteger(3);
    Table.FieldByName("Connected").SetAsBoolean(false);
    EXPECT_EQ(Grid.CellText(0, 2), "") << "an unposted change is not shown";
    Table.Post();
    EXPECT_EQ(Grid.CellText(0, 1), "False");
    EXPECT_EQ(Grid.CellText(0, 2), "3");
    EXPECT_EQ(Grid.CellText(1, 1), "True");

    Table.First();
    Table.Delete();
    ASSERT_EQ(Grid.RowCount(), 1);
    EXPECT_EQ(Grid.CellText(0, 0), "beta");
    EXPECT_EQ(Grid.CurrentRow(), 0);
}

TEST_F(GridFixture, PaintsColoursAndHighlightsCurrentRecord) {
    Add("one", false);
    Add("two", false);
    Add("three", false);
    Table.SetRecNo(2);
    Grid.clearFocus();
    QImage image = Grid.grab().toImage();
    EXPECT_EQ(CellColor(image, 0, 0), kCells);
    EXPECT_EQ(CellColor(image, 1, 0), kSelected);
    EXPECT_EQ(CellColor(image, 1, 3), kSelected);
    EXPECT_EQ(CellColor(image, 2, 3), kCells);
    const QPoint title(Grid.horizontalHeader()->sectionPosition(1) + 3, 3);
    EXPECT_EQ(image.pixelColor(title), kTitles);

    // Following the cursor needs no event processing either.
    Table.Next();
    image = Grid.grab().toImage();
    EXPECT_EQ(CellColor(image, 1, 0), kCells);
    EXPECT_EQ(CellColor(image, 2, 0), kSelected);

    // With the focus, the current cell is green, the rest of its row yellow.
    Grid.activateWindow();
    Grid.setFocus();
    QApplication::processEvents();
    if (!Grid.hasFocus())
        GTEST_SKIP() << "the offscreen platform gave no focus";
    image = Grid.grab().toImage();
    EXPECT_EQ(CellColor(image, 2, 0), kFocused);
    EXPECT_EQ(CellColor(image, 2, 1), kSelected);
}

TEST_F(GridFixture, ClickOnRowMakesItCurrent) {
    for (const char* host : {"a", "b", "c"})
        Add(host, false);
    ASSERT_EQ(Table.RecNo(), 3);
    const QPoint at = Grid.visualRect(Grid.model()->index(0, 3)).center();
    QMouseEvent press(QEvent::MouseButtonPress, at, Grid.viewport()->mapToGlobal(at),
                      Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, at, Grid.viewport()->mapToGlobal(at),
                        Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(Grid.viewport(), &press);
    QApplication::sendEvent(Grid.viewport(), &release);
    EXPECT_EQ(Table.RecNo(), 1);
    EXPECT_EQ(Table.FieldByName("HostName").AsString(), "a");
    EXPECT_EQ(Grid.CurrentRow(), 0);
}

TEST_F(GridFixture, ColumnsHaveGivenOrFittingWidthsAndTitles) {
    EXPECT_EQ(Grid.ColumnWidth(0), 86);
    EXPECT_EQ(Grid.ColumnWidth(2), 16);
    EXPECT_EQ(Grid.ColumnWidth(3), 213);
    // A default width fits the title and the field's display width.
    const QFontMetrics metrics(Grid.font());
    EXPECT_GE(Grid.ColumnWidth(1), metrics.horizontalAdvance("False"));
    const auto* model = Grid.model();
    EXPECT_EQ(model->headerData(3, Qt::Horizontal).toString(), "Universal Name Connection");
    EXPECT_EQ(model->headerData(2, Qt::Horizontal, Qt::TextAlignmentRole).value<Qt::Alignment>() &
                  Qt::AlignHorizontal_Mask,
              Qt::AlignLeft);
    EXPECT_TRUE(Grid.verticalHeader()->isHidden()) << "no row indicator";
    EXPECT_EQ(Grid.editTriggers(), QAbstractItemView::NoEditTriggers);
}

TEST(DBGrid, OutlivesOrPrecedesItsTable) {
    TDBGridView grid;
    TDataSource source{nullptr};
    grid.SetDataSource(&source);
    grid.SetColumns({{"HostName", "Host Name", Qt::AlignHCenter, 86}});
    {
        TRxMemoryData table(nullptr, {{"HostName", TFieldType::ftString, 16}});
        source.SetDataSet(&table);
        table.Append();
        table.FieldByName("HostName").SetAsString("x");
        table.Post();
        EXPECT_EQ(grid.RowCount(), 1);
    }
    EXPECT_EQ(grid.RowCount(), 0);
    EXPECT_EQ(grid.CurrentRow(), -1);
}

}  // namespace
