#include "ScriptedDialogs.h"
#include "TempAppDir.h"

#include "core/AppContext.h"
#include "core/PriceMask.h"
#include "db/DataModule.h"
#include "documents/Printing.h"
#include "documents/RetailPricing.h"
#include "platform/Process.h"
#include "price/PriceGrid.h"

#include <QFile>
#include <QLocale>
#include <QPrinter>
#include <QRegularExpression>
#include <gtest/gtest.h>

using namespace pc;

TEST(PrintGeometry, TagsColumnWidthsAndCheckedColumns)
{
    const TagSize tag = PriceTagSize(3300, 2550, 7, 30);
    EXPECT_EQ(tag.width, 462);
    EXPECT_EQ(tag.height, 355);
    // Seven tags a row, seven rows a page; the fiftieth starts a new page.
    TagPlacer placer(2550, 7, 30, tag);
    std::vector<TagPlacer::Place> places;
    for (int i = 0; i < 50; ++i)
        places.push_back(placer.next());
    EXPECT_EQ(places[6].x, 30 + 6 * 462);
    EXPECT_EQ(places[7].x, 30);
    EXPECT_EQ(places[7].y, 30 + 355);
    EXPECT_EQ(places[48].y, 30 + 6 * 355);
    EXPECT_FALSE(places[48].newPage);
    EXPECT_TRUE(places[49].newPage);
    EXPECT_EQ(places[49].y, 30);
    // Three a row on a Letter page: the third row ends right at the bottom
    // margin and still goes on the page.
    TagPlacer three(2550, 3, 30, PriceTagSize(3300, 2550, 3, 30));
    for (int i = 0; i < 9; ++i)
        EXPECT_FALSE(three.next().newPage) << i;
    EXPECT_TRUE(three.next().newPage);
    // One tag a page: no blank first page.
    TagPlacer single(2550, 1, 30, PriceTagSize(3300, 2550, 1, 30));
    EXPECT_FALSE(single.next().newPage);
    EXPECT_TRUE(single.next().newPage);

    // Room to spare goes by the grid widths; short of room, the wrapping
    // column gives way and a code keeps its whole width; the widths always add
    // up to the usable width.
    EXPECT_EQ(FitColumnWidths(100, {{10, 20, 1}, {10, 30, 3}}), std::vector<int>({32, 68}));
    EXPECT_EQ(FitColumnWidths(60, {{10, 50, 1}, {20, 20, 5}}), std::vector<int>({40, 20}));
    EXPECT_EQ(FitColumnWidths(61, {{10, 50, 1}, {20, 20, 5}, {5, 15, 1}}), std::vector<int>({31, 20, 10}));
    EXPECT_TRUE(FitColumnWidths(25, {{10, 50, 1}, {20, 20, 5}}).empty());

    const std::vector<PrintTableColumn> grid{{"TOVAR", "Наименование", 250}, {"SERIES", "Серия", 70}, {"QNT", "Кол-во", 70}};
    const auto printed = CheckedInvoiceColumns(grid, {{"Наименование", true}, {"Кол-во", false}});
    ASSERT_EQ(printed.size(), 1u);
    EXPECT_EQ(printed[0].fieldName, "TOVAR");
}

namespace {
struct PrintFixture : ::testing::Test {
    TempAppDir dir;
    AppContext context{dir.path()};
    ScriptedDialogs dialogs;
    RecordingLog log;
    std::unique_ptr<TDM> dm;
    std::unique_ptr<RetailPricing> pricing;
    PriceGrid grid;
    std::unique_ptr<DocumentPrinter> printer;
    PrintValues values;
    int asked = 0;
    bool cancel = false;
    QRect paintRect; // the printed area of the last document's pages, printer pixels

