// The main window on a counter's small screen (1024 × 768) and on 1280 × 1024:
// every text and number above the grids is whole, nothing covers anything,
// the goods name keeps its width, the columns that matter are in view, and
// the page splitters keep the sizes the pharmacist dragged.
#include "WindowFixture.h"

#include "app/MainForm.h"
#include "db/DataModule.h"
#include "platform/IniFile.h"
#include "ui/DatasetModel.h"
#include "ui_MainForm.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QSplitter>
#include <QTest>
#include <gtest/gtest.h>

namespace {

struct ScreenLayout : WindowFixture {
    void fill()
    {
        form->LoadSettings();
        form->ui->cbAddresses->addItem("г. Самара, ул. Ново-Садовая, д. 106, аптека № 12 (центральная)");
        for (int i = 1; i <= 12; ++i)
            form->DM->ExecSQL(QString("INSERT INTO PRICE (IDTOVAR, TOVAR, PRODUCT, GODEN, PRICE, ZAKAZ, QNT) VALUES ('%1', "
                                      "'Амоксициллин капс. 500 мг № 16 упаковка %1', 'Хемофарм А.Д. (Сербия)', "
                                      "'01.01.2027', %2, %3, 100000)")
                                  .arg(i)
                                  .arg(i == 1 ? "12470.38" : "10")
                                  .arg(i == 1 ? 99 : 1),
                              true);
        form->DM->OpenPrice(false);
        form->DM->OpenPrice(true);
        form->ShowOrderTotals();
        form->settings.PriceDate = "07.12.2026 08:15:30";
        form->RefreshTitle();
        dialogs.setNextAnswer(mrNo); // the price list is not today's: no update now
        form->DM->ExecSQL("INSERT INTO NAKLAD (ID, NUMBR, NAKLDATE, ISREAD) VALUES (17, 'Н-000123', '05.12.2026', 0)", false);
        form->DM->ExecSQL("INSERT INTO NAKLADL (ID, LINENO, IDTOVAR, TOVAR, PRODUCT, COUNTRY, SERIES, QNT, PRICE, SUMMA, STNDS, "
                          "SUMNDS, PRICE_PR, PRREESTR, PRICE_APT, EAN) VALUES (17, 1, '1_1', 'Амоксициллин капс. 500 мг № 16', "
                          "'Хемофарм', 'Сербия', 'AB1234', 120, 1234.56, 148147.2, 10, 13467.93, 1100.12, 1200, 2364.61, "
                          "'4601234567890')",
                          true);
        form->DM->NakladSet()->Refresh();
    }

    void showAt(QSize size, QWidget *page)
    {
        form->resize(size);
        form->show();
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        form->ui->pgcMain->setCurrentWidget(page);
        QCoreApplication::processEvents();
    }
};

bool inside(QWidget *w, const char *className)
{
    for (QWidget *p = w->parentWidget(); p; p = p->parentWidget())
        if (p->inherits(className))
            return true;
    return false;
}

// The controls of a panel: each inside the panel, none over another, each as
// wide as its text.
void expectWhole(QWidget *panel, const QString &where)
{
    QList<QWidget *> controls;
    for (QWidget *w : panel->findChildren<QWidget *>()) {
        if (!w->isVisible() || inside(w, "QAbstractScrollArea") || inside(w, "QComboBox") || inside(w, "TUpDown"))
            continue;
        if (qobject_cast<QLabel *>(w) || qobject_cast<QAbstractButton *>(w) || qobject_cast<QComboBox *>(w)
            || qobject_cast<QLineEdit *>(w) || w->inherits("TUpDown"))
            controls << w;
    }
    ASSERT_FALSE(controls.isEmpty()) << where.toStdString();
    auto rectOf = [&](QWidget *w) { return QRect(w->mapTo(panel, QPoint(0, 0)), w->size()); };
    for (qsizetype i = 0; i < controls.size(); ++i) {
        QWidget *w = controls[i];
        const std::string name = QString(where + " " + w->objectName()).toStdString();
        EXPECT_TRUE(panel->rect().contains(rectOf(w))) << name;
        for (qsizetype j = i + 1; j < controls.size(); ++j)
            EXPECT_FALSE(rectOf(w).intersects(rectOf(controls[j]))) << name << " / " << controls[j]->objectName().toStdString();
        if (auto *label = qobject_cast<QLabel *>(w)) {
            EXPECT_GE(label->contentsRect().width(), label->fontMetrics().horizontalAdvance(label->text())) << name;
        } else if (qobject_cast<QAbstractButton *>(w)) {
            EXPECT_GE(w->width(), w->sizeHint().width()) << name;
        }
    }
}

int rightEdge(QTableView *view, int column)
{
    return view->columnViewportPosition(column) + view->columnWidth(column);
}

} // namespace

