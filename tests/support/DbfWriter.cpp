#include "DbfWriter.h"

#include "platform/CodePage.h"

#include <QDate>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <stdexcept>

namespace pc::test {

namespace {

template <typename T> QByteArray littleEndian(T v)
{
    QByteArray out(sizeof(T), Qt::Uninitialized);
    qToLittleEndian(v, out.data());
    return out;
}

template <typename T> QByteArray bigEndian(T v)
{
    QByteArray out(sizeof(T), Qt::Uninitialized);
    qToBigEndian(v, out.data());
    return out;
}

QByteArray fit(QByteArray bytes, int length, char pad, bool alignRight = false)
{
    if (bytes.size() > length)
        return bytes.left(length);
    const QByteArray padding(length - bytes.size(), pad);
    return alignRight ? padding + bytes : bytes + padding;
}

} // namespace

DbfWriter::DbfWriter(uint8_t version) : m_version(version) {}

QVariant DbfWriter::raw(const QByteArray &bytes) { return QVariant::fromValue(RawBytes{bytes}); }

DbfWriter &DbfWriter::addPriceFields()
{
    addField("IDTOVAR", 'C', 20).addField("TOVAR", 'C', 100).addField("PRICE", 'N', 12, 2);
    addField("PRODUCT", 'C', 50).addField("COUNTRY", 'C', 40).addField("PRICER", 'N', 12, 2);
    addField("GODEN", 'D', 8).addField("QNT", 'N', 10).addField("QNTPACK", 'N', 10).addField("NDS", 'N', 3);
    addField("MINZAKAZ", 'N', 10).addField("MINPROD", 'N', 10).addField("COLOR", 'N', 10);
    addField("HASDET", 'N', 1).addField("HASPOPUP", 'N', 1).addField("GV", 'N', 1).addField("ZAKAZ", 'N', 10);
    return addField("REGUDEXIST", 'C', 20);
}

DbfWriter &DbfWriter::addField(const QByteArray &name, char type, int length, int decimals, uint8_t flags)
{
    m_fields.push_back(Field{name, type, length, decimals, flags});
    if (isMemoColumn(m_fields.back()))
        m_hasMemoColumn = true;
    return *this;
}

DbfWriter &DbfWriter::setOem(bool oem)
{
    m_oem = oem;
    return *this;
}

DbfWriter &DbfWriter::setHeaderRecordCount(qint64 count)
{
    m_headerCount = count;
    return *this;
}

DbfWriter &DbfWriter::setEndOfFileMarker(bool on)
{
    m_eofMarker = on;
    return *this;
}

DbfWriter &DbfWriter::setMemoBlockSize(int bytes)
{
    m_memoBlockSize = bytes;
    return *this;
}

DbfWriter &DbfWriter::setTableFlags(uint8_t flags)
{
    m_tableFlags = flags;
    return *this;
}

bool DbfWriter::isMemoColumn(const Field &f) const
{
    return f.type == 'M' || f.type == 'G' || f.type == 'P' || (f.type == 'B' && !isVfp());
}

bool DbfWriter::isBinaryColumn(const Field &f) const
{
    switch (f.type) {
    case 'I': case '+': case 'O': case 'Y': case 'T': case '@': case '0': case 'E':
        return true;
    case 'B':
        return isVfp();
    case 'M': case 'G': case 'P':
        return f.length == 4;
    default:
        return false;
    }
}

QString DbfWriter::memoExtension() const
{
    switch (m_version) {
    case 0x83: case 0x8B: case 0x8C:
        return QStringLiteral("dbt");
    case 0xF5: case 0x30: case 0x31:
        return QStringLiteral("fpt");
    default:
        return QString();
    }
}

int DbfWriter::memoBlockSize() const
{
    if (m_version == 0x83)
        return 512;
    if (m_memoBlockSize > 0)
        return m_memoBlockSize;
    return memoExtension() == QLatin1String("fpt") ? 64 : 512;
}

quint32 DbfWriter::addMemo(const QByteArray &content, bool binary)
{
    const int bs = memoBlockSize();
    const int firstBlock = (512 + bs - 1) / bs;
    const quint32 block = quint32(firstBlock + m_memoBlocks.size() / bs);
    QByteArray data;
    switch (m_version) {
    case 0x83:
        data = content + "\x1A\x1A";
        break;
    case 0x8B: case 0x8C:
        data = QByteArray("\xFF\xFF\x08\x00", 4) + littleEndian<quint32>(quint32(content.size() + 8)) + content;
        break;
    default:
        data = bigEndian<quint32>(binary ? 0 : 1) + bigEndian<quint32>(quint32(content.size())) + content;
        break;
    }
    // The first block starts right after the header, which may end inside a block.
    const qsizetype padTo = ((data.size() + bs - 1) / bs) * bs;
    m_memoBlocks += fit(data, int(padTo), '\0');
    return block;
}

QByteArray DbfWriter::encodeText(const QVariant &v) const
{
    if (v.typeId() == QMetaType::QByteArray)
        return v.toByteArray();
    return m_oem ? pc::toCp866(v.toString()) : pc::toCp1251(v.toString());
}

QByteArray DbfWriter::sortableInt(qint32 v) { return bigEndian<quint32>(quint32(v) ^ 0x80000000u); }

QByteArray DbfWriter::sortableDouble(double v)
{
    constexpr quint64 sign = quint64(1) << 63;
    quint64 u = std::bit_cast<quint64>(v);
    u = (u & sign) ? ~u : (u | sign);
    return bigEndian<quint64>(u);
}

QByteArray DbfWriter::encode(const Field &f, const QVariant &v)
{
    const bool binary = isBinaryColumn(f);
    const int len = f.length;
    if (!v.isValid()) {
        if (isMemoColumn(f) && !binary)
            return QByteArray(len, ' ');
        return QByteArray(len, binary ? '\0' : ' ');
    }
    if (v.metaType() == QMetaType::fromType<RawBytes>())
        return fit(v.value<RawBytes>().bytes, len, binary ? '\0' : ' ');
    if (v.typeId() == QMetaType::QByteArray && !isMemoColumn(f))
        return fit(v.toByteArray(), len, binary ? '\0' : ' ');

    switch (f.type) {
    case 'C':
        return fit(encodeText(v), len, ' ');
    case 'N': case 'F': {
        QByteArray text = f.decimals > 0 ? QByteArray::number(v.toDouble(), 'f', f.decimals)
                                         : QByteArray::number(v.toLongLong());
        if (text.size() > len)
            text = QByteArray(len, '*'); // does not fit: the overflow mark
        return fit(text, len, ' ', true);
    }
    case 'D':
        return fit(v.toDate().toString(QStringLiteral("yyyyMMdd")).toLatin1(), len, ' ');
    case 'L':
        return fit(v.toBool() ? "T" : "F", len, ' ');
    case 'I': case '+':
        return fit(isDBase7() ? sortableInt(v.toInt()) : littleEndian<qint32>(v.toInt()), len, '\0');
    case 'O':
        return fit(isDBase7() ? sortableDouble(v.toDouble()) : littleEndian<double>(v.toDouble()), len, '\0');
    case 'Y':
        return fit(littleEndian<qint64>(std::llround(v.toDouble() * 10000.0)), len, '\0');
    case 'T': case '@': {
        const QDateTime dt = v.toDateTime();
        const qint64 jd = dt.date().toJulianDay();
        const qint64 ms = dt.time().msecsSinceStartOfDay();
        if (f.type == '@' && isDBase7())
            return fit(sortableDouble(double(jd * 86400000 + ms)), len, '\0');
        return fit(littleEndian<qint32>(qint32(jd)) + littleEndian<qint32>(qint32(ms)), len, '\0');
    }
    case 'B':
        if (isVfp())
            return fit(littleEndian<double>(v.toDouble()), len, '\0');
        [[fallthrough]];
    case 'M': case 'G': case 'P': {
        const bool binaryContent = f.type != 'M' || (isVfp() && (f.flags & 0x04));
        const QByteArray content = binaryContent ? v.toByteArray() : encodeText(v);
        const quint32 block = addMemo(content, binaryContent);
        if (len == 4)
            return littleEndian<quint32>(block);
        return fit(QByteArray::number(block), len, ' ', true);
    }
    default:
        return fit(encodeText(v), len, binary ? '\0' : ' ');
    }
}

DbfWriter &DbfWriter::addRecord(const QVariantList &values, bool deleted)
{
    QByteArray record(1, deleted ? '*' : ' ');
    for (size_t i = 0; i < m_fields.size(); ++i) {
        const QVariant v = i < size_t(values.size()) ? values.at(qsizetype(i)) : QVariant();
        record += encode(m_fields[i], v);
    }
    m_records += record;
    ++m_recordCount;
    return *this;
}

QByteArray DbfWriter::tableBytes() const
{
    const bool d7 = isDBase7();
    const int headerFixed = d7 ? 68 : 32;
    const int descriptorSize = d7 ? 48 : 32;
    int recordLength = 1;
    for (const Field &f : m_fields)
        recordLength += f.length;
    const int headerLength =
        headerFixed + descriptorSize * int(m_fields.size()) + 1 + (isVfp() ? 263 : 0);

    QByteArray out(headerFixed, '\0');
    char *h = out.data();
    h[0] = char(m_version);
    h[1] = char(126); // last update 2026-12-07
    h[2] = 12;
    h[3] = 7;
    qToLittleEndian<quint32>(quint32(m_headerCount >= 0 ? m_headerCount : m_recordCount), h + 4);
    qToLittleEndian<quint16>(quint16(headerLength), h + 8);
    qToLittleEndian<quint16>(quint16(recordLength), h + 10);
    uint8_t flags = m_tableFlags;
    if (isVfp() && m_hasMemoColumn)
        flags |= 0x02;
    h[28] = char(flags);
    h[29] = m_oem ? char(0x65) : char(0xC9); // code page mark: 866 or 1251
    if (d7)
        std::memcpy(h + 32, "DBWINUS0", 8);

    int offset = 1;
    for (const Field &f : m_fields) {
        QByteArray d(descriptorSize, '\0');
        if (d7) {
            std::memcpy(d.data(), f.name.constData(), size_t(std::min<qsizetype>(f.name.size(), 32)));
            d[32] = f.type;
            d[33] = char(std::min(f.length, 255));
            d[34] = char(f.decimals);
            d[37] = char(f.flags);
        } else {
            std::memcpy(d.data(), f.name.constData(), size_t(std::min<qsizetype>(f.name.size(), 10)));
            d[11] = f.type;
            if (isVfp())
                qToLittleEndian<quint32>(quint32(offset), d.data() + 12);
            if (f.type == 'C') {
                qToLittleEndian<quint16>(quint16(f.length), d.data() + 16);
            } else {
                d[16] = char(f.length);
                d[17] = char(f.decimals);
            }
            d[18] = char(f.flags);
        }
        out += d;
        offset += f.length;
    }
    out += '\x0D';
    if (isVfp())
        out += QByteArray(263, '\0');
    out += m_records;
    if (m_eofMarker)
        out += '\x1A';
    return out;
}

QByteArray DbfWriter::memoBytes() const
{
    if (!hasMemoFile())
        return QByteArray();
    const int bs = memoBlockSize();
    const int firstBlock = (512 + bs - 1) / bs;
    const quint32 nextFree = quint32(firstBlock + m_memoBlocks.size() / bs);
    QByteArray header(firstBlock * bs, '\0');
    if (memoExtension() == QLatin1String("fpt")) {
        qToBigEndian<quint32>(nextFree, header.data());
        qToBigEndian<quint16>(quint16(bs), header.data() + 6);
    } else {
        qToLittleEndian<quint32>(nextFree, header.data());
        if (m_version != 0x83)
            qToLittleEndian<quint16>(quint16(bs), header.data() + 20);
    }
    return header + m_memoBlocks;
}

void DbfWriter::save(const QString &dbfPath, bool upperCaseMemoExtension) const
{
    auto write = [](const QString &path, const QByteArray &bytes) {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
            throw std::runtime_error("DbfWriter: cannot write " + path.toStdString());
    };
    write(dbfPath, tableBytes());
    if (hasMemoFile()) {
        const QFileInfo info(dbfPath);
        const QString ext = upperCaseMemoExtension ? memoExtension().toUpper() : memoExtension();
        write(info.dir().filePath(info.completeBaseName() + QLatin1Char('.') + ext), memoBytes());
    }
}

} // namespace pc::test