    void SetUp() override
    {
        QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
        dm = std::make_unique<TDM>(context, dialogs, log);
        grid.clientCode = [] { return QStringLiteral("1234"); };
        dm->CreateFirebirdObjects();
        grid.install(*dm);
        dm->OpenDatabase();
        dialogs.notices.clear();
        pricing = std::make_unique<RetailPricing>(*dm, dialogs, log);
        dm->NakladLinesSet()->OnCalcFields = [this](Dataset &l) { pricing->tblNakladLinesCalcFields(l); };
        printer = std::make_unique<DocumentPrinter>(*dm, *pricing, grid, dialogs);
        // Stands in for the preview: the document goes straight to a PDF.
        printer->showDocument = [this](QPrinter &p, const std::function<void(QPrinter &)> &render) {
            ++asked;
            if (cancel)
                return false;
            p.setOutputFormat(QPrinter::PdfFormat);
            p.setOutputFileName(dir.file("out.pdf"));
            paintRect = p.pageLayout().paintRectPixels(p.resolution());
            render(p);
            return true;
        };
        printer->now = [] { return QDateTime(QDate(2026, 12, 6), QTime(14, 37, 37)); };

        dm->ExecSQL("INSERT INTO NAKLAD (ID, NUMBR, NAKLDATE, ISREAD) VALUES (7, 'Н-7', '01.12.2026', 0)", false);
        dm->ExecSQL("INSERT INTO NAKLADL (ID, LINENO, IDTOVAR, TOVAR, PRODUCT, COUNTRY, SERIES, QNT, PRICE, SUMMA, PRICE_APT) "
                    "VALUES (7, 1, '1', 'Аспирин', 'Байер', 'Германия', 'S-77', 2, 50, 100, 59.9)", false);
        dm->ExecSQL("INSERT INTO NAKLADL (ID, LINENO, IDTOVAR, TOVAR, PRODUCT, COUNTRY, SERIES, QNT, PRICE, SUMMA, PRICE_APT) "
                    "VALUES (7, 2, '2', 'Бинт', 'Навтекс', 'Россия', 'S-88', 1, 10, 10, 13)", true);
        dm->NakladSet()->Refresh();
        values.clientName = "Аптека №1";
        values.supplierName = "  ООО Фармопт ";
        values.invoiceColumns = {{"LINENO", "№", 30, Qt::AlignRight},
                                 {"TOVAR", "Наименование", 250},
                                 {"SERIES", "Серия", 70},
                                 {"QNT", "Кол-во", 70, Qt::AlignRight},
                                 {"PRICE", "Цена", 70, Qt::AlignRight}};
        values.invoicePrintColumns = {{"№", true}, {"Наименование", true}, {"Кол-во", false}, {"Цена", true}};
        values.orderColumns = {{"TOVAR", "Наименование", 300}, {"PRODUCT", "Производитель", 160}, {"QNT", "Количество", 80},
                               {"PRICEDEC", "Цена", 70}, {"SUMMADEC", "Сумма", 80}};
    }
    void TearDown() override
    {
        printer.reset();
        pricing.reset();
        dm.reset();
        QLocale::setDefault(QLocale::c());
    }
    // The printed PDF as text; pages separated by form feeds.
    QString printedText()
    {
        const QString tool = findProgram("pdftotext", QString());
        EXPECT_FALSE(tool.isEmpty());
        const RunResult r = runAndWait(tool, {"-layout", dir.file("out.pdf"), dir.file("out.txt")}, dir.path());
        EXPECT_EQ(r.status, RunResult::Finished);
        EXPECT_EQ(r.exitCode, 0);
        QFile f(dir.file("out.txt"));
        EXPECT_TRUE(f.open(QIODevice::ReadOnly));
        return QString::fromUtf8(f.readAll());
    }
    // The printed PDF's words with their boxes, in points, page by page.
    struct Word { double x0, y0, x1, y1; QString text; };
    struct Page { double width = 0; std::vector<Word> words; };
    std::vector<Page> printedWords()
    {
        const QString tool = findProgram("pdftotext", QString());
        const RunResult r = runAndWait(tool, {"-bbox", dir.file("out.pdf"), dir.file("out.html")}, dir.path());
        EXPECT_EQ(r.exitCode, 0);
        QFile f(dir.file("out.html"));
        EXPECT_TRUE(f.open(QIODevice::ReadOnly));
        const QString html = QString::fromUtf8(f.readAll());
        std::vector<Page> pages;
        const QRegularExpression pageRe("<page width=\"([\\d.]+)\"");
        const QRegularExpression wordRe("<word xMin=\"([\\d.]+)\" yMin=\"([\\d.]+)\" xMax=\"([\\d.]+)\" yMax=\"([\\d.]+)\">([^<]*)</word>");
        for (const QString &text : html.split("</page>")) {
            const auto pm = pageRe.match(text);
            if (!pm.hasMatch())
                continue;
            Page page{pm.captured(1).toDouble(), {}};
            for (auto it = wordRe.globalMatch(text); it.hasNext();) {
                const auto m = it.next();
                page.words.push_back({m.captured(1).toDouble(), m.captured(2).toDouble(), m.captured(3).toDouble(),
                                      m.captured(4).toDouble(), m.captured(5)});
            }
            pages.push_back(std::move(page));
        }
        return pages;
    }
    // Words of the printed PDF that run into one another or past the page's
    // right margin: what a cut or overflowing cell leaves behind.
    QStringList collidingWords()
    {
        QStringList out;
        for (const Page &page : printedWords()) {
            const double right = page.width - 30 * 72.0 / 300; // the table margin
            const std::vector<Word> &words = page.words;
            for (size_t i = 0; i < words.size(); ++i) {
                if (words[i].x1 > right + 0.5)
                    out << words[i].text + " past the margin";
                for (size_t j = i + 1; j < words.size(); ++j) {
                    const double yOverlap = std::min(words[i].y1, words[j].y1) - std::max(words[i].y0, words[j].y0);
                    const double xOverlap = std::min(words[i].x1, words[j].x1) - std::max(words[i].x0, words[j].x0);
                    if (yOverlap > 1 && xOverlap > 0.5)
                        out << words[i].text + " / " + words[j].text;
                }
            }
        }
        return out;
    }
    void addPrice(const QString &id, const QString &name, int zakaz, double price)
    {
        auto *q = dm->PrepareQuery("INSERT INTO PRICE (IDTOVAR, TOVAR, PRODUCT, QNT, PRICE, ZAKAZ) VALUES (:A, :B, 'Завод', 100, :C, :D)");
        dm->SetParamByName(q, "A", id);
        dm->SetParamByName(q, "B", name);
        dm->SetParamByName(q, "C", MaskPriceValue(price, "1234"));
        dm->SetParamByName(q, "D", zakaz);
        dm->ExecQuery(q, true);
    }
    // Prices whose right end comes within 1 mm (12 printer pixels) of their
    // tag's frame; tags n a row, with the fixture's 30 pixel page margin.
    QStringList pricesNearTheFrame(int n)
    {
        QStringList out;
        const int tagWidth = (paintRect.width() - 2 * 30) / n;
        for (const Page &page : printedWords()) {
            for (const Word &w : page.words) {
                if (w.text != "руб")
                    continue;
                const double right = w.x1 * 300 / 72.0 - paintRect.left();
                const int column = int((right - 30) / tagWidth);
                const double frame = 30 + tagWidth * (column + 1);
                if (frame - right < 12)
                    out << QString("%1 px at %2").arg(frame - right).arg(right);
            }
        }
        return out;
    }
    static QString squeeze(QString s) { return s.replace(QRegularExpression(" +"), " "); }
};
} // namespace

