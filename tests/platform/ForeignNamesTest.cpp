// Names from outside and what a zip archive says it holds.
#include "platform/CodePage.h"
#include "platform/FileNames.h"
#include "platform/Process.h"
#include "platform/ZipEntries.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace pc;

TEST(ForeignNames, OnlyPlainNamesOfAnExpectedKindThatAreNotTheProgramsOwn)
{
    const QStringList pages{".htm", ".png", "update"};
    for (const QString name : {"top.htm", "Logo.PNG", "UPDATE", "Баннер.htm", "a..b.htm" /* refused: ".." */})
        EXPECT_EQ(foreignNameRefusal(name, pages).isEmpty(), !name.contains("..")) << name.toStdString();
    // Refused whatever the caller accepts: paths, hidden names, the program's own files.
    for (const QString name : {"", " ", "../x.htm", "/tmp/x.htm", "\\x.htm", "C:x.htm", "sub/x.htm", "sub\\x.htm",
                               ".client.lock", ".htm", "a\nb.htm", "*.htm", "client", "CLIENT.INI", "server.ini",
                               "exchange.ini", "bkclient.ini", "vorn", "client.gdb", "supplier.pub", "Update",
                               "Orders", "Data", "pricein.dbf", "unzip"}) {
        bool unwanted = true;
        EXPECT_FALSE(foreignNameRefusal(name, {}).isEmpty()) << name.toStdString();
        EXPECT_FALSE(foreignNameRefusal(name, {".htm", ".ini", ".gdb", ".pub", ".dbf", "client", "vorn", "unzip",
                                               "update", "orders", "data", ".lock"},
                                        &unwanted)
                         .isEmpty())
            << name.toStdString();
        EXPECT_FALSE(unwanted) << name.toStdString();
    }
    // A harmless name of a kind nobody asked for is only unwanted.
    bool unwanted = false;
    EXPECT_FALSE(foreignNameRefusal("readme.txt", pages, &unwanted).isEmpty());
    EXPECT_TRUE(unwanted);
    // "update" the file is not "Update" the folder.
    EXPECT_TRUE(foreignNameRefusal("update", pages).isEmpty());

    // A path below the program folder: each part plain, the last one checked in full.
    EXPECT_TRUE(foreignPathRefusal("Banner\\a.htm", pages).isEmpty());
    EXPECT_TRUE(foreignPathRefusal("Data/banner.htm", pages).isEmpty());
    for (const QString path : {"../a.htm", "Banner/../../a.htm", "/etc/a.htm", "\\\\server\\a.htm", "C:\\a.htm",
                               ".hidden/a.htm", "Banner//a.htm", "Data/client.gdb", "Banner/client.ini"})
        EXPECT_FALSE(foreignPathRefusal(path, pages).isEmpty()) << path.toStdString();
}

namespace {
// A zip made by Python's zipfile from a list of (name, data, external attributes, host, zip64).
QString makeZip(const QTemporaryDir &dir, const QString &items)
{
    const QString zip = dir.filePath("t.zip");
    const QString script = QStringLiteral(
        "import sys, zipfile\n"
        "with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:\n"
        "    for name, data, external, host, big in eval(sys.argv[2]):\n"
        "        i = zipfile.ZipInfo(name, (2026, 1, 2, 3, 4, 6))\n"
        "        i.create_system, i.external_attr, i.compress_type = host, external, zipfile.ZIP_DEFLATED\n"
        "        with z.open(i, 'w', force_zip64=big) as f: f.write(data)\n");
    const RunResult r = runAndWait("/usr/bin/python3", {"-c", script, zip, items}, dir.path(), 30000);
    EXPECT_EQ(r.exitCode, 0);
    return zip;
}
} // namespace

// Kinds, names and sizes come from the central directory, zip64 fields
// included; a copy of chosen entries unpacks to just those files and bytes.
TEST(ZipEntries, DirectoryTellsKindsNamesAndSizesAndASubsetUnpacksAsChosen)
{
    QTemporaryDir dir;
    const QString zip = makeZip(dir, "[('a.dbf', b'x' * 1000, 0o100644 << 16, 3, False),"
                                     " ('Новое.htm', b'<p>', 0o100644 << 16, 3, True),"
                                     " ('link', b'/etc', 0o120777 << 16, 3, False),"
                                     " ('fifo', b'', 0o10666 << 16, 3, False),"
                                     " ('sub/', b'', 0x10, 0, False),"
                                     " ('dos.txt', b'dos', 0x20, 0, False)]");
    const ZipDirectory d = readZipDirectory(zip);
    ASSERT_TRUE(d.error.isEmpty()) << d.error.toStdString();
    ASSERT_EQ(d.entries.size(), 6);
    EXPECT_EQ(d.entries[0].name, "a.dbf");
    EXPECT_EQ(d.entries[0].size, 1000u);
    EXPECT_EQ(d.entries[1].name, QStringLiteral("Новое.htm"));
    EXPECT_EQ(d.entries[1].size, 3u);
    const ZipEntry::Kind kinds[] = {ZipEntry::File, ZipEntry::File, ZipEntry::Link, ZipEntry::Special,
                                    ZipEntry::Folder, ZipEntry::File};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(d.entries[i].kind, kinds[i]) << i;

    QString error;
    const QString subset = dir.filePath("subset.zip");
    ASSERT_TRUE(writeZipSubset(zip, {{d.entries[1], "entry-0"}, {d.entries[0], "entry-1"}}, subset, &error))
        << error.toStdString();
    const ZipDirectory s = readZipDirectory(subset);
    ASSERT_EQ(s.entries.size(), 2);
    EXPECT_EQ(s.entries[0].name, "entry-0");
    EXPECT_EQ(s.entries[1].kind, ZipEntry::File);
    QDir().mkpath(dir.filePath("out"));
    const RunResult r = runAndWait("/usr/bin/unzip", {"-q", "-o", subset}, dir.filePath("out"), 15000);
    ASSERT_EQ(r.exitCode, 0);
    QFile a(dir.filePath("out/entry-1")), b(dir.filePath("out/entry-0"));
    ASSERT_TRUE(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
    EXPECT_EQ(a.readAll(), QByteArray(1000, 'x'));
    EXPECT_EQ(b.readAll(), QByteArray("<p>"));
    // The time stamp the supplier gave the file stays.
    EXPECT_EQ(QFileInfo(dir.filePath("out/entry-1")).lastModified(), QDateTime(QDate(2026, 1, 2), QTime(3, 4, 6)));

    // Not a zip, or one cut short: said, nothing listed.
    QFile cut(zip);
    ASSERT_TRUE(cut.open(QIODevice::ReadWrite));
    ASSERT_TRUE(cut.resize(cut.size() - 30));
    cut.close();
    EXPECT_FALSE(readZipDirectory(zip).error.isEmpty());
    EXPECT_TRUE(readZipDirectory(zip).entries.isEmpty());
}
