#pragma once
// A temporary program folder for one test: removed with everything in it at
// the end. Holds the Data, Orders and Update folders like an installed program.

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

class TempAppDir {
public:
    TempAppDir();
    // The folder, ending in "/".
    QString path() const { return m_dir.path() + QLatin1Char('/'); }
    QString file(const QString &relative) const { return path() + relative; }
    // Writes text in code page 1251 with CR LF line ends ("\n" in text becomes CR LF).
    void writeText(const QString &relative, const QString &text) const;
    void writeBytes(const QString &relative, const QByteArray &bytes) const;
    QByteArray readBytes(const QString &relative) const;
    // Reads a cp1251 file; CR LF read as "\n".
    QString readText(const QString &relative) const;
    bool exists(const QString &relative) const;

private:
    QTemporaryDir m_dir;
};