TEST_F(PrintFixture, InvoicePrintsTitlePartiesCheckedColumnsAndSignature)
{
    ASSERT_TRUE(printer->PrintInvoice(values));
    const QString text = printedText();
    EXPECT_TRUE(text.contains("Накладная № Н-7 от 01.12.2026. Сумма апт. 132,80")) << qPrintable(text);
    // The totals of the supplier's and the pharmacy's sums under the table.
    EXPECT_TRUE(squeeze(text).contains("Итого: 2 поз. на сумму 110,00, сумма апт. 132,80")) << qPrintable(text);
    EXPECT_TRUE(squeeze(text).contains("Поставщик: ООО Фармопт\n"));
    EXPECT_TRUE(squeeze(text).contains("Получатель: Аптека №1\n")); // the first address adds nothing
    EXPECT_TRUE(text.contains("Наименование"));
    EXPECT_TRUE(text.contains("Аспирин"));
    EXPECT_TRUE(text.contains("50,00")); // floats as "0.00"
    EXPECT_TRUE(text.contains("10,00"));
    EXPECT_FALSE(text.contains("Кол-во")); // unchecked
    EXPECT_FALSE(text.contains("Серия"));  // not in the list
    EXPECT_FALSE(text.contains("S-77"));
    const QRegularExpression signature("Отпустил (_+)\\(\\s+\\)\\s+Получил (_+) \\(\\s+\\)");
    const auto m = signature.match(text);
    ASSERT_TRUE(m.hasMatch()) << qPrintable(text);
    EXPECT_EQ(m.captured(1).size(), 23);
    EXPECT_EQ(m.captured(2).size(), 22);
}

