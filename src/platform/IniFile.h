#pragma once
// Settings files in the private-profile INI form the supplier's tools know:
// [Section] lines and key=value lines, code page 1251, CR LF line ends.
//
// Sections and keys match case-insensitively, values are trimmed, the first
// occurrence wins. Every write changes the file at once and keeps the other
// lines where they were: a new key goes to the end of its section, a new
// section to the end of the file, a missing file is created. Files are written
// whole (see WholeFile.h): a crash or a full disk never leaves half a file, and
// a failed write keeps the file as it was.
//
// Several changes that belong together are written as one: between
// beginBatch() and commit() the writes only change the file's image in
// memory, and commit() writes the file once. A batch dropped without commit()
// (an exception on the way, the object destroyed) writes nothing.
// A value is one line: line breaks in what is written become blanks, so a
// value can never add sections or keys of its own.

#include "platform/AppError.h"

#include <QString>
#include <QStringList>
#include <vector>

namespace pc {

using IniError = AppError;

class IniFile {
public:
    explicit IniFile(QString fileName);
    const QString &fileName() const { return m_fileName; }

    QString readString(const QString &section, const QString &key, const QString &def = {}) const;
    // Leading blanks, an optional sign and digits; anything else gives the default.
    int readInteger(const QString &section, const QString &key, int def = 0) const;
    bool readBool(const QString &section, const QString &key, bool def = false) const;
    // In the system's decimal format (a decimal point is accepted as well).
    double readFloat(const QString &section, const QString &key, double def = 0.0) const;
    bool valueExists(const QString &section, const QString &key) const;
    bool sectionExists(const QString &section) const;
    QStringList sections() const;
    QStringList sectionKeys(const QString &section) const;

    // Writes throw IniError with a Russian message when the file cannot be written.
    void writeString(const QString &section, const QString &key, const QString &value);
    void writeInteger(const QString &section, const QString &key, int value);
    void writeBool(const QString &section, const QString &key, bool value);
    void writeFloat(const QString &section, const QString &key, double value);
    void eraseSection(const QString &section);
    void deleteKey(const QString &section, const QString &key);

    void beginBatch();
    // Writes the batch's changes, if any, in one whole-file write; throws
    // IniError, leaving the file as it was, when it cannot be written.
    void commit();
    bool inBatch() const { return m_batch; }
    // The file's bytes as a commit() would write them now (with the batch's
    // changes), for a caller that writes several files as one change.
    QByteArray image() const;

    // A float as the files carry it: up to 15 significant digits, a decimal
    // comma, no group separator, whatever the locale; reading takes a point too.
    static QString floatToText(double value);
    static bool textToFloat(const QString &text, double &value);
    // The text with its line breaks (CR LF, CR, LF) made blanks: what a write
    // stores of a value.
    static QString oneLine(QString text);

private:
    struct Line {
        QString text;     // the line as in the file
        QString section;  // for a [section] line: its name
        QString key;      // for a key line: its trimmed key
        bool isSection = false;
        bool isKey = false;
    };
    void load() const;
    void save();
    QByteArray linesImage() const; // the lines as the file holds them
    int findSection(const QString &section) const;         // index of its header line, -1
    int findKey(int sectionLine, const QString &key) const; // index of the key line, -1
    int sectionEnd(int sectionLine) const;                  // one past its last line

    QString m_fileName;
    mutable std::vector<Line> m_lines;
    bool m_batch = false;
    bool m_pending = false; // changes of the batch not yet written
    // Identity of the file last read (inode, size, change time in ns), so that a
    // change by anyone else is noticed and re-read.
    struct Stamp {
        qint64 inode = -2, size = -2, nsec = -2;
        bool operator==(const Stamp &) const = default;
    };
    static Stamp stampOf(const QString &fileName);
    mutable Stamp m_stamp;
};

} // namespace pc
