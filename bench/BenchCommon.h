#pragma once
// Shared by the benchmark programs: price-shaped rows, the engine's floor
// (a bare prepared insert and a bare fetch of the same rows) measured in the
// same run, CPU times, medians and percentiles.

#include "db/TableDefs.h"
#include "db/firebird/Statement.h"
#include "db/firebird/Transaction.h"

#include <QDate>
#include <QString>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace bench {

// CPU time of the whole process (the embedded engine works in our threads).
inline double cpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

inline double wallSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

inline double percentile(std::vector<double> v, double p)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t i = std::min(v.size() - 1, size_t(p * double(v.size() - 1) + 0.5));
    return v[i];
}
inline double median(const std::vector<double> &v) { return percentile(v, 0.5); }

// Row i of a synthetic price list: names of several first letters, so that
// the list is spread over the alphabet like a supplier's.
inline QString priceName(int i)
{
    static const QString names[] = {
        QStringLiteral("Парацетамол табл. 500мг №"), QStringLiteral("Аспирин кардио табл. п/о 100мг №"),
        QStringLiteral("Но-шпа форте табл. 80мг №"),  QStringLiteral("Витамин С драже 50мг №"),
        QStringLiteral("Бинт стерильный 7х14 №"),     QStringLiteral("Эналаприл табл. 10мг №"),
        QStringLiteral("Лоратадин табл. 10мг №"),     QStringLiteral("Ибупрофен капс. 200мг №"),
        QStringLiteral("Фурацилин табл. 20мг №"),     QStringLiteral("Цитрамон П табл. №"),
        QStringLiteral("Корвалол капли 25мл №"),      QStringLiteral("Мезим форте табл. №"),
        QStringLiteral("Zinc Vit_C 100% шип. №"),     QStringLiteral("Яд змеиный мазь 30г №")};
    return names[(i * 5) % 14] + QString::number(i); // 5 and 14 share no factor: every name comes round
}

inline QString priceId(int i) { return QStringLiteral("T%1").arg(i, 8, 10, QLatin1Char('0')); }

inline QString priceInsertSql() { return pc::BuildInsertSQL(pc::BuildTableDefs(pc::DriverFirebird)[pc::TdPrice]); }

struct PriceInsert {
    std::unique_ptr<pc::fb::Statement> owned;
    pc::fb::Statement &st;
    std::vector<int> col;
    explicit PriceInsert(pc::fb::Transaction &tr) : PriceInsert(prepared(tr)) {}
    // st: prepared with priceInsertSql().
    explicit PriceInsert(std::unique_ptr<pc::fb::Statement> prepared) : owned(std::move(prepared)), st(*owned)
    {
        for (const char *name : {"IDTOVAR", "TOVAR", "PRICE", "PRODUCT", "COUNTRY", "PRICER", "GODEN", "QNT", "QNTPACK",
                                 "NDS", "MINZAKAZ", "MINPROD", "COLOR", "HASDET", "HASPOPUP", "GV", "ZAKAZ", "REGUDEXIST"})
            col.push_back(st.paramIndex(QLatin1String(name)));
    }
    static std::unique_ptr<pc::fb::Statement> prepared(pc::fb::Transaction &tr)
    {
        auto st = std::make_unique<pc::fb::Statement>(tr);
        st->prepare(priceInsertSql());
        return st;
    }
    // Raw bytes of the values bound: numbers at their width, texts at their length.
    // day shifts the price as a supplier's next list would.
    qint64 bind(int i, int zakaz = 0, int day = 0)
    {
        const QString id = priceId(i), name = priceName(i);
        const QString product = QStringLiteral("Фармстандарт-Лексредства ОАО"), country = QStringLiteral("Россия");
        const QString regud = i % 4 ? QStringLiteral("ЛС-001234/10") : QString();
        st.setText(col[0], id);
        st.setText(col[1], name);
        st.setDouble(col[2], 10.0 + ((i + day) % 9973) * 0.37);
        st.setText(col[3], product);
        st.setText(col[4], country);
        st.setDouble(col[5], 12.5 + (i % 101));
        st.setDate(col[6], QDate(2027, 1, 1).addDays(i % 900));
        st.setInt(col[7], 100 + i % 500);
        st.setInt(col[8], 10);
        st.setInt(col[9], 10);
        st.setInt(col[10], 1);
        st.setInt(col[11], 1);
        st.setInt(col[12], i % 5);
        st.setInt(col[13], i % 2);
        st.setInt(col[14], i % 3 == 0);
        st.setInt(col[15], i % 7 == 0);
        st.setInt(col[16], zakaz);
        st.setText(col[17], regud);
        return id.size() + name.size() + product.size() + country.size() + regud.size() + 2 * 8 + 4 + 7 * 4 + 3 * 2;
    }
};

// Fills PRICE with n rows (not committed); returns their raw bytes.
inline qint64 fillPrice(PriceInsert &ins, int n)
{
    qint64 raw = 0;
    for (int i = 0; i < n; ++i) {
        raw += ins.bind(i);
        ins.st.execute();
    }
    return raw;
}

// Fetches every row of an executed select, touching each value as a load
// would; returns the number of rows.
inline qint64 touchAllRows(pc::fb::Statement &st)
{
    qint64 rows = 0;
    double sum = 0;
    size_t bytes = 0;
    const int columns = st.columnCount();
    while (st.fetch()) {
        ++rows;
        for (int c = 0; c < columns; ++c) {
            switch (st.column(c).kind) {
            case pc::fb::ColumnKind::VarChar:
            case pc::fb::ColumnKind::Char: bytes += st.rawText(c).size(); break;
            case pc::fb::ColumnKind::Double: sum += st.asDouble(c); break;
            case pc::fb::ColumnKind::Date: sum += double(st.asDate(c).toJulianDay()); break;
            default: sum += double(st.asInt64(c)); break;
            }
        }
    }
    // Keeps the reads from being optimised away.
    if (sum < 0 || bytes == 1)
        std::puts("");
    return rows;
}

// Every stored column of PRICE set from its named parameter, for the row at
// the place :DBKEY.
inline QString priceRewriteSql()
{
    QStringList set;
    const auto defs = pc::BuildTableDefs(pc::DriverFirebird);
    for (const pc::FieldDefEntry &e : defs[pc::TdPrice].Entries())
        if (!e.Calculated)
            set << e.Name + QStringLiteral(" = :") + e.Name;
    return QStringLiteral("UPDATE PRICE SET ") + set.join(QStringLiteral(", ")) + QStringLiteral(" WHERE RDB$DB_KEY = :DBKEY");
}

inline QString bareFetchSql() { return QStringLiteral("SELECT * FROM PRICE ORDER BY TOVAR"); }

// CPU seconds of one run of f.
inline double cpuOf(const std::function<void()> &f)
{
    const double t = cpuSeconds();
    f();
    return cpuSeconds() - t;
}

} // namespace bench