TEST_F(PrintFixture, InvoiceWithoutCheckedColumnsNamesTheAddressAndCancelPrintsNothing)
{
    cancel = true;
    EXPECT_FALSE(printer->PrintInvoice(values));
    EXPECT_FALSE(QFile::exists(dir.file("out.pdf")));
    cancel = false;
    for (PrintColumn &c : values.invoicePrintColumns)
        c.visible = false;
    values.addressIndex = 1;
    values.addressText = "ул. Ленина, 5";
    ASSERT_TRUE(printer->PrintInvoice(values));
    const QString text = printedText();
    EXPECT_TRUE(squeeze(text).contains("Получатель: Аптека №1 ул. Ленина, 5"));
    EXPECT_FALSE(text.contains("Наименование"));
    EXPECT_FALSE(text.contains("Аспирин"));
    EXPECT_TRUE(text.contains("Отпустил"));
    EXPECT_EQ(text.count('\f'), 1); // no pages of blank rows
}

TEST_F(PrintFixture, OrderFromPriceKeepsTheFilterInForceAlsoAfterAnError)
{
    addPrice("10", "Аспирин", 2, 12.5);
    addPrice("11", "Аспирин С", 0, 20);
    addPrice("12", "Бинт", 3, 7.25);
    addPrice("13", "Анальгин", 0, 5);
    dm->OpenPrice(false);
    dm->OpenPrice(true);
    grid.edPriceFilterChange("асп");
    Dataset &price = *dm->PriceSet();
    ASSERT_EQ(price.RecordCount(), 2);
    price.Last();
    values.deliveryAddresses = {"ул. Ленина, 5", "ул. Мира, 3"};
    values.addressIndex = 1;

    ASSERT_TRUE(printer->PrintOrder(true, values));
    const QString text = squeeze(printedText());
    EXPECT_TRUE(text.contains("Заявка № _____ от 06.12.2026 14:37:37")) << qPrintable(text);
    EXPECT_TRUE(text.contains("Аптека: Аптека №1\n"));
    EXPECT_TRUE(text.contains("Адрес доставки: ул. Мира, 3\n")); // the address selected
    EXPECT_TRUE(text.contains("Аспирин Завод 2 12,50 25,00"));
    EXPECT_TRUE(text.contains("Бинт Завод 3 7,25 21,75"));
    EXPECT_TRUE(text.contains("Итого: 2 поз. на сумму 46,75"));
    EXPECT_FALSE(text.contains("Анальгин"));
    EXPECT_FALSE(text.contains("Аспирин С"));
    EXPECT_TRUE(price.Filtered());
    EXPECT_EQ(price.Filter(), kNameFilterCondition);
    EXPECT_EQ(price.RecordCount(), 2);
    EXPECT_EQ(price.FieldByName("IDTOVAR").AsString(), "11");

    // A column the price rows lack fails while drawing: the filter comes back
    // and the document is still ended.
    QFile::remove(dir.file("out.pdf"));
    values.orderColumns.push_back({"NOSUCH", "Нет", 50});
    EXPECT_ANY_THROW(printer->PrintOrder(true, values));
    EXPECT_EQ(price.Filter(), kNameFilterCondition);
    EXPECT_EQ(price.RecordCount(), 2);
    EXPECT_TRUE(printedText().contains("Заявка № _____"));
}

