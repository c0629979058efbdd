// Column titles wrap on screen without a character added to their text, and
// a column can be kept from getting narrower than a given width.
#include <gtest/gtest.h>

#include "ui/WrappingHeaderView.h"

#include <QCoreApplication>
#include <QImage>
#include <QStandardItemModel>
#include <QTableView>

using pc::WrappingHeaderView;

namespace {

// How many pixel rows a section's text spans: from the top of its highest dark
// pixel to the bottom of its lowest one.
int textHeight(const QImage &image, int left, int width)
{
    int top = -1, bottom = -1;
    for (int y = 1; y < image.height() - 2; ++y)
        for (int x = left + 3; x < left + width - 3; ++x)
            if (qGray(image.pixel(x, y)) < 128) {
                if (top < 0)
                    top = y;
                bottom = y;
                break;
            }
    return top < 0 ? 0 : bottom - top + 1;
}

} // namespace

TEST(WrappingHeader, BreaksAfterDotsAndAtSpacesOnlyWhenTheTitleDoesNotFit)
{
    QFont font;
    const QFontMetrics fm(font);
    const auto wrap = [&](const QString &title, const QString &widest) {
        return WrappingHeaderView::wrappedTitle(title, fm, fm.horizontalAdvance(widest));
    };
    EXPECT_EQ(wrap("Ср.годности", "Ср.годности"), "Ср.годности");
    EXPECT_EQ(wrap("Ср.годности", "годности"), "Ср.\nгодности");
    EXPECT_EQ(wrap("Кратность партии", "Кратность"), "Кратность\nпартии");
    EXPECT_EQ(wrap("Ц. аптеки", "аптеки"), "Ц.\nаптеки");
    EXPECT_EQ(wrap("Ц.пр-ля с НДС", "Ц.пр-ля с"), "Ц.пр-ля с\nНДС");
    // A dot that ends the title or stands before a space is no place of its own.
    EXPECT_EQ(wrap("Кол.в уп.", "Кол.в"), "Кол.в\nуп.");
    EXPECT_EQ(wrap("Сумма апт.", "Сумма"), "Сумма\nапт.");
}

TEST(WrappingHeader, LongTitleIsPaintedOnTwoLinesAndTheModelKeepsItsText)
{
    QStandardItemModel model(1, 2);
    model.setHorizontalHeaderLabels({"Ср.годности", "Цена"});
    QTableView view;
    view.setModel(&model);
    auto *header = WrappingHeaderView::install(&view);
    ASSERT_EQ(WrappingHeaderView::install(&view), header); // once
    ASSERT_EQ(view.horizontalHeader(), header);
    header->setFixedHeight(2 * header->fontMetrics().lineSpacing() + 8);
    view.resize(400, 200);
    view.show();
    const int narrow = header->fontMetrics().horizontalAdvance("годности") + 16;
    view.setColumnWidth(0, narrow);
    view.setColumnWidth(1, 200);
    QCoreApplication::processEvents();

    EXPECT_EQ(header->paintedText(0), "Ср.\nгодности");
    EXPECT_EQ(model.headerData(0, Qt::Horizontal).toString(), "Ср.годности");
    const QImage image = header->grab().toImage();
    const int line = header->fontMetrics().height();
    EXPECT_GT(textHeight(image, header->sectionViewportPosition(0), narrow), line * 3 / 2);
    EXPECT_LE(textHeight(image, header->sectionViewportPosition(1), 200), line);

    // Widened, the title is painted on one line again.
    view.setColumnWidth(0, 250);
    EXPECT_EQ(header->paintedText(0), "Ср.годности");
    const QImage wide = header->grab().toImage();
    EXPECT_LE(textHeight(wide, header->sectionViewportPosition(0), 250), line);
}

TEST(WrappingHeader, SectionKeepsItsLeastWidth)
{
    QStandardItemModel model(1, 2);
    QTableView view;
    view.setModel(&model);
    auto *header = WrappingHeaderView::install(&view);
    view.setColumnWidth(0, 100);
    header->setSectionMinimumWidth(0, 300);
    EXPECT_EQ(view.columnWidth(0), 300);
    view.setColumnWidth(0, 150);
    EXPECT_EQ(view.columnWidth(0), 300);
    view.setColumnWidth(1, 40); // other sections go as narrow as they are told
    EXPECT_EQ(view.columnWidth(1), 40);
    view.setColumnWidth(0, 400);
    EXPECT_EQ(view.columnWidth(0), 400);
}
