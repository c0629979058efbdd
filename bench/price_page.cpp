// The price page as the pharmacist meets it: the real main window, offscreen,
// 1280 x 900, on the order page with a generated price list.
//
//   key_in_grid     per key typed in the grid (letters of the quick search,
//                   Down/Up/PageDown/PageUp): the handling of the key and the
//                   repaint after it, the repaint against a plain QTableView
//                   over prepared strings for the same visible cells, moved
//                   the same way, in the same run;
//   name_filter     texts typed into "Фильтр:" until the grid shows the
//                   result, set and cleared, and the current goods row kept;
//   memory          the resident memory the rows add to the started program
//                   (a fresh process on the filled folder against one on the
//                   same folder with an empty price list), against the rows'
//                   raw bytes.
//
// Times are the main thread's CPU time: the machine is shared, and the work
// measured all runs on that thread. With BENCH_DETAIL set in the environment
// the repaint is also printed per kind of key (0: the letters).
#include "BenchClient.h"

#include "app/MainForm.h"
#include "db/DatasetNameIndex.h"
#include "ui/DatasetModel.h"
#include "ui_MainForm.h"

#include <QAbstractTableModel>
#include <QFile>
#include <QHeaderView>
#include <QLineEdit>
#include <QRandomGenerator>
#include <QScrollBar>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>
#include <malloc.h>
#include <unistd.h>

namespace {

double threadSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

void settle()
{
    for (int i = 0; i < 3; ++i)
        QApplication::processEvents();
}

// One goods item in fifty has a detail (and one in a hundred a pop-up note).
constexpr int kDetailEvery = 50;

void fillDetails(pc::TDM &dm, int rows)
{
    std::unique_ptr<pc::fb::Statement> q = dm.CreateQuery(
        QStringLiteral("INSERT INTO PRICE_DET (IDTOVAR, POPUP, INFO, ISREF) VALUES (:IDTOVAR, :POPUP, :INFO, 0)"));
    for (int i = 0; i < rows; i += kDetailEvery) {
        q->setValue(QStringLiteral("IDTOVAR"), bench::priceId(i));
        q->setValue(QStringLiteral("POPUP"), QStringLiteral("Акция: скидка 5 % до конца месяца"));
        q->setValue(QStringLiteral("INFO"), QStringLiteral("Хранить при температуре не выше 25 °C. Отпуск без рецепта."));
        q->execute();
    }
}

// The program's folder with the window on it.
struct Page {
    TempAppDir dir;
    ScriptedDialogs dialogs;
    std::unique_ptr<TMainForm> form;
    int rows = 0;
    qint64 raw = 0;