TEST_F(PrintFixture, ArchivedOrderPrintsItsNumberDateAndLines)
{
    dm->ExecSQL("INSERT INTO ORDERS (ID, DATET, ORDERTIME, STATUS, SUMMA, COMMENT) "
                "VALUES (5, '04.12.2026', '09:15', 1, 0, 'от ул. Мира, 3 (срочно)')", false);
    dm->ExecSQL("INSERT INTO ORDERS (ID, DATET, ORDERTIME, STATUS, SUMMA) VALUES (6, '05.12.2026', '10:00', 1, 0)", false);
    dm->ExecSQL("INSERT INTO ORDERSL (IDNAKL, IDTOVAR, TOVAR, PRODUCT, QNT, PRICE, SUMMA) VALUES (5, '1', 'Йод', 'Фарм', 4, 0, 0)", true);
    dm->OrdersSet()->Refresh();
    dm->OrdersSet()->Locate("ID", 5);
    values.deliveryAddresses = {"ул. Ленина, 5", "ул. Мира, 3"};
    values.addressIndex = 0; // the box's choice now says nothing about an order saved earlier
    ASSERT_TRUE(printer->PrintOrder(false, values));
    QString text = squeeze(printedText());
    EXPECT_TRUE(text.contains("Заявка № 5 от 04.12.2026 время 09:15")) << qPrintable(text);
    EXPECT_TRUE(text.contains("Аптека: Аптека №1\nАдрес доставки: ул. Мира, 3\n"));
    EXPECT_TRUE(text.contains("Йод Фарм 4 0,00 0,00"));
    EXPECT_TRUE(text.contains("Итого: 1 поз. на сумму 0,00"));

    // An order without "от" in its comment went to the first address; without
    // addresses of its own the pharmacy's name stands alone.
    EXPECT_EQ(OrderDeliveryAddress(values, false, ""), "ул. Ленина, 5");
    dm->OrdersSet()->Locate("ID", 6);
    values.deliveryAddresses.clear();
    ASSERT_TRUE(printer->PrintOrder(false, values));
    text = squeeze(printedText());
    EXPECT_TRUE(text.contains("Аптека: Аптека №1\n")) << qPrintable(text);
    EXPECT_FALSE(text.contains("Адрес доставки"));
    EXPECT_TRUE(text.contains("Итого: 0 поз. на сумму 0,00"));
}

