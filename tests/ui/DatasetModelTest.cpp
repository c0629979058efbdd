// The grid model over a real dataset: cells, styles, editing, and the view's
// current row kept in step with the dataset cursor.
#include <gtest/gtest.h>

#include "support/TempDatabase.h"
#include "db/Dataset.h"
#include "db/TableDefs.h"
#include "ui/DatasetModel.h"

#include <QLocale>
#include <QCoreApplication>
#include <QHeaderView>
#include <QTableView>
#include <algorithm>
#include <map>

using namespace pc;

namespace {

class DatasetModelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
        for (int id = 1; id <= 4; ++id)
            t.exec(QStringLiteral("INSERT INTO ORDERS (ID, STATUS, SUMMA, COMMENT) VALUES (%1, %2, %3, 'c%1')")
                       .arg(id)
                       .arg(id % 2)
                       .arg(id == 2 ? QStringLiteral("0.5") : QString::number(id * 10 + 2.5)));
        ds.SetSelectSQL(QStringLiteral("SELECT * FROM ORDERS ORDER BY ID"));
        ds.SetModifySQL(QStringLiteral("UPDATE ORDERS SET STATUS = :STATUS WHERE ID = :OLD_ID"));
        ds.AddField(QStringLiteral("SUMMA"), FieldType::Float, 0, false, QStringLiteral("#.##"));
        ds.AddField(QStringLiteral("Sstatus"), FieldType::String, 100, true);
        ds.OnCalcFields = [](Dataset &d) {
            d.FieldByName(QStringLiteral("Sstatus"))
                .SetAsString(d.FieldByName(QStringLiteral("STATUS")).AsInteger() ? QStringLiteral("Отправлена")
                                                                                  : QStringLiteral("Не отправлена"));
        };
        ds.AfterScroll = [this](Dataset &) { ++scrolls; };
        ds.Open();
        model.setColumns({{QStringLiteral("ID"), QStringLiteral("№"), 40, Qt::AlignRight, true},
                          {QStringLiteral("SUMMA"), QStringLiteral("Сумма"), 80, Qt::AlignRight, true, false},
                          {QStringLiteral("COMMENT"), QStringLiteral("Комментарий"), 100, Qt::AlignLeft, false},
                          {QStringLiteral("Sstatus"), QStringLiteral("Статус"), 90, Qt::AlignLeft, true}});
    }
    void TearDown() override { QLocale::setDefault(QLocale::c()); }

    pc::test::TempDatabase t{pc::test::TempDatabase::Content::Tables};
    Dataset ds{t.tr()};
    DatasetModel model{&ds};
    int scrolls = 0;
};

} // namespace

TEST_F(DatasetModelTest, CellsHeadersAndStyles)
{
    EXPECT_EQ(model.rowCount(), 4);
    EXPECT_EQ(model.columnCount(), 4);
    EXPECT_EQ(model.headerData(1, Qt::Horizontal).toString(), QStringLiteral("Сумма"));
    EXPECT_EQ(model.data(model.index(0, 1)).toString(), QStringLiteral("12,5"));
    EXPECT_EQ(model.data(model.index(1, 1)).toString(), QStringLiteral(",5"));
    EXPECT_EQ(model.data(model.index(2, 3)).toString(), QStringLiteral("Отправлена"));
    EXPECT_EQ(model.data(model.index(3, 3)).toString(), QStringLiteral("Не отправлена"));
    EXPECT_EQ(model.data(model.index(0, 0), Qt::TextAlignmentRole).toInt(), int(Qt::AlignRight));
    EXPECT_EQ(ds.RecNo(), 1); // reading cells moves nothing
    EXPECT_FALSE(model.flags(model.index(0, 3)) & Qt::ItemIsEditable);
    EXPECT_FALSE(model.flags(model.index(0, 0)) & Qt::ItemIsEditable); // read-only unless asked
    EXPECT_TRUE(model.flags(model.index(0, 1)) & Qt::ItemIsEditable);

    model.setCellStyleHook([](Dataset &d, int, const GridColumn &, CellStyle &s) {
        if (d.FieldByName(QStringLiteral("STATUS")).AsInteger() == 0)
            s.background = QColor(Qt::yellow);
    });
    EXPECT_EQ(model.data(model.index(1, 0), Qt::BackgroundRole).value<QColor>(), QColor(Qt::yellow));
    EXPECT_FALSE(model.data(model.index(0, 0), Qt::BackgroundRole).isValid());

    // Rebinding a column to another field, as the price grid does.
    model.setColumnField(1, QStringLiteral("STATUS"));
    EXPECT_EQ(model.data(model.index(0, 1)).toString(), QStringLiteral("1"));
    EXPECT_EQ(model.columnOfField(QStringLiteral("status")), 1);
}

