#include "platform/ZipEntries.h"

#include "platform/CodePage.h"

#include <QFile>
#include <QStringDecoder>
#include <QtEndian>

#include <cstring>

#include <sys/stat.h>
#include <zlib.h>

namespace pc {

namespace {

constexpr quint32 kLocalHeader = 0x04034b50;
constexpr quint32 kCentralHeader = 0x02014b50;
constexpr quint32 kEndOfDirectory = 0x06054b50;
constexpr quint32 kZip64End = 0x06064b50;
constexpr quint32 kZip64Locator = 0x07064b50;
constexpr quint16 kExtZip64 = 0x0001;
constexpr quint16 kExtTimes = 0x5455;
constexpr quint16 kExtUnicodePath = 0x7075;
constexpr quint16 kFlagEncrypted = 0x0001;
constexpr quint16 kFlagDataDescriptor = 0x0008;
constexpr quint16 kFlagUtf8 = 0x0800;
constexpr int kHostUnix = 3;
constexpr int kHostMac = 19;

// Bounds-checked little-endian reads from the mapped archive.
class Bytes {
public:
    Bytes(const uchar *data, quint64 size) : m_data(data), m_size(size) {}
    bool has(quint64 at, quint64 n) const { return at <= m_size && n <= m_size - at; }
    quint16 u16(quint64 at) const { return qFromLittleEndian<quint16>(m_data + at); }
    quint32 u32(quint64 at) const { return qFromLittleEndian<quint32>(m_data + at); }
    quint64 u64(quint64 at) const { return qFromLittleEndian<quint64>(m_data + at); }
    QByteArray bytes(quint64 at, quint64 n) const { return QByteArray(reinterpret_cast<const char *>(m_data + at), qsizetype(n)); }
    quint64 size() const { return m_size; }
    const uchar *at(quint64 offset) const { return m_data + offset; }

private:
    const uchar *m_data;
    quint64 m_size;
};

// The extra fields of a header: id -> data (the first of each id).
QByteArray extraField(const QByteArray &extra, quint16 wanted)
{
    qsizetype at = 0;
    while (at + 4 <= extra.size()) {
        const quint16 id = qFromLittleEndian<quint16>(extra.constData() + at);
        const quint16 length = qFromLittleEndian<quint16>(extra.constData() + at + 2);
        if (at + 4 + length > extra.size())
            break;
        if (id == wanted)
            return extra.mid(at + 4, length);
        at += 4 + length;
    }
    return {};
}

QByteArray field(quint16 id, const QByteArray &data)
{
    QByteArray out(4, '\0');
    qToLittleEndian<quint16>(id, out.data());
    qToLittleEndian<quint16>(quint16(data.size()), out.data() + 2);
    return out + data;
}

bool validUtf8(const QByteArray &bytes, QString *text)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    *text = utf8.decode(bytes);
    return !utf8.hasError();
}

QString decodeName(const QByteArray &raw, quint16 flags, int host, const QByteArray &extra)
{
    QString text;
    if (flags & kFlagUtf8) {
        if (validUtf8(raw, &text))
            return text;
    }
    // Info-ZIP's Unicode path: version 1, the CRC of the name it stands for, the name in UTF-8.
    const QByteArray unicode = extraField(extra, kExtUnicodePath);
    if (unicode.size() > 5 && unicode.at(0) == 1
        && qFromLittleEndian<quint32>(unicode.constData() + 1)
               == quint32(crc32(0, reinterpret_cast<const Bytef *>(raw.constData()), uInt(raw.size())))
        && validUtf8(unicode.mid(5), &text))
        return text;
    if ((host == kHostUnix || host == kHostMac) && validUtf8(raw, &text))
        return text;
    return fromCp866(raw);
}

ZipEntry::Kind kindOf(int host, quint32 externalAttributes, const QByteArray &raw)
{
    const quint32 mode = externalAttributes >> 16;
    if ((host == kHostUnix || host == kHostMac) && mode != 0) {
        if (S_ISREG(mode))
            return ZipEntry::File;
        if (S_ISDIR(mode))
            return ZipEntry::Folder;
        if (S_ISLNK(mode))
            return ZipEntry::Link;
        return ZipEntry::Special;
    }
    if ((externalAttributes & 0x10) || raw.endsWith('/') || raw.endsWith('\\'))
        return ZipEntry::Folder;
    return ZipEntry::File;
}

QString damaged(const QString &what) { return QStringLiteral("архив повреждён: %1").arg(what); }

} // namespace