TEST_F(PrintFixture, PriceTagsNeedEveryLinePricedAndPrintOnePerPageWithoutBlankPages)
{
    dm->ExecSQL("UPDATE NAKLADL SET PRICE_APT = 0 WHERE LINENO = 2", true);
    dm->NakladSet()->Refresh();
    dm->NakladLinesSet()->First();
    EXPECT_FALSE(printer->PrintPriceTags(values));
    EXPECT_EQ(dialogs.notices, QStringList({"Эта накладная еще не расценена!"}));
    EXPECT_EQ(asked, 0);
    EXPECT_FALSE(QFile::exists(dir.file("out.pdf")));
    EXPECT_EQ(dm->NakladLinesSet()->RecNo(), 2); // the unpriced line is shown

    dm->ExecSQL("UPDATE NAKLADL SET PRICE_APT = 13 WHERE LINENO = 2", true);
    dm->NakladSet()->Refresh();
    values.tagsPerRow = 1;
    ASSERT_TRUE(printer->PrintPriceTags(values));
    const QString text = squeeze(printedText());
    EXPECT_EQ(text.count('\f'), 2) << qPrintable(text);
    EXPECT_TRUE(text.contains("Цена 59,90 руб"));
    EXPECT_TRUE(text.contains("Цена 13,00 руб"));
    EXPECT_TRUE(text.contains("Байер(Германия)"));
    EXPECT_TRUE(text.contains("Аптека №1"));
    EXPECT_TRUE(text.contains("№Н-7"));
    EXPECT_TRUE(text.contains("01.12.2026"));
}

namespace {
// The invoice lines grid as the window shows it (all columns printed).
std::vector<PrintTableColumn> fullInvoiceGrid()
{
    return {{"LINENO", "№", 30, Qt::AlignRight},        {"TOVAR", "Наименование", 250},
            {"PRODUCT", "Производитель", 90},           {"COUNTRY", "Страна", 90},
            {"SERIES", "Серия", 90},                    {"QNT", "Кол-во", 50, Qt::AlignRight},
            {"PRICE", "Цена c НДС", 70, Qt::AlignRight}, {"SUMMA", "Сумма", 80, Qt::AlignRight},
            {"STNDS", "Ст.НДС", 40},                    {"SUMNDS", "Сум.НДС", 70, Qt::AlignRight},
            {"SROKGODN", "Ср.годн.", 70},               {"PRICE_PR", "Ц.пр-ля б/НДС", 70, Qt::AlignRight},
            {"PRREESTR", "Ц.реестра", 70, Qt::AlignRight}, {"PRICE_APT", "Ц. аптеки", 70, Qt::AlignRight},
            {"EAN", "ШК", 110}};
}
} // namespace

TEST_F(PrintFixture, InvoiceWithEveryColumnKeepsCodesNamesAndNumbersWhole)
{
    const QString longName = "Амоксициллин+Клавулановая кислота таблетки покрытые пленочной оболочкой 875 мг+125 мг N14";
    auto *q = dm->PrepareQuery("INSERT INTO NAKLADL (ID, LINENO, IDTOVAR, TOVAR, PRODUCT, COUNTRY, SERIES, QNT, PRICE, SUMMA, "
                               "STNDS, SUMNDS, PRICE_PR, PRREESTR, PRICE_APT, EAN) VALUES (7, 3, '3', :N, "
                               "'Сандоз д.д./Лек Фарма АО', 'Словения', 'AB1234567', 99999, 16928.4, "
                               "1692671234.5, 10, 153879203.14, 15389.45, 16000, 19999.99, '4601234567890')");
    dm->SetParamByName(q, "N", longName);
    dm->ExecQuery(q, true);
    dm->NakladSet()->Refresh();
    values.invoiceColumns = fullInvoiceGrid();
    values.invoicePrintColumns.clear();
    for (const PrintTableColumn &c : values.invoiceColumns)
        values.invoicePrintColumns.append({c.title, true});

    for (int orientation : {0, 1}) {
        SCOPED_TRACE(orientation);
        values.orientation = orientation;
        ASSERT_TRUE(printer->PrintInvoice(values));
        const QString text = printedText();
        EXPECT_TRUE(text.contains("4601234567890")) << qPrintable(text); // all 13 digits
        EXPECT_EQ(collidingWords().join("; "), QString());
        for (const QString &word : longName.split(' '))                   // wrapped, never cut
            EXPECT_TRUE(text.contains(word)) << qPrintable(word);
        for (const char *whole : {"16928,40", "1692671234,50", "153879203,14", "15389,45", "16000,00", "19999,99",
                                  "99999", "AB1234567", "Производитель", "Сандоз", "Фарма АО", "Ц.пр-ля",
                                  "аптеки", "59,90", "Отпустил"})
            EXPECT_TRUE(text.contains(QString::fromUtf8(whole))) << whole;
        // Numbers stand at the right edge of their cells: the price with VAT
        // of the short lines ends where the long line's does.
        const QStringList rows = text.split('\n');
        auto endOf = [&](const QString &value) {
            for (const QString &row : rows)
                if (const int at = row.indexOf(value); at >= 0)
                    return int(at + value.size());
            return -1;
        };
        // (the text extractor may place a column one character off)
        EXPECT_NEAR(endOf(" 50,00 "), endOf(" 10,00 "), 1) << qPrintable(text);
        EXPECT_NEAR(endOf(" 50,00 "), endOf("16928,40"), 1);
    }
}