TEST_F(DatasetModelTest, ViewAndCursorMoveTogether)
{
    QTableView view;
    model.attachView(&view, 17);
    EXPECT_TRUE(view.isColumnHidden(2));
    EXPECT_GE(view.columnWidth(1), 80);
    EXPECT_EQ(view.verticalHeader()->defaultSectionSize(), 17);
    EXPECT_EQ(view.currentIndex().row(), 0);

    const int before = scrolls;
    ds.SetRecNo(3); // the logic moves: the view follows
    EXPECT_EQ(view.currentIndex().row(), 2);
    view.setCurrentIndex(model.index(3, 0)); // the person moves: the cursor follows
    EXPECT_EQ(ds.RecNo(), 4);
    EXPECT_EQ(scrolls, before + 2);

    // Editing a cell posts the row through the modify statement.
    ds.SetRecNo(2);
    const int statusColumn = 1;
    model.setColumnField(statusColumn, QStringLiteral("STATUS"));
    EXPECT_TRUE(model.setData(model.index(1, statusColumn), 1));
    EXPECT_EQ(t.scalar(QStringLiteral("SELECT STATUS FROM ORDERS WHERE ID = 2")), 1);
    EXPECT_EQ(model.data(model.index(1, 3)).toString(), QStringLiteral("Отправлена"));
    QString error;
    QObject::connect(&model, &DatasetModel::errorOccurred, [&](const QString &text) { error = text; });
    EXPECT_FALSE(model.setData(model.index(1, statusColumn), QStringLiteral("много")));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_EQ(ds.State(), DatasetState::Browse);

    // Reopening resets the model; closing empties it.
    ds.Refresh();
    EXPECT_EQ(model.rowCount(), 4);
    ds.Close();
    EXPECT_EQ(model.rowCount(), 0);
}

TEST_F(DatasetModelTest, ColumnsFitTitleAndWidestValueTheFillColumnTakesTheRestAndDraggedWidthsAreKept)
{
    const QString longTitle = QStringLiteral("Статус отправки заявки");
    std::vector<GridColumn> columns = {{QStringLiteral("ID"), QStringLiteral("№"), 10, Qt::AlignRight, true},
                                       {QStringLiteral("SUMMA"), QStringLiteral("Сумма"), 10, Qt::AlignLeft | Qt::AlignVCenter, true},
                                       {QStringLiteral("COMMENT"), QStringLiteral("Комментарий"), 10, Qt::AlignLeft, true},
                                       {QStringLiteral("Sstatus"), longTitle, 10, Qt::AlignLeft, true}};
    columns[2].fill = true;
    model.setColumns(columns);
    std::map<QString, int> kept;
    int saves = 0;
    auto memory = [&] {
        return ColumnWidthMemory{[&](const QString &f) { return kept.count(f) ? kept[f] : 0; },
                                 [&](const QString &f, int w) { kept[f] = w, ++saves; }};
    };
    model.setWidthMemory(memory());
    QTableView view;
    view.resize(700, 300);
    model.attachView(&view);
    view.show();
    QCoreApplication::processEvents();

    auto sum = [&](QTableView &v) {
        int total = 0;
        for (int c = 0; c < v.model()->columnCount(); ++c)
            total += v.isColumnHidden(c) ? 0 : v.columnWidth(c);
        return total;
    };
    const QFontMetrics cells = view.fontMetrics();
    EXPECT_GE(view.columnWidth(1), cells.horizontalAdvance(QStringLiteral("9999999,99")));
    EXPECT_GE(view.columnWidth(0), cells.horizontalAdvance(QStringLiteral("99999")));
    // A long title wraps at its spaces (the header grows a line); its widest word fits.
    const QFontMetrics titles = view.horizontalHeader()->fontMetrics();
    EXPECT_GE(view.columnWidth(3), titles.horizontalAdvance(QStringLiteral("отправки")));
    EXPECT_GE(view.horizontalHeader()->height(), 2 * titles.lineSpacing());
    EXPECT_EQ(model.headerData(3, Qt::Horizontal).toString(), longTitle);
    EXPECT_EQ(model.data(model.index(0, 1), Qt::TextAlignmentRole).toInt(), int(Qt::AlignRight | Qt::AlignVCenter));
    EXPECT_EQ(sum(view), view.viewport()->width()); // the comment column fills the rest
    EXPECT_EQ(saves, 0);                             // fitting is not a change of the person's

    view.horizontalHeader()->resizeSection(1, 150);
    EXPECT_EQ(kept[QStringLiteral("SUMMA")], 150);
    EXPECT_EQ(sum(view), view.viewport()->width());
    view.resize(900, 300);
    QCoreApplication::processEvents();
    EXPECT_EQ(sum(view), view.viewport()->width());
    EXPECT_EQ(view.columnWidth(1), 150);

    // Another grid over the same memory starts from the kept width.
    DatasetModel other(&ds);
    other.setColumns(columns);
    other.setWidthMemory(memory());
    QTableView second;
    other.attachView(&second);
    EXPECT_EQ(second.columnWidth(1), 150);
}

