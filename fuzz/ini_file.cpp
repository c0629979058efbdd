// libFuzzer target: settings files (client.ini, server.ini, exchange.ini,
// banner.ini), log.ini and history.log as IniFile reads and writes them.
//
// Input: one byte choosing the write, one byte n, n bytes of a value (code
// page 1251), then the file. Every value present is read in every form; then
// the chosen write is made and checked:
// - the value written reads back as written (trimmed, in code page 1251,
//   its line breaks made blanks);
// - every other value reads as before;
// - every other line of the file keeps its bytes and its order.
// A failed check aborts: it is a fault like a crash.
#include "FuzzSupport.h"
#include "platform/CodePage.h"
#include "platform/IniFile.h"

#include <QLocale>

#include <map>

namespace {

using pc::IniFile;

struct Entry {
    QString section, key;
    bool operator<(const Entry &o) const
    {
        const int c = section.compare(o.section, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : key.compare(o.key, Qt::CaseInsensitive) < 0;
    }
};

std::map<Entry, QString> allValues(const IniFile &ini)
{
    std::map<Entry, QString> out;
    for (const QString &s : ini.sections()) {
        if (!ini.sectionExists(s))
            std::abort();
        for (const QString &k : ini.sectionKeys(s)) {
            if (!ini.valueExists(s, k) || !ini.valueExists(s.toUpper(), k.toLower()))
                std::abort();
            const QString v = ini.readString(s, k);
            if (ini.readString(s.toLower(), k.toUpper(), QStringLiteral("\x01")) != v)
                std::abort();
            (void)ini.readInteger(s, k, 7);
            (void)ini.readBool(s, k, true);
            if (!std::isfinite(ini.readFloat(s, k, -1)))
                std::abort();
            out.emplace(Entry{s, k}, v);
        }
    }
    return out;
}

QList<QByteArray> linesOf(QByteArray bytes)
{
    QList<QByteArray> lines = bytes.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    for (QByteArray &l : lines)
        if (l.endsWith('\r'))
            l.chop(1);
    return lines;
}

QByteArray fileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// The key line of `key` as the file holds it, whatever its spacing and case.
bool isKeyLine(const QByteArray &line, const QString &key)
{
    const QString t = pc::fromCp1251(line).trimmed();
    const qsizetype eq = t.indexOf(QLatin1Char('='));
    return eq > 0 && t.left(eq).trimmed().compare(key, Qt::CaseInsensitive) == 0;
}

// `before` minus the lines of `key` is a subsequence of `after`.
bool otherLinesKept(const QList<QByteArray> &before, const QList<QByteArray> &after, const QString &key)
{
    qsizetype j = 0;
    for (const QByteArray &line : before) {
        if (!key.isEmpty() && isKeyLine(line, key))
            continue;
        while (j < after.size() && after[j] != line)
            ++j;
        if (j == after.size())
            return false;
        ++j;
    }
    return true;
}

pc::fuzz::Seeds seeds()
{
    auto seed = [](char op, const QString &value, const QString &file) -> QByteArray {
        const QByteArray v = pc::toCp1251(value);
        return QByteArray(1, op) + QByteArray(1, char(v.size())) + v + pc::toCp1251(file);
    };
    return {
        {QStringLiteral("client"),
         seed(0, QStringLiteral("Аптека №5"),
              QStringLiteral("[Header]\r\nClientName=Аптека\r\nClientCode= 1234 \r\nFTPPassive=1\r\n\r\n"
                             "[Address2]\r\nCode=12\r\nAddress=ул. Мира, 5\r\n[Address7]\r\nCode=7\r\n"
                             "[MaxGVNacen]\r\nMaxNacen1=25,5\r\nMaxNacen2=-1\r\n[Price]\r\nAptekaPercent=150\r\n"))},
        {QStringLiteral("server"),
         seed(1, QStringLiteral("ftp.example"),
              QStringLiteral("[Header]\r\nServerAdress=10.0.0.1\r\nServerPort=2121\r\nSupplierName=ВОРН\r\n"
                             "[ReserveServerAddress1]\r\nServerAdress=host1\r\n"))},
        {QStringLiteral("history"),
         seed(2, QStringLiteral("206,4"),
              QStringLiteral("[07.12.2026 12:00:01]\r\nVersionProgram=2.4.024\r\nDatePrice=07.12.2026 "
                             "08:00:00\r\nSumZakaz=1234,5\r\nClientName=Аптека\r\n[07.12.2026 "
                             "12:05:09]\r\nSumZakaz=10\r\n"))},
        {QStringLiteral("log"),
         seed(3, QStringLiteral("2.4.024"),
              QStringLiteral("; comment\n[header]\nversionprogram = 2.4.023\ndateprice=\nclientname=x\n"))},
        {QStringLiteral("odd"),
         seed(4, QStringLiteral(" a = b "),
              QStringLiteral("[Header\r\n=novalue\r\nkey\r\n[ ]\r\n[Header]\r\nk=1\r\nk=2\r\n[HEADER]\r\nk=3"))},
        {QStringLiteral("exchange"),
         seed(5, QStringLiteral("order.dbf"),
              QStringLiteral("[Order]\r\nDeleteOrderImport=0\r\nFolderOrderImport=/home/apteka\r\nColumnCode=KOD\r\n"
                             "ColumnQnt=KOLVO\r\nFileNameOrder=order.dbf\r\n"))},
    };
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    pc::fuzz::initialize(seeds);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    const char *bytes = reinterpret_cast<const char *>(data);
    const uint8_t op = data[0];
    const size_t valueSize = std::min<size_t>(data[1], size - 2);
    const QString value = pc::fromCp1251(std::string_view(bytes + 2, valueSize));
    const QByteArray file(bytes + 2 + valueSize, qsizetype(size - 2 - valueSize));
    const QString path = pc::fuzz::workFile(QStringLiteral("t.ini"));
    pc::fuzz::writeFile(path, file);

    IniFile ini(path);
    const std::map<Entry, QString> before = allValues(ini);
    const QList<QByteArray> linesBefore = linesOf(file);

    // The section and key written: one present in the file, or one the
    // program writes.
    QString section = QStringLiteral("Header"), key = QStringLiteral("ClientName");
    if (!before.empty() && op % 2 == 1) {
        auto it = before.begin();
        std::advance(it, (op / 2) % before.size());
        section = it->first.section;
        key = it->first.key;
    }
    try {
        switch (op % 8) {
        case 6:
            ini.eraseSection(section);
            if (ini.sectionExists(section))
                std::abort();
            for (const auto &[entry, v] : allValues(ini))
                if (before.at(entry) != v)
                    std::abort();
            return 0;
        case 7:
            ini.deleteKey(section, key);
            return 0;
        default:
            break;
        }
        ini.writeString(section, key, value);
    } catch (const pc::IniError &) {
        return 0; // the file could not be written
    }

    const QString expected = pc::fromCp1251(pc::toCp1251(IniFile::oneLine(value))).trimmed();
    if (ini.readString(section, key) != expected)
        std::abort();
    IniFile again(path);
    const std::map<Entry, QString> after = allValues(again);
    for (const auto &[entry, v] : before) {
        if (entry.section.compare(section, Qt::CaseInsensitive) == 0 && entry.key.compare(key, Qt::CaseInsensitive) == 0)
            continue;
        const auto it = after.find(entry);
        if (it == after.end() || it->second != v)
            std::abort();
    }
    if (!otherLinesKept(linesBefore, linesOf(fileBytes(path)), key))
        std::abort();
    return 0;
}