TEST_F(PrintFixture, ThirtyPriceTagsFillRowsAndPagesWithWholeNamesAndPrices)
{
    const QString longName = "Ацетилсалициловая кислота+Аскорбиновая кислота таблетки шипучие 400 мг+240 мг N10";
    for (int i = 3; i <= 30; ++i) {
        auto *q = dm->PrepareQuery("INSERT INTO NAKLADL (ID, LINENO, IDTOVAR, TOVAR, PRODUCT, COUNTRY, QNT, PRICE, SUMMA, "
                                   "PRICE_APT) VALUES (7, :L, :I, :N, 'Лексредства ОАО г. Курск', "
                                   "'Россия', 1, 10, 10, :P)");
        dm->SetParamByName(q, "L", i);
        dm->SetParamByName(q, "I", QString::number(i));
        dm->SetParamByName(q, "N", i == 3 ? longName : QString("Товар %1").arg(i));
        dm->SetParamByName(q, "P", 12345.6 + i);
        dm->ExecQuery(q, i == 30);
    }
    dm->NakladSet()->Refresh();
    ASSERT_EQ(dm->NakladLinesSet()->RecordCount(), 30);

    // Seven a row: one page, five rows.
    values.tagsPerRow = 7;
    ASSERT_TRUE(printer->PrintPriceTags(values));
    QString text = printedText();
    EXPECT_EQ(text.count('\f'), 1);
    for (const QString &word : longName.split(QRegularExpression("[ +]")))
        EXPECT_TRUE(text.contains(word)) << qPrintable(word);
    EXPECT_EQ(text.count(QRegularExpression("Цена\\s+123\\d\\d,\\d\\d\\s+руб")), 28) << qPrintable(text);
    EXPECT_EQ(text.count("Цена 59,90 руб"), 1);
    EXPECT_TRUE(text.contains("Товар 30"));
    EXPECT_TRUE(text.contains("Курск(Россия)"));
    EXPECT_EQ(text.count("№Н-7"), 30);
    EXPECT_EQ(collidingWords().join("; "), QString());
    EXPECT_EQ(pricesNearTheFrame(7).join("; ").toStdString(), "");

    // Three a row and three rows a page: nine tags on each page, the last
    // page with the remaining three.
    values.tagsPerRow = 3;
    ASSERT_TRUE(printer->PrintPriceTags(values));
    text = printedText();
    const QStringList pages = text.split('\f', Qt::SkipEmptyParts);
    ASSERT_EQ(pages.size(), 4) << qPrintable(text);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(pages[i].count("№Н-7"), i < 3 ? 9 : 3) << i;
    EXPECT_EQ(text.count(QRegularExpression("Цена\\s+\\d+,\\d\\d\\s+руб")), 30);
    EXPECT_EQ(collidingWords().join("; "), QString());
    EXPECT_EQ(pricesNearTheFrame(3).join("; ").toStdString(), "");
}
