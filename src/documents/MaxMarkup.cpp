#include "documents/MaxMarkup.h"

#include "core/Dialogs.h"
#include "platform/IniFile.h"

#include <QLocale>
#include <cmath>

QStringList maxMarkupRowKeys()
{
    return {QStringLiteral("До 50 р."), QStringLiteral("От 50 р. до 500 р."), QStringLiteral("Выше 500 р.")};
}

bool parseLocaleNumber(const QString &text, double &value)
{
    bool ok = false;
    const double v = QLocale().toDouble(text.trimmed(), &ok);
    if (!ok || !std::isfinite(v))
        return false;
    value = v;
    return true;
}

QString markupCellText(double stored)
{
    const QString text = pc::IniFile::floatToText(stored);
    return text == QStringLiteral("-1") ? QString() : text;
}

bool ValidateMaxMarkupTable(const QList<MarkupRow> &rows, std::vector<double> &table, Dialogs &dialogs)
{
    table.resize(size_t(rows.size()), -1.0);
    bool result = true;
    for (qsizetype r = 0; r < rows.size(); ++r) {
        const QString value = rows[r].value.trimmed();
        if (value.isEmpty())
            return false;
        double v = 0;
        if (parseLocaleNumber(value, v)) {
            table[size_t(r)] = v;
            continue;
        }
        table[size_t(r)] = -1;
        const QString q = QStringLiteral("\"");
        dialogs.showNotice(QStringLiteral("В строке ") + q + rows[r].key + q
                               + QStringLiteral(" максимальных наценок неверно указан процент ") + q + value + q
                               + QStringLiteral(".\r\nДробные числа должны быть указаны через ") + q
                               + QLocale().decimalPoint() + q,
                           true);
        result = false;
    }
    return result;
}
