#pragma once
// What a zip archive says it holds, read from its central directory before
// anything is unpacked: each entry's name (decoded), kind (file, folder, link,
// fifo or device) and declared size. And a copy of an archive reduced to
// chosen plain-file entries under names we give, for the unpacking program
// to unpack: it then writes nothing but those files under those names.

#include <QByteArray>
#include <QList>
#include <QString>

namespace pc {

struct ZipEntry {
    enum Kind { File, Folder, Link, Special };
    QByteArray rawName;
    // The name decoded: UTF-8 when the archive says so (the UTF-8 flag, or
    // an Info-ZIP Unicode path field), UTF-8 also when an archive made on
    // Unix holds valid UTF-8, otherwise code page 866 (the DOS code page of
    // Russian Windows' own zip folders and of the supplier's DOS tools).
    QString name;
    Kind kind = File;
    bool encrypted = false;
    quint64 size = 0;           // uncompressed, as declared
    quint64 compressedSize = 0;
    quint64 localOffset = 0;
    quint16 versionNeeded = 0, flags = 0, method = 0, time = 0, date = 0;
    quint32 crc = 0;
    QByteArray centralTimes;    // the extended time stamp field of the central header, if any
};

struct ZipDirectory {
    QList<ZipEntry> entries;
    QString error;              // empty when the directory was read
};

// Reads the central directory of a zip file.
ZipDirectory readZipDirectory(const QString &file);

struct ZipSubsetEntry {
    ZipEntry entry;
    QByteArray name;            // the name in the copy (plain ASCII)
};

// Writes `target`: the entries chosen from `source`, each a plain file
// (mode 0644) under its new name, with its compressed data and its time
// stamps as they are. False with a reason when `source` cannot be read as
// its directory said.
bool writeZipSubset(const QString &source, const QList<ZipSubsetEntry> &entries, const QString &target, QString *error);

} // namespace pc