ZipDirectory readZipDirectory(const QString &file)
{
    ZipDirectory out;
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly)) {
        out.error = QStringLiteral("архив не открывается: %1").arg(f.errorString());
        return out;
    }
    if (f.size() == 0) {
        out.error = damaged(QStringLiteral("файл пуст"));
        return out;
    }
    const uchar *map = f.map(0, f.size());
    if (!map) {
        out.error = QStringLiteral("архив не читается: %1").arg(f.errorString());
        return out;
    }
    const Bytes b(map, quint64(f.size()));

    // The end of the central directory: its record stands within the last
    // 64 KB (a comment may follow it).
    qint64 end = -1;
    for (qint64 at = qint64(b.size()) - 22; at >= 0 && at >= qint64(b.size()) - 22 - 65535; --at) {
        if (b.u32(quint64(at)) == kEndOfDirectory) {
            end = at;
            break;
        }
    }
    if (end < 0) {
        out.error = damaged(QStringLiteral("нет оглавления (это не zip-архив?)"));
        return out;
    }
    quint64 count = b.u16(quint64(end) + 10);
    quint64 directorySize = b.u32(quint64(end) + 12);
    quint64 directoryOffset = b.u32(quint64(end) + 16);
    if (end >= 20 && b.u32(quint64(end) - 20) == kZip64Locator) {
        const quint64 zip64 = b.u64(quint64(end) - 20 + 8);
        if (!b.has(zip64, 56) || b.u32(zip64) != kZip64End) {
            out.error = damaged(QStringLiteral("неверное оглавление zip64"));
            return out;
        }
        count = b.u64(zip64 + 32);
        directorySize = b.u64(zip64 + 40);
        directoryOffset = b.u64(zip64 + 48);
    }
    if (!b.has(directoryOffset, directorySize)) {
        out.error = damaged(QStringLiteral("оглавление за концом файла"));
        return out;
    }

    quint64 at = directoryOffset;
    for (quint64 i = 0; i < count; ++i) {
        if (!b.has(at, 46) || b.u32(at) != kCentralHeader) {
            out.error = damaged(QStringLiteral("запись оглавления %1 не читается").arg(i + 1));
            out.entries.clear();
            return out;
        }
        ZipEntry e;
        const int host = b.u16(at + 4) >> 8;
        e.versionNeeded = b.u16(at + 6);
        e.flags = b.u16(at + 8);
        e.method = b.u16(at + 10);
        e.time = b.u16(at + 12);
        e.date = b.u16(at + 14);
        e.crc = b.u32(at + 16);
        e.compressedSize = b.u32(at + 20);
        e.size = b.u32(at + 24);
        const quint16 nameLength = b.u16(at + 28), extraLength = b.u16(at + 30), commentLength = b.u16(at + 32);
        const quint32 external = b.u32(at + 38);
        e.localOffset = b.u32(at + 42);
        if (!b.has(at + 46, quint64(nameLength) + extraLength + commentLength)) {
            out.error = damaged(QStringLiteral("запись оглавления %1 обрезана").arg(i + 1));
            out.entries.clear();
            return out;
        }
        e.rawName = b.bytes(at + 46, nameLength);
        const QByteArray extra = b.bytes(at + 46 + nameLength, extraLength);
        // Sizes and the offset too large for their fields stand in the zip64 field, in this order.
        const QByteArray zip64 = extraField(extra, kExtZip64);
        qsizetype z = 0;
        for (quint64 *value : {&e.size, &e.compressedSize, &e.localOffset}) {
            if (*value != 0xFFFFFFFFu)
                continue;
            if (z + 8 > zip64.size()) {
                out.error = damaged(QStringLiteral("неверные размеры в записи %1").arg(i + 1));
                out.entries.clear();
                return out;
            }
            *value = qFromLittleEndian<quint64>(zip64.constData() + z);
            z += 8;
        }
        e.name = decodeName(e.rawName, e.flags, host, extra);
        e.kind = kindOf(host, external, e.rawName);
        e.encrypted = e.flags & kFlagEncrypted;
        const QByteArray times = extraField(extra, kExtTimes);
        if (!times.isEmpty())
            e.centralTimes = times;
        out.entries << e;
        at += 46 + quint64(nameLength) + extraLength + commentLength;
    }
    return out;
}

