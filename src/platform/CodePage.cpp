#include "platform/CodePage.h"

#include <clocale>
#include <cstring>
#include <langinfo.h>

#include <QStringDecoder>
#include <array>

namespace pc {

namespace {

// A single-byte code page as two tables, built once from Qt's converters so
// that the hot paths (DBF fields, database texts) are plain lookups.
struct SingleByteTable {
    std::array<char16_t, 256> toUnicode{};
    // Byte of each character from U+0080 on; 0: the code page lacks it (the
    // encoder passes characters below U+0080 through as they are).
    std::array<unsigned char, 0x10000> fromUnicode{};

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
            if (toUnicode[size_t(b)] != 0xFFFD && toUnicode[size_t(b)] >= 0x80)
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
            const unsigned char b = fromUnicode[u];
            *d++ = b ? char(b) : '?';
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

void appendCp866AsCp1251(std::string_view cp866Bytes, std::string &out)
{
    // Each byte as its character in 866 and that character in 1251, exactly
    // as decoding and encoding again would give.
    static const std::array<char, 256> table = [] {
        std::array<char, 256> t{};
        for (int b = 0; b < 256; ++b) {
            const char c = char(b);
            t[size_t(b)] = toCp1251(fromCp866(std::string_view(&c, 1))).at(0);
        }
        return t;
    }();
    const size_t start = out.size();
    out.resize(start + cp866Bytes.size());
    char *d = out.data() + start;
    for (unsigned char c : cp866Bytes)
        *d++ = table[c];
}

void useUtf8FileNames()
{
    const char *codeset = nl_langinfo(CODESET);
    if (codeset && (std::strcmp(codeset, "UTF-8") == 0 || std::strcmp(codeset, "utf8") == 0))
        return;
    std::setlocale(LC_CTYPE, "C.UTF-8");
}

} // namespace pc