// Only a column that asks for an editor gets one: a grid without such a column
// opens no editor by any key or click, and nothing is stored through it.
TEST_F(DatasetModelTest, GridsWithoutAnEditableColumnOpenNoEditor)
{
    QTableView editable;
    model.attachView(&editable);
    EXPECT_NE(editable.editTriggers(), QAbstractItemView::NoEditTriggers);

    DatasetModel readOnly(&ds);
    readOnly.setColumns({{QStringLiteral("ID"), QStringLiteral("№")}, {QStringLiteral("STATUS"), QStringLiteral("Статус")}});
    QTableView view;
    readOnly.attachView(&view);
    EXPECT_EQ(view.editTriggers(), QAbstractItemView::NoEditTriggers);
    EXPECT_FALSE(readOnly.setData(readOnly.index(1, 1), 5));
    EXPECT_EQ(t.scalar(QStringLiteral("SELECT STATUS FROM ORDERS WHERE ID = 2")), 0);

    DatasetModel automatic(&ds); // one column per field
    QTableView all;
    automatic.attachView(&all);
    EXPECT_EQ(all.editTriggers(), QAbstractItemView::NoEditTriggers);
    EXPECT_FALSE(automatic.flags(automatic.index(0, 0)) & Qt::ItemIsEditable);
}

// The rows in view show what the dataset holds after it reads its rows again
// (another workstation changed one, deleted another), not the texts made
// before.
TEST_F(DatasetModelTest, RowsInViewShowTheRowsReadAgain)
{
    QTableView view;
    model.attachView(&view);
    view.show();
    QCoreApplication::processEvents();
    EXPECT_EQ(model.data(model.index(0, 1)).toString(), QStringLiteral("12,5"));
    EXPECT_EQ(model.data(model.index(1, 0)).toString(), QStringLiteral("2"));
    t.exec(QStringLiteral("UPDATE ORDERS SET SUMMA = 99.75, STATUS = 0 WHERE ID = 1"));
    t.exec(QStringLiteral("DELETE FROM ORDERS WHERE ID = 2"));
    ds.Refresh();
    ASSERT_EQ(model.rowCount(), 3);
    EXPECT_EQ(model.data(model.index(0, 1)).toString(), QStringLiteral("99,75"));
    EXPECT_EQ(model.data(model.index(0, 3)).toString(), QStringLiteral("Не отправлена"));
    EXPECT_EQ(model.data(model.index(1, 0)).toString(), QStringLiteral("3"));
    EXPECT_EQ(model.data(model.index(2, 0)).toString(), QStringLiteral("4"));
}

// A value changed in place (as another workstation's price or quantity is
// taken into the list) reaches the cell, and the view is told to paint it.
TEST_F(DatasetModelTest, ACellChangedInPlaceIsPaintedAnew)
{
    QTableView view;
    model.attachView(&view);
    view.show();
    QCoreApplication::processEvents();
    EXPECT_EQ(model.data(model.index(2, 1)).toString(), QStringLiteral("32,5"));
    std::vector<std::pair<int, int>> told;
    QObject::connect(&model, &QAbstractItemModel::dataChanged, [&](const QModelIndex &from, const QModelIndex &to) {
        told.emplace_back(from.row(), to.row());
    });
    ds.SetStoredValue(ds.FieldByName(QStringLiteral("SUMMA")), 2, 77.25);
    EXPECT_EQ(model.data(model.index(2, 1)).toString(), QStringLiteral("77,25"));
    EXPECT_TRUE(std::any_of(told.begin(), told.end(), [](const auto &r) { return r.first <= 2 && r.second >= 2; }))
        << "the view was not told row 2 changed";
    EXPECT_EQ(model.data(model.index(1, 1)).toString(), QStringLiteral(",5")) << "the other rows keep theirs";
}