bool writeZipSubset(const QString &source, const QList<ZipSubsetEntry> &entries, const QString &target, QString *error)
{
    const auto fail = [error](const QString &text) {
        if (error)
            *error = text;
        return false;
    };
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("архив не открывается: %1").arg(in.errorString()));
    const uchar *map = in.size() > 0 ? in.map(0, in.size()) : nullptr;
    if (!map)
        return fail(QStringLiteral("архив не читается: %1").arg(in.errorString()));
    const Bytes b(map, quint64(in.size()));
    QFile out(target);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return fail(QStringLiteral("не удалось записать %1: %2").arg(target, out.errorString()));

    QByteArray directory;
    for (const ZipSubsetEntry &s : entries) {
        const ZipEntry &e = s.entry;
        if (e.size >= 0xFFFFFFFFu || e.compressedSize >= 0xFFFFFFFFu)
            return fail(damaged(QStringLiteral("файл %1 слишком велик").arg(e.name)));
        if (!b.has(e.localOffset, 30) || b.u32(e.localOffset) != kLocalHeader)
            return fail(damaged(QStringLiteral("нет заголовка файла %1").arg(e.name)));
        const quint16 nameLength = b.u16(e.localOffset + 26), extraLength = b.u16(e.localOffset + 28);
        const quint64 data = e.localOffset + 30 + nameLength + extraLength;
        if (!b.has(data, e.compressedSize))
            return fail(damaged(QStringLiteral("файл %1 обрезан").arg(e.name)));
        const QByteArray localTimes = extraField(b.bytes(e.localOffset + 30 + nameLength, extraLength), kExtTimes);
        const QByteArray localExtra = localTimes.isEmpty() ? QByteArray() : field(kExtTimes, localTimes);
        const QByteArray centralExtra = e.centralTimes.isEmpty() ? QByteArray() : field(kExtTimes, e.centralTimes);
        // Sizes and checksum stand in the header itself, not after the data.
        const quint16 flags = e.flags & ~(kFlagDataDescriptor | kFlagUtf8);
        const quint64 offset = quint64(out.pos());
        if (offset >= 0xFFFFFFFFu)
            return fail(damaged(QStringLiteral("архив слишком велик")));

        QByteArray local(30, '\0');
        char *l = local.data();
        qToLittleEndian<quint32>(kLocalHeader, l);
        qToLittleEndian<quint16>(qMin<quint16>(e.versionNeeded, 45), l + 4);
        qToLittleEndian<quint16>(flags, l + 6);
        qToLittleEndian<quint16>(e.method, l + 8);
        qToLittleEndian<quint16>(e.time, l + 10);
        qToLittleEndian<quint16>(e.date, l + 12);
        qToLittleEndian<quint32>(e.crc, l + 14);
        qToLittleEndian<quint32>(quint32(e.compressedSize), l + 18);
        qToLittleEndian<quint32>(quint32(e.size), l + 22);
        qToLittleEndian<quint16>(quint16(s.name.size()), l + 26);
        qToLittleEndian<quint16>(quint16(localExtra.size()), l + 28);
        if (out.write(local + s.name + localExtra) < 0
            || out.write(reinterpret_cast<const char *>(b.at(data)), qint64(e.compressedSize)) != qint64(e.compressedSize))
            return fail(QStringLiteral("не удалось записать %1: %2").arg(target, out.errorString()));

        QByteArray central(46, '\0');
        char *c = central.data();
        qToLittleEndian<quint32>(kCentralHeader, c);
        qToLittleEndian<quint16>(quint16((kHostUnix << 8) | 30), c + 4);
        std::memcpy(c + 6, l + 4, 26); // version needed .. name length, as in the local header
        qToLittleEndian<quint16>(quint16(centralExtra.size()), c + 30);
        qToLittleEndian<quint32>(quint32(S_IFREG | 0644) << 16, c + 38);
        qToLittleEndian<quint32>(quint32(offset), c + 42);
        directory += central + s.name + centralExtra;
    }
    const quint64 directoryOffset = quint64(out.pos());
    QByteArray end(22, '\0');
    char *e = end.data();
    qToLittleEndian<quint32>(kEndOfDirectory, e);
    qToLittleEndian<quint16>(quint16(entries.size()), e + 8);
    qToLittleEndian<quint16>(quint16(entries.size()), e + 10);
    qToLittleEndian<quint32>(quint32(directory.size()), e + 12);
    qToLittleEndian<quint32>(quint32(directoryOffset), e + 16);
    if (entries.size() > 0xFFFF || out.write(directory + end) < 0 || !out.flush())
        return fail(QStringLiteral("не удалось записать %1: %2").arg(target, out.errorString()));
    return true;
}

} // namespace pc
