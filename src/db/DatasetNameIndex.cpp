#include "db/DatasetNameIndex.h"

#include "db/Dataset.h"
#include "platform/CodePage.h"

#include <algorithm>
#include <array>

namespace pc {

namespace {

// cp1251 byte -> the byte of its upper case.
const std::array<unsigned char, 256> &upperTable()
{
    static const std::array<unsigned char, 256> table = [] {
        std::array<unsigned char, 256> t{};
        for (int b = 0; b < 256; ++b) {
            t[size_t(b)] = static_cast<unsigned char>(b);
            const char byte = char(b);
            const QString upper = fromCp1251(std::string_view(&byte, 1)).toUpper();
            const QByteArray back = toCp1251(upper);
            if (back.size() == 1 && fromCp1251(std::string_view(back.constData(), 1)) == upper)
                t[size_t(b)] = static_cast<unsigned char>(back.at(0));
        }
        return t;
    }();
    return table;
}

} // namespace

void NameIndex::Clear()
{
    m_bytes = std::string();
    m_offsets = std::vector<quint32>();
    m_sorted = std::vector<quint32>();
    m_inRowOrder = true;
}

void NameIndex::Build(const Dataset &dataset, const Field &field)
{
    Clear();
    const int rows = dataset.PhysicalRowCount();
    const auto &upper = upperTable();
    size_t total = 0;
    for (int r = 0; r < rows; ++r)
        total += dataset.StoredText(field, r).size();
    m_bytes.resize(total);
    m_offsets.resize(size_t(rows) + 1);
    size_t at = 0;
    for (int r = 0; r < rows; ++r) {
        m_offsets[size_t(r)] = quint32(at);
        for (char c : dataset.StoredText(field, r))
            m_bytes[at++] = char(upper[static_cast<unsigned char>(c)]);
    }
    m_offsets[size_t(rows)] = quint32(at);

    m_sorted.resize(size_t(rows));
    for (int r = 0; r < rows; ++r)
        m_sorted[size_t(r)] = quint32(r);
    auto less = [this](quint32 a, quint32 b) {
        const int c = Bytes(int(a)).compare(Bytes(int(b)));
        return c < 0 || (c == 0 && a < b);
    };
    // Rows read in name order are mostly sorted already.
    m_inRowOrder = std::is_sorted(m_sorted.begin(), m_sorted.end(), less);
    if (!m_inRowOrder)
        std::sort(m_sorted.begin(), m_sorted.end(), less);
}

QString NameIndex::at(qsizetype row) const
{
    if (row < 0 || row >= size())
        return QString();
    return fromCp1251(Bytes(int(row)));
}

bool NameIndex::Key(const QString &text, std::string &key)
{
    // The text goes into the list's code page first and is upper-cased
    // there, as the names are: a character whose Unicode upper case cp1251
    // lacks ("µ" has "Μ") stays as it is and still finds its names.
    const QByteArray bytes = toCp1251(text);
    if (fromCp1251(std::string_view(bytes.constData(), size_t(bytes.size()))) != text)
        return false;
    const auto &table = upperTable();
    key.resize(size_t(bytes.size()));
    for (qsizetype i = 0; i < bytes.size(); ++i)
        key[size_t(i)] = char(table[static_cast<unsigned char>(bytes.at(i))]);
    return true;
}

bool NameIndex::Contains(std::string_view name, std::string_view key)
{
    if (key.empty())
        return true;
    if (name.size() < key.size())
        return false;
    const auto &upper = upperTable();
    const unsigned char first = static_cast<unsigned char>(key[0]);
    const size_t last = name.size() - key.size();
    for (size_t i = 0; i <= last; ++i) {
        if (upper[static_cast<unsigned char>(name[i])] != first)
            continue;
        size_t k = 1;
        while (k < key.size() && upper[static_cast<unsigned char>(name[i + k])] == static_cast<unsigned char>(key[k]))
            ++k;
        if (k == key.size())
            return true;
    }
    return false;
}

std::pair<size_t, size_t> NameIndex::prefixRange(std::string_view key) const
{
    // Names beginning with key sort together, right at or after key itself.
    const auto begin = std::lower_bound(m_sorted.begin(), m_sorted.end(), key,
                                        [this](quint32 row, std::string_view k) { return Bytes(int(row)) < k; });
    const auto end = std::partition_point(begin, m_sorted.end(),
                                          [this, key](quint32 row) { return Bytes(int(row)).starts_with(key); });
    return {size_t(begin - m_sorted.begin()), size_t(end - m_sorted.begin())};
}

int NameIndex::FindPrefix(std::string_view key, int start, const std::function<bool(int)> &visible) const
{
    const auto [from, to] = prefixRange(key);
    auto shown = [&visible](int row) { return !visible || visible(row); };
    if (m_inRowOrder) {
        // The matching rows are the range itself, in row order.
        const size_t split = std::clamp(size_t(std::max(start, 0)), from, to);
        for (size_t k = split; k < to; ++k)
            if (shown(int(k)))
                return int(k);
        for (size_t k = from; k < split; ++k)
            if (shown(int(k)))
                return int(k);
        return -1;
    }
    int atOrAfter = -1, first = -1;
    for (size_t k = from; k < to; ++k) {
        const int row = int(m_sorted[k]);
        if (!shown(row))
            continue;
        if (first < 0 || row < first)
            first = row;
        if (row >= start && (atOrAfter < 0 || row < atOrAfter))
            atOrAfter = row;
    }
    return atOrAfter >= 0 ? atOrAfter : first;
}

bool operator==(const NameIndex &index, const QStringList &names)
{
    if (index.size() != names.size())
        return false;
    for (qsizetype i = 0; i < names.size(); ++i)
        if (index.at(i) != names.at(i))
            return false;
    return true;
}

} // namespace pc