    // rows 0: the price list stays empty.
    explicit Page(int rowCount) : rows(rowCount)
    {
        QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
        form = std::make_unique<TMainForm>(dir.path());
        start(*form, dialogs);
        if (rows > 0) {
            {
                bench::PriceInsert ins(form->DM->CreateQuery(bench::priceInsertSql()));
                raw = bench::fillPrice(ins, rows);
            }
            fillDetails(*form->DM, rows);
            form->DM->Commit();
            form->DM->PriceDetTable()->Close();
            form->DM->PriceDetTable()->Open();
            form->DM->OpenPrice(false);
            form->DM->OpenPrice(true);
        }
        showOrderPage(*form);
    }
    ~Page()
    {
        if (form)
            form->closeWithoutAsking = true;
        form.reset();
    }
    // Started as the program starts: shown, activated (the settings loaded,
    // the price list opened; an old price list is not updated now).
    static void start(TMainForm &form, ScriptedDialogs &dialogs)
    {
        for (int i = 0; i < 4; ++i)
            dialogs.setNextAnswer(7);
        form.setDialogs(&dialogs);
        form.resize(1280, 900);
        form.show();
        QApplication::setActiveWindow(&form);
        settle();
        if (!form.Initialised)
            form.LoadSettings();
    }
    static void showOrderPage(TMainForm &form)
    {
        form.ui->pgcMain->setCurrentWidget(form.ui->tsOrder);
        form.ui->dbgrdPrice->setFocus();
        settle();
    }
    QTableView *grid() const { return form->ui->dbgrdPrice; }
    pc::Dataset &price() const { return *form->DM->PriceSet(); }
};

std::unique_ptr<Page> &pageSlot()
{
    static std::unique_ptr<Page> page;
    return page;
}

Page &sharedPage(int rows)
{
    std::unique_ptr<Page> &page = pageSlot();
    if (!page || page->rows != rows) {
        page.reset();
        page = std::make_unique<Page>(rows);
    }
    return *page;
}

// The anchor: a plain table over strings prepared beforehand. Row r shows the
// prepared row r modulo the page taken, so every visible cell has a text of
// the real grid's kind.
class PreparedModel : public QAbstractTableModel {
public:
    PreparedModel(const QAbstractItemModel &from, int rows, int firstRow, int pageRows) : m_rows(rows)
    {
        m_columns = from.columnCount();
        for (int c = 0; c < m_columns; ++c) {
            m_titles.push_back(from.headerData(c, Qt::Horizontal).toString());
            m_align.push_back(from.data(from.index(firstRow, c), Qt::TextAlignmentRole));
        }
        for (int r = firstRow; r < firstRow + pageRows && r < from.rowCount(); ++r)
            for (int c = 0; c < m_columns; ++c)
                m_texts.push_back(from.data(from.index(r, c)).toString());
        m_page = int(m_texts.size()) / std::max(1, m_columns);
    }
    int rowCount(const QModelIndex &p = {}) const override { return p.isValid() ? 0 : m_rows; }
    int columnCount(const QModelIndex &p = {}) const override { return p.isValid() ? 0 : m_columns; }
    QVariant data(const QModelIndex &i, int role) const override
    {
        if (role == Qt::DisplayRole && m_page > 0)
            return m_texts[size_t((i.row() % m_page) * m_columns + i.column())];
        if (role == Qt::TextAlignmentRole)
            return m_align[size_t(i.column())];
        return QVariant();
    }
    QVariant headerData(int s, Qt::Orientation o, int role) const override
    {
        if (o == Qt::Horizontal && role == Qt::DisplayRole)
            return m_titles[size_t(s)];
        return QAbstractTableModel::headerData(s, o, role);
    }

private:
    int m_rows, m_columns = 0, m_page = 0;
    std::vector<QString> m_titles, m_texts;
    std::vector<QVariant> m_align;
};

struct Anchor {
    std::unique_ptr<PreparedModel> model;
    QTableView view;
    explicit Anchor(QTableView &grid)
    {
        const int page = grid.viewport()->height() / std::max(1, grid.verticalHeader()->defaultSectionSize()) + 2;
        model = std::make_unique<PreparedModel>(*grid.model(), grid.model()->rowCount(), 0, page);
        view.setModel(model.get());
        view.setFont(grid.font());
        view.horizontalHeader()->setFont(grid.horizontalHeader()->font());
        view.verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
        view.verticalHeader()->setDefaultSectionSize(grid.verticalHeader()->defaultSectionSize());
        view.verticalHeader()->setVisible(grid.verticalHeader()->isVisible());
        view.setSelectionBehavior(QAbstractItemView::SelectRows);
        for (int c = 0; c < model->columnCount(); ++c) {
            view.setColumnHidden(c, grid.isColumnHidden(c));
            view.setColumnWidth(c, grid.columnWidth(c));
        }
        view.resize(grid.size());
        view.show();
        settle();
    }
    // Puts the plain table where the grid is and times its repaint.
    double follow(QTableView &grid)
    {
        const QModelIndex current = grid.currentIndex();
        view.setCurrentIndex(model->index(std::max(0, current.row()), std::max(0, current.column())));
        view.verticalScrollBar()->setValue(grid.verticalScrollBar()->value());
        const double t = threadSeconds();
        QApplication::processEvents();
        return threadSeconds() - t;
    }
};

// A key typed into the grid: press and release as the window system sends them.
void sendKey(QWidget *w, Qt::Key key, const QString &text)
{
    QTest::sendKeyEvent(QTest::Press, w, key, text, Qt::NoModifier);
    QTest::sendKeyEvent(QTest::Release, w, key, text, Qt::NoModifier);
}

struct KeyStroke {
    Qt::Key key;
    QString text;
};

// A session of a pharmacist: names typed by their first letters, moves down
// and up the list, pages through it.
std::vector<KeyStroke> session(int rows, int words, QRandomGenerator &random)
{
    std::vector<KeyStroke> keys;
    for (int w = 0; w < words; ++w) {
        const QString name = bench::priceName(int(random.bounded(rows)));
        const int letters = 1 + int(random.bounded(6));
        for (int k = 0; k < letters && k < name.size(); ++k) {
            const QChar c = name.at(k);
            if (pc::IsQuickSearchLetter(c))
                keys.push_back({Qt::Key(c.toUpper().unicode()), QString(c)});
        }
        for (int d = 0, n = int(random.bounded(8)); d < n; ++d)
            keys.push_back({Qt::Key_Down, QString()});
        if (w % 3 == 0)
            keys.push_back({Qt::Key_PageDown, QString()});
        if (w % 4 == 0)
            keys.push_back({Qt::Key_Up, QString()});
        if (w % 5 == 0)
            keys.push_back({Qt::Key_PageUp, QString()});
    }
    return keys;
}

void keyInGrid(benchmark::State &state, int rows, int pairs)
{
    Page &page = sharedPage(rows);
    QTableView *grid = page.grid();
    Anchor anchor(*grid);
    QRandomGenerator random(11);
    // BENCH_SHOT=<file.png>: the window as the keys begin, to look at.
    if (const QString shot = qEnvironmentVariable("BENCH_SHOT"); !shot.isEmpty()) {
        page.price().SetRecNo(3);
        settle();
        page.form->grab().save(shot);
    }
    for (auto _ : state) {
        std::vector<double> handling, repaint, anchorRepaint;
        std::map<int, std::vector<double>> byKey; // repaint per kind of key, shown with BENCH_DETAIL set
        for (int p = 0; p < pairs; ++p) {
            for (const KeyStroke &k : session(rows, 60, random)) {
                const double t0 = threadSeconds();
                sendKey(grid, k.key, k.text);
                const double t1 = threadSeconds();
                QApplication::processEvents();
                const double t2 = threadSeconds();
                handling.push_back(t1 - t0);
                repaint.push_back(t2 - t1);
                byKey[k.text.isEmpty() ? int(k.key) : 0].push_back(t2 - t1);
                anchorRepaint.push_back(anchor.follow(*grid));
            }
        }
        if (qEnvironmentVariableIsSet("BENCH_DETAIL"))
            for (const auto &[key, times] : byKey)
                std::fprintf(stderr, "key %x: %zu keys, repaint median %.3f ms, p99 %.3f ms\n", key, times.size(),
                             bench::median(times) * 1000, bench::percentile(times, 0.99) * 1000);
        if (page.price().CurrentRow() != grid->currentIndex().row()) {
            state.SkipWithError("the grid and the price list stand on different rows");
            return;
        }
        bench::report(state, rows, "repaint_after_key_median", bench::median(repaint), "plain_table_repaint_median",
                      bench::median(anchorRepaint));
        bench::reportRatio(state, rows, "repaint_after_key_p99",
                           bench::percentile(repaint, 0.99) / bench::percentile(anchorRepaint, 0.99),
                           "plain_table_repaint_p99");
        bench::reportValue(state, rows, "repaint_after_key_p99", bench::percentile(repaint, 0.99) * 1000, "ms");
        bench::reportValue(state, rows, "key_handling_median", bench::median(handling) * 1000, "ms");
        bench::reportValue(state, rows, "key_handling_p99", bench::percentile(handling, 0.99) * 1000, "ms");
        bench::reportValue(state, rows, "key_handling_worst", bench::percentile(handling, 1.0) * 1000, "ms");
        bench::reportValue(state, rows, "keys", double(handling.size()), "count");
    }
}

// The goods row the grid stands on.
QString currentId(Page &page)
{
    return page.price().IsEmpty() ? QString() : page.price().FieldByName(QStringLiteral("IDTOVAR")).AsString();
}

void nameFilter(benchmark::State &state, int rows, int pairs)
{
    Page &page = sharedPage(rows);
    QLineEdit *edit = page.form->ui->edPriceFilter;
    // Texts with many rows, few rows and none.
    const QStringList texts = {QStringLiteral("мг №20"), QStringLiteral("бинт"), QStringLiteral("табл"),
                               QStringLiteral("7х14 №1"), QStringLiteral("№99"), QStringLiteral("аспирин")};
    for (auto _ : state) {
        std::vector<double> set, cleared;
        bool kept = true;
        for (int p = 0; p < pairs; ++p) {
            for (const QString &text : texts) {
                page.price().SetRecNo(1 + (rows / 3 + p * 7) % rows);
                settle();
                double t = threadSeconds();
                edit->setText(text);
                QApplication::processEvents();
                set.push_back(threadSeconds() - t);
                // The pharmacist picks a row of the result, then clears the filter.
                page.price().SetRecNo(std::max(1, page.price().RecordCount() / 2));
                settle();
                const QString before = currentId(page);
                t = threadSeconds();
                edit->clear();
                QApplication::processEvents();
                cleared.push_back(threadSeconds() - t);
                kept = kept && (before.isEmpty() || currentId(page) == before);
                if (qEnvironmentVariableIsSet("BENCH_DETAIL") && !before.isEmpty() && currentId(page) != before)
                    std::fprintf(stderr, "filter «%s»: on %s before clearing, on %s after\n", qPrintable(text), qPrintable(before), qPrintable(currentId(page)));
            }
        }
        if (page.price().RecordCount() != rows || !page.grid()->isVisible()) {
            state.SkipWithError("the list lost rows");
            return;
        }
        state.SetIterationTime(bench::percentile(set, 1.0));
        bench::reportValue(state, rows, "name_filter_set_median", bench::median(set) * 1000, "ms");
        bench::reportValue(state, rows, "name_filter_set_worst", bench::percentile(set, 1.0) * 1000, "ms");
        bench::reportValue(state, rows, "name_filter_cleared_median", bench::median(cleared) * 1000, "ms");
        bench::reportValue(state, rows, "name_filter_cleared_worst", bench::percentile(cleared, 1.0) * 1000, "ms");
        bench::reportValue(state, rows, "current_row_kept_after_clearing", kept ? 1 : 0, "bool");
    }
}

// ---- memory -----------------------------------------------------------------

// The measuring process: the program started on folder, the order page shown,
// paged through and filtered once. Writes "rss <MB>", "storage <MB>",
// "index <MB>" to out.
int measure(const QString &folder, const QString &out)
{
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    ScriptedDialogs dialogs;
    double storage = 0, index = 0;
    auto form = std::make_unique<TMainForm>(folder);
    // Stages for the person reading BENCH_DETAIL: the resident and heap
    // memory after the start and after the order page was shown.
    auto stage = [](const char *what) {
        if (!qEnvironmentVariableIsSet("BENCH_DETAIL"))
            return;
        malloc_trim(0);
        const struct mallinfo2 heap = mallinfo2();
        std::fprintf(stderr, "%s: rss %.2f MB, heap %.2f MB\n", what, bench::statusMB("VmRSS:"),
                     double(heap.uordblks + heap.hblkhd) / 1048576.0);
    };
    Page::start(*form, dialogs);
    stage("started");
    Page::showOrderPage(*form);
    stage("order page shown");
    QTableView *grid = form->ui->dbgrdPrice;
    for (int i = 0; i < 20; ++i) {
        sendKey(grid, Qt::Key_PageDown, QString());
        settle();
    }
    form->ui->edPriceFilter->setText(QStringLiteral("аспирин"));
    settle();
    form->ui->edPriceFilter->clear();
    settle();
    if (pc::Dataset *p = form->DM->PriceSet())
        storage = double(p->StorageBytes()) / 1048576.0;
    index = double(form->DM->NameIndex().MemoryBytes()) / 1048576.0;
    malloc_trim(0);
    const double rss = bench::statusMB("VmRSS:");
    // What the C heap holds (Qt, the program) as against the rest (the code,
    // the database engine's own pools).
    const struct mallinfo2 heap = mallinfo2();
    const double heapMB = double(heap.uordblks + heap.hblkhd) / 1048576.0;
    QFile file(out);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return 1;
    QTextStream s(&file);
    s << "rss " << rss << "\nheap " << heapMB << "\nstorage " << storage << "\nindex " << index << '\n';
    s.flush();
    form->closeWithoutAsking = true;
    form.reset();
    return file.error() == QFileDevice::NoError ? 0 : 1;
}

int spawnMeasure(const QString &folder, const QString &out)
{
    return bench::runSelf({"--measure=" + QFile::encodeName(folder), "--out=" + QFile::encodeName(out)});
}

std::map<QByteArray, double> readMeasured(const QString &path)
{
    std::map<QByteArray, double> values;
    QFile file(path);
    if (file.open(QIODevice::ReadOnly))
        for (const QByteArray &line : file.readAll().split('\n'))
            if (const QList<QByteArray> f = line.split(' '); f.size() == 2)
                values[f[0]] = f[1].toDouble();
    return values;
}

void memory(benchmark::State &state, int rows, int /*pairs*/)
{
    pageSlot().reset(); // one attachment per database file: the measuring processes open them
    for (auto _ : state) {
        QTemporaryDir results;
        const QString emptyOut = results.filePath(QStringLiteral("empty.txt")), fullOut = results.filePath(QStringLiteral("full.txt"));
        qint64 raw = 0;
        // The two folders are made one after the other, each window closed
        // (and its database detached) before the next.
        auto makeFolder = [](int n, qint64 *raw) {
            auto page = std::make_unique<Page>(n);
            if (raw)
                *raw = page->raw;
            page->form->closeWithoutAsking = true;
            page->form.reset();
            return page;
        };
        const std::unique_ptr<Page> empty = makeFolder(0, nullptr), full = makeFolder(rows, &raw);
        if (spawnMeasure(empty->dir.path(), emptyOut) != 0 || spawnMeasure(full->dir.path(), fullOut) != 0) {
            state.SkipWithError("a measuring process failed");
            return;
        }
        auto e = readMeasured(emptyOut), f = readMeasured(fullOut);
        if (!e.count("rss") || !f.count("rss")) {
            state.SkipWithError("a measuring process wrote nothing");
            return;
        }
        const double rawMB = double(raw) / 1048576.0, added = f["rss"] - e["rss"];
        state.SetIterationTime(1e-3);
        bench::reportValue(state, rows, "rss_program_empty", e["rss"], "MB");
        bench::reportValue(state, rows, "rss_program_with_list", f["rss"], "MB");
        bench::reportValue(state, rows, "raw_values", rawMB, "MB");
        bench::reportValue(state, rows, "rss_added_by_rows", added, "MB");
        bench::reportValue(state, rows, "heap_added_by_rows", f["heap"] - e["heap"], "MB");
        bench::reportValue(state, rows, "dataset_storage_and_name_index", f["storage"] + f["index"], "MB");
        bench::reportRatio(state, rows, "rss_added_by_rows", added / rawMB, "raw");
        bench::reportRatio(state, rows, "dataset_storage_and_name_index", (f["storage"] + f["index"]) / rawMB, "raw");
    }
}

} // namespace

int main(int argc, char **argv)
{
    const QByteArray folder = bench::option(argc, argv, "--measure=");
    if (!folder.isEmpty()) {
        bench::BenchProcess process(argc, argv);
        return measure(QFile::decodeName(folder), QFile::decodeName(bench::option(argc, argv, "--out=")));
    }
    // The page must go before the application object.
    return bench::runForRowCounts(argc, argv, {{"key_in_grid", keyInGrid}, {"name_filter", nameFilter}, {"memory", memory}},
                                  3, [] { pageSlot().reset(); });
}