TEST_F(ScreenLayout, OrderPageShowsEveryTextAndTheMainColumnsAtBothSizes)
{
    fill();
    const QString totals = form->ui->lblTotals->text();
    ASSERT_TRUE(totals.startsWith("Заказ: 12 поз. На сумму 123")) << totals.toStdString();
    form->LogMessage("Прайс-лист загружен", Info, true);
    EXPECT_LE(form->minimumWidth(), 1024);
    for (const QSize size : {QSize(1024, 768), QSize(1280, 1024)}) {
        showAt(size, form->ui->tsOrder);
        const QString where = QString("%1x%2").arg(size.width()).arg(size.height());
        EXPECT_LE(form->minimumSizeHint().width(), 1024) << where.toStdString();
        expectWhole(form->ui->paOrder, where);
        EXPECT_EQ(form->ui->lblTotals->text(), totals);
        EXPECT_GE(form->ui->edPriceAptekaPercent->contentsRect().width(),
                  form->ui->edPriceAptekaPercent->fontMetrics().horizontalAdvance("-1000,0"));

        QTableView *grid = form->ui->dbgrdPrice;
        auto *model = qobject_cast<pc::DatasetModel *>(grid->model());
        ASSERT_NE(model, nullptr);
        EXPECT_EQ(grid->horizontalScrollBar()->value(), 0);
        EXPECT_GE(grid->columnWidth(model->columnOfField("TOVAR")), 300) << where.toStdString();
        for (const char *field : {"TOVAR", "PRICEDEC", "ZAKAZ", "SUMMA", "QNT"}) {
            const int c = model->columnOfField(field);
            ASSERT_GE(c, 0) << field;
            EXPECT_LE(rightEdge(grid, c), grid->viewport()->width()) << where.toStdString() << " " << field;
        }

        // The message pane keeps room for its lines beside the filter.
        QWidget *messages = form->ui->reMessages;
        EXPECT_TRUE(messages->isVisible());
        EXPECT_GE(messages->height(), 2 * messages->fontMetrics().lineSpacing()) << where.toStdString();
        EXPECT_GE(messages->width(), size.width() / 2) << where.toStdString();
    }
}

TEST_F(ScreenLayout, InvoiceAndArchivePagesShowTheirTextsAndThePharmacyPrices)
{
    fill();
    form->ui->pcDocum->setCurrentWidget(form->ui->tsNaklad);
    for (const QSize size : {QSize(1024, 768), QSize(1280, 1024)}) {
        const QString where = QString("%1x%2").arg(size.width()).arg(size.height());
        showAt(size, form->ui->tsDefectAndNakl);
        expectWhole(form->ui->paNakladButtons, where);
        expectWhole(form->ui->paDefectures, where);

        QTableView *lines = form->ui->dbgNakladLines;
        auto *model = qobject_cast<pc::DatasetModel *>(lines->model());
        ASSERT_NE(model, nullptr);
        ASSERT_EQ(model->rowCount(), 1);
        // The lines take the room; the price archive beside them keeps its columns.
        EXPECT_GE(2 * lines->width(), 5 * form->ui->dbgArchivePrices->width()) << where.toStdString();
        for (const char *field : {"PRICE_APT", "SUMMAPT", "NACENKA_APT"}) {
            const int c = model->columnOfField(field);
            ASSERT_GE(c, 0) << field;
            const QString text = model->index(0, c).data().toString();
            EXPECT_FALSE(text.isEmpty()) << field;
            EXPECT_GE(lines->columnWidth(c), lines->fontMetrics().horizontalAdvance(text) + 6) << field << " " << text.toStdString();
            if (size.width() >= 1280)
                EXPECT_LE(rightEdge(lines, c), lines->viewport()->width()) << where.toStdString() << " " << field;
        }

        showAt(size, form->ui->tsArchDocuments);
        expectWhole(form->ui->tsArchDocuments, where);

        // Each defecture grid says what it holds.
        form->ui->pcDocum->setCurrentWidget(form->ui->tsDefectures);
        showAt(size, form->ui->tsDefectAndNakl);
        expectWhole(form->ui->tsDefectures, where);
        QStringList titles;
        for (auto [label, grid] : {std::pair<QLabel *, QWidget *>{form->ui->lblDefectTitle, form->ui->dbgDefect},
                                   {form->ui->lblDefectOrderTitle, form->ui->dbgDefectOrder},
                                   {form->ui->lblDefectLinesTitle, form->ui->DefectGrid}}) {
            EXPECT_EQ(label->buddy(), grid);
            EXPECT_TRUE(label->isVisible() && !label->text().isEmpty()) << label->objectName().toStdString();
            EXPECT_LT(label->mapTo(form.get(), QPoint(0, 0)).y(), grid->mapTo(form.get(), QPoint(0, 0)).y());
            titles << label->text();
        }
        titles.removeDuplicates();
        EXPECT_EQ(titles.size(), 3);
        form->ui->pcDocum->setCurrentWidget(form->ui->tsNaklad);
    }
}

// Opens the splitter's handle dragging to a test.
struct DraggedSplitter : QSplitter {
    using QSplitter::moveSplitter;
};

TEST_F(ScreenLayout, InvoiceSplitterSizesAreKept)
{
    form->LoadSettings();
    form->Initialised = true;
    form->ui->pcDocum->setCurrentWidget(form->ui->tsNaklad);
    showAt(QSize(1280, 1024), form->ui->tsDefectAndNakl);
    QSplitter *splitter = form->ui->splNakladLines;
    const int total = splitter->sizes().value(0) + splitter->sizes().value(1);
    static_cast<DraggedSplitter *>(splitter)->moveSplitter(total - 400, 1);
    const QList<int> dragged = splitter->sizes();
    ASSERT_NEAR(dragged.value(1), 400, 10);
    const pc::IniFile client(dir.file("client.ini"));
    EXPECT_EQ(client.readString("Splitters", "splNakladLines"), QString("%1,%2").arg(dragged[0]).arg(dragged[1]));

    form->closeWithoutAsking = true;
    form.reset();
    form = std::make_unique<TMainForm>(dir.path());
    form->setDialogs(&dialogs);
    form->LoadSettings();
    form->Initialised = true;
    form->ui->pcDocum->setCurrentWidget(form->ui->tsNaklad);
    showAt(QSize(1280, 1024), form->ui->tsDefectAndNakl);
    EXPECT_EQ(form->ui->splNakladLines->sizes(), dragged);
}
