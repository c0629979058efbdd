#pragma once
// The two code pages of the supplier's world: 1251 for every text file and the
// database, 866 (OEM) for the text inside DBF files.

#include <QByteArray>
#include <QString>
#include <string>
#include <string_view>

namespace pc {

QString fromCp1251(std::string_view bytes);
inline QString fromCp1251(const QByteArray &bytes) { return fromCp1251(std::string_view(bytes.constData(), size_t(bytes.size()))); }
// Characters 1251 lacks become "?".
QByteArray toCp1251(const QString &text);
QString fromCp866(std::string_view bytes);
inline QString fromCp866(const QByteArray &bytes) { return fromCp866(std::string_view(bytes.constData(), size_t(bytes.size()))); }
QByteArray toCp866(const QString &text);
// Appends 866 text as 1251 bytes, byte for byte ("?" where 1251 lacks the
// character): what toCp1251(fromCp866(bytes)) gives, without the detour.
void appendCp866AsCp1251(std::string_view cp866Bytes, std::string &out);

// File names are UTF-8 whatever the locale. Under a locale without it ("C",
// "POSIX", one not installed) the character type is switched to C.UTF-8, so
// that the database engine opens a program folder with Cyrillic letters
// instead of failing to convert its name. Call after the application object
// (which takes the locale from the environment), before the first database
// call.
void useUtf8FileNames();

} // namespace pc
