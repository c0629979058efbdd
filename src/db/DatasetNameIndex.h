#pragma once
// The upper-cased names of a dataset's stored rows, for the quick search and
// the name filter: one cp1251 byte buffer with an offset per row (row i is
// the dataset's physical row i), and the rows sorted by name for finding the
// names that begin with a text by binary search.
//
// Upper case is taken character by character in cp1251: a character whose
// upper case is another cp1251 character becomes that one, others stay.

#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace pc {

class Dataset;
class Field;

class NameIndex {
public:
    // Indexes the text field of every stored row of the dataset.
    void Build(const Dataset &dataset, const Field &field);
    void Clear();

    qsizetype size() const { return qsizetype(m_offsets.empty() ? 0 : m_offsets.size() - 1); }
    bool isEmpty() const { return size() == 0; }
    QString at(qsizetype row) const; // the upper-cased name of a row
    std::string_view Bytes(int row) const
    {
        return std::string_view(m_bytes.data() + m_offsets[size_t(row)],
                                m_offsets[size_t(row) + 1] - m_offsets[size_t(row)]);
    }

    // The text in cp1251, upper-cased there as names are kept; nothing when
    // a character has no cp1251 form (no name can hold it).
    static bool Key(const QString &text, std::string &key);

    // The first row at or after start whose name begins with key; when there
    // is none, the first such row at all; -1 when no name begins with key.
    // Only rows for which visible() holds count (empty: every row).
    int FindPrefix(std::string_view key, int start, const std::function<bool(int)> &visible = {}) const;

    // Whether a name (cp1251, any case) contains a Key().
    static bool Contains(std::string_view name, std::string_view key);

    size_t MemoryBytes() const { return m_bytes.capacity() + (m_offsets.capacity() + m_sorted.capacity()) * 4; }

private:
    // The positions in m_sorted of the names beginning with key.
    std::pair<size_t, size_t> prefixRange(std::string_view key) const;
    std::string m_bytes;
    std::vector<quint32> m_offsets; // size() + 1 entries
    std::vector<quint32> m_sorted;  // rows by name, then by row
    bool m_inRowOrder = true;       // m_sorted[i] == i
};

bool operator==(const NameIndex &index, const QStringList &names);

} // namespace pc
