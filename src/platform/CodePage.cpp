#include "platform/CodePage.h"

#include <QStringDecoder>
#include <array>
#include <unordered_map>

namespace pc {

namespace {

// A single-byte code page as two tables, built once from Qt's converters so
// that the hot paths (DBF fields, database texts) are plain lookups.
struct SingleByteTable {
    std::array<char16_t, 256> toUnicode{};
    std::unordered_map<char16_t, unsigned char> fromUnicode;

    explicit SingleByteTable(const char *name)
    {
        QStringDecoder dec(name);
        for (int b = 0; b < 256; ++b) {
            const char c = char(b);
            QString s = dec.decode(QByteArrayView(&c, 1));
            toUnicode[size_t(b)] = s.size() == 1 ? s.at(0).unicode() : char16_t(0xFFFD);
            dec.resetState();
        }
        for (int b = 255; b >= 0; --b) {
            if (toUnicode[size_t(b)] != 0xFFFD)
                fromUnicode[toUnicode[size_t(b)]] = (unsigned char)b;
        }
    }

    QString decode(std::string_view bytes) const
    {
        QString out(qsizetype(bytes.size()), Qt::Uninitialized);
        char16_t *d = reinterpret_cast<char16_t *>(out.data());
        for (unsigned char c : bytes)
            *d++ = toUnicode[c];
        return out;
    }

    QByteArray encode(const QString &text) const
    {
        QByteArray out(text.size(), Qt::Uninitialized);
        char *d = out.data();
        for (QChar ch : text) {
            const char16_t u = ch.unicode();
            if (u < 0x80) {
                *d++ = char(u);
                continue;
            }
            auto it = fromUnicode.find(u);
            *d++ = it == fromUnicode.end() ? '?' : char(it->second);
        }
        return out;
    }
};

const SingleByteTable &cp1251()
{
    static const SingleByteTable t("windows-1251");
    return t;
}

const SingleByteTable &cp866()
{
    static const SingleByteTable t("IBM866");
    return t;
}

} // namespace

QString fromCp1251(std::string_view bytes) { return cp1251().decode(bytes); }
QByteArray toCp1251(const QString &text) { return cp1251().encode(text); }
QString fromCp866(std::string_view bytes) { return cp866().decode(bytes); }
QByteArray toCp866(const QString &text) { return cp866().encode(text); }

} // namespace pc
