#include "platform/IniFile.h"

#include "platform/CodePage.h"
#include "platform/FixedFormats.h"
#include "platform/WholeFile.h"

#include <QFile>
#include <QFileInfo>
#include <QDir>

#include <algorithm>
#include <cmath>
#include <limits>
#include <sys/stat.h>

namespace pc {

namespace {
bool sameName(const QString &a, const QString &b) { return a.compare(b, Qt::CaseInsensitive) == 0; }
} // namespace

QString IniFile::oneLine(QString text)
{
    text.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    text.replace(QLatin1Char('\r'), QLatin1Char(' '));
    text.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return text;
}

IniFile::IniFile(QString fileName) : m_fileName(std::move(fileName)) {}

IniFile::Stamp IniFile::stampOf(const QString &fileName)
{
    struct stat st {};
    if (::stat(QFile::encodeName(fileName).constData(), &st) != 0)
        return Stamp{-1, -1, -1};
    return Stamp{qint64(st.st_ino), qint64(st.st_size),
                 qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

void IniFile::load() const
{
    if (m_pending)
        return; // the batch's image is ahead of the file and stays what is read
    const Stamp stamp = stampOf(m_fileName);
    if (stamp == m_stamp)
        return;
    m_lines.clear();
    m_stamp = stamp;
    if (stamp.size < 0)
        return;
    QFile f(m_fileName);
    if (!f.open(QIODevice::ReadOnly))
        return; // unreadable reads as empty: every value takes its default
    const QByteArray data = f.readAll();
    const QString text = fromCp1251(data);
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = text.indexOf(QLatin1Char('\n'), start);
        if (end < 0)
            end = text.size();
        QString lineText = text.mid(start, end - start);
        if (lineText.endsWith(QLatin1Char('\r')))
            lineText.chop(1);
        Line line;
        line.text = lineText;
        const QString t = lineText.trimmed();
        if (t.startsWith(QLatin1Char('['))) {
            const qsizetype close = t.indexOf(QLatin1Char(']'));
            line.isSection = true;
            line.section = (close > 0 ? t.mid(1, close - 1) : t.mid(1)).trimmed();
        } else if (!t.startsWith(QLatin1Char(';'))) {
            const qsizetype eq = t.indexOf(QLatin1Char('='));
            if (eq > 0) {
                line.isKey = true;
                line.key = t.left(eq).trimmed();
            }
        }
        m_lines.push_back(std::move(line));
        start = end + 1;
    }
}

void IniFile::beginBatch()
{
    m_batch = true;
}

void IniFile::commit()
{
    m_batch = false;
    if (!m_pending)
        return;
    m_pending = false;
    save();
}

QByteArray IniFile::image() const
{
    load(); // nothing is re-read while a batch has changes
    return linesImage();
}

QByteArray IniFile::linesImage() const
{
    QByteArray out;
    for (const Line &l : m_lines) {
        out += toCp1251(l.text);
        out += "\r\n";
    }
    return out;
}

void IniFile::save()
{
    if (m_batch) {
        m_pending = true;
        return;
    }
    const QByteArray out = linesImage();
    const QFileInfo fi(m_fileName);
    if (!fi.dir().exists())
        QDir().mkpath(fi.absolutePath());
    try {
        writeWholeFile(m_fileName, out);
    } catch (const AppError &) {
        m_stamp = Stamp(); // re-read at the next look: the file kept what it had
        throw;
    }
    m_stamp = stampOf(m_fileName);
}

int IniFile::findSection(const QString &section) const
{
    for (size_t i = 0; i < m_lines.size(); ++i)
        if (m_lines[i].isSection && sameName(m_lines[i].section, section))
            return int(i);
    return -1;
}

int IniFile::sectionEnd(int sectionLine) const
{
    size_t i = size_t(sectionLine) + 1;
    while (i < m_lines.size() && !m_lines[i].isSection)
        ++i;
    return int(i);
}

int IniFile::findKey(int sectionLine, const QString &key) const
{
    const int end = sectionEnd(sectionLine);
    for (int i = sectionLine + 1; i < end; ++i)
        if (m_lines[size_t(i)].isKey && sameName(m_lines[size_t(i)].key, key))
            return i;
    return -1;
}

QString IniFile::readString(const QString &section, const QString &key, const QString &def) const
{
    load();
    const int s = findSection(section);
    if (s < 0)
        return def;
    const int k = findKey(s, key);
    if (k < 0)
        return def;
    const QString &t = m_lines[size_t(k)].text;
    return t.mid(t.indexOf(QLatin1Char('=')) + 1).trimmed();
}

bool IniFile::valueExists(const QString &section, const QString &key) const
{
    load();
    const int s = findSection(section);
    return s >= 0 && findKey(s, key) >= 0;
}

int IniFile::readInteger(const QString &section, const QString &key, int def) const
{
    const QString v = readString(section, key, QString());
    qsizetype i = 0;
    bool neg = false;
    if (i < v.size() && (v[i] == QLatin1Char('-') || v[i] == QLatin1Char('+')))
        neg = v[i++] == QLatin1Char('-');
    const qsizetype digitsStart = i;
    qint64 n = 0;
    while (i < v.size() && v[i] >= QLatin1Char('0') && v[i] <= QLatin1Char('9')) {
        n = n * 10 + (v[i].unicode() - '0');
        if (n > qint64(std::numeric_limits<int>::max()) + 1)
            n = qint64(std::numeric_limits<int>::max()) + 1;
        ++i;
    }
    if (i == digitsStart)
        return def;
    if (neg)
        n = -n;
    return int(std::clamp<qint64>(n, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

bool IniFile::readBool(const QString &section, const QString &key, bool def) const
{
    return readInteger(section, key, def ? 1 : 0) != 0;
}

QString IniFile::floatToText(double value)
{
    return fixedFloatText(value);
}

bool IniFile::textToFloat(const QString &text, double &value)
{
    return parseFloatText(text, value);
}

double IniFile::readFloat(const QString &section, const QString &key, double def) const
{
    double v = def;
    return textToFloat(readString(section, key, QString()), v) ? v : def;
}

bool IniFile::sectionExists(const QString &section) const
{
    load();
    return findSection(section) >= 0;
}

QStringList IniFile::sections() const
{
    load();
    QStringList out;
    for (const Line &l : m_lines)
        if (l.isSection && !out.contains(l.section, Qt::CaseInsensitive))
            out << l.section;
    return out;
}

QStringList IniFile::sectionKeys(const QString &section) const
{
    load();
    QStringList out;
    const int s = findSection(section);
    if (s < 0)
        return out;
    const int end = sectionEnd(s);
    for (int i = s + 1; i < end; ++i)
        if (m_lines[size_t(i)].isKey && !out.contains(m_lines[size_t(i)].key, Qt::CaseInsensitive))
            out << m_lines[size_t(i)].key;
    return out;
}

void IniFile::writeString(const QString &section, const QString &key, const QString &rawValue)
{
    // A line break would start a line of its own: a section or key nobody wrote.
    const QString value = oneLine(rawValue);
    load();
    Line kl;
    kl.isKey = true;
    kl.key = key;
    kl.text = key + QLatin1Char('=') + value;
    int s = findSection(section);
    if (s < 0) {
        Line sl;
        sl.isSection = true;
        sl.section = section;
        sl.text = QLatin1Char('[') + section + QLatin1Char(']');
        m_lines.push_back(sl);
        m_lines.push_back(kl);
    } else if (int k = findKey(s, key); k >= 0) {
        kl.key = m_lines[size_t(k)].key;
        kl.text = kl.key + QLatin1Char('=') + value;
        m_lines[size_t(k)] = kl;
    } else {
        // After the section's last non-blank line, so a blank separator stays below it.
        int pos = sectionEnd(s);
        while (pos > s + 1 && m_lines[size_t(pos - 1)].text.trimmed().isEmpty())
            --pos;
        m_lines.insert(m_lines.begin() + pos, kl);
    }
    save();
}

void IniFile::writeInteger(const QString &section, const QString &key, int value)
{
    writeString(section, key, QString::number(value));
}

void IniFile::writeBool(const QString &section, const QString &key, bool value)
{
    writeString(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}

void IniFile::writeFloat(const QString &section, const QString &key, double value)
{
    writeString(section, key, floatToText(value));
}

void IniFile::eraseSection(const QString &section)
{
    load();
    bool changed = false;
    for (int s = findSection(section); s >= 0; s = findSection(section)) {
        m_lines.erase(m_lines.begin() + s, m_lines.begin() + sectionEnd(s));
        changed = true;
    }
    if (changed)
        save();
}

void IniFile::deleteKey(const QString &section, const QString &key)
{
    load();
    const int s = findSection(section);
    if (s < 0)
        return;
    const int k = findKey(s, key);
    if (k < 0)
        return;
    m_lines.erase(m_lines.begin() + k);
    save();
}

} // namespace pc
