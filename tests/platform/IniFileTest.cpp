#include "TempAppDir.h"
#include "platform/CodePage.h"
#include "platform/IniFile.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <gtest/gtest.h>

using pc::IniFile;

TEST(IniFile, LookupIsCaseInsensitiveTrimmedAndFirstOccurrenceWins)
{
    TempAppDir dir;
    dir.writeText("a.ini", "[Header]\n  ClientCode =  1234  \nclientcode=9999\n[HEADER]\nOther=x\n");
    IniFile ini(dir.file("a.ini"));
    EXPECT_EQ(ini.readString("header", "CLIENTCODE"), "1234");
    EXPECT_EQ(ini.readString("Header", "Other", "def"), "def"); // only the first section of that name counts
    EXPECT_TRUE(ini.sectionExists("hEaDeR"));
    EXPECT_FALSE(ini.sectionExists("Missing"));
    EXPECT_EQ(ini.readString("Missing", "Key", "d"), "d");
}

TEST(IniFile, NumbersAndBooleansReadLikeTheSystemDoes)
{
    TempAppDir dir;
    dir.writeText("a.ini", "[S]\nA=42abc\nB=-7\nC=abc\nD=\nE=+3\nF=1\nG=0\nH= 12 \nI=99999999999\n");
    IniFile ini(dir.file("a.ini"));
    EXPECT_EQ(ini.readInteger("S", "A", 5), 42);
    EXPECT_EQ(ini.readInteger("S", "B", 5), -7);
    EXPECT_EQ(ini.readInteger("S", "C", 5), 5);
    EXPECT_EQ(ini.readInteger("S", "D", 5), 5);
    EXPECT_EQ(ini.readInteger("S", "E", 5), 3);
    EXPECT_EQ(ini.readInteger("S", "H", 5), 12);
    EXPECT_EQ(ini.readInteger("S", "I", 5), 2147483647);
    EXPECT_EQ(ini.readInteger("S", "Missing", 5), 5);
    EXPECT_TRUE(ini.readBool("S", "F", false));
    EXPECT_FALSE(ini.readBool("S", "G", true));
    EXPECT_TRUE(ini.readBool("S", "Missing", true));
    EXPECT_TRUE(ini.readBool("S", "C", true)); // junk keeps the default
}

TEST(IniFile, FloatsUseTheRegionalDecimalSeparator)
{
    const QLocale saved;
    QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
    TempAppDir dir;
    IniFile ini(dir.file("f.ini"));
    ini.writeFloat("S", "Money", 1234567.89);
    EXPECT_EQ(ini.readString("S", "Money"), "1234567,89"); // no group separator
    EXPECT_DOUBLE_EQ(ini.readFloat("S", "Money", 0), 1234567.89);
    dir.writeText("g.ini", "[S]\nA=12.5\nB=abc\n");
    IniFile g(dir.file("g.ini"));
    EXPECT_DOUBLE_EQ(g.readFloat("S", "A", 0), 12.5);
    EXPECT_DOUBLE_EQ(g.readFloat("S", "B", 7.5), 7.5);
    QLocale::setDefault(saved);
}

TEST(IniFile, WritesKeepOtherLinesInPlace)
{
    TempAppDir dir;
    dir.writeText("a.ini", "; comment\n[One]\nA=1\n\n[Two]\nB=2\n");
    IniFile ini(dir.file("a.ini"));
    ini.writeString("one", "a", "10");          // existing key: changed in place, its spelling kept
    ini.writeString("One", "New", "n");         // new key: end of its section, before the blank line
    ini.writeString("Three", "C", "3");         // new section: end of file
    EXPECT_EQ(dir.readText("a.ini"), "; comment\n[One]\nA=10\nNew=n\n\n[Two]\nB=2\n[Three]\nC=3\n");
    EXPECT_EQ(dir.readBytes("a.ini").count("\r\n"), 9); // CR LF everywhere
}

TEST(IniFile, EraseSectionAndDeleteKey)
{
    TempAppDir dir;
    dir.writeText("a.ini", "[A]\nX=1\n[B]\nY=2\nZ=3\n[C]\nW=4\n");
    IniFile ini(dir.file("a.ini"));
    ini.eraseSection("b");
    ini.deleteKey("C", "W");
    EXPECT_EQ(dir.readText("a.ini"), "[A]\nX=1\n[C]\n");
    EXPECT_EQ(ini.sections(), QStringList({"A", "C"}));
    ini.eraseSection("NotThere"); // nothing to do, no error
}

TEST(IniFile, MissingFileIsCreatedAndCp1251RoundTrips)
{
    TempAppDir dir;
    IniFile ini(dir.file("sub/new.ini"));
    EXPECT_EQ(ini.readString("Header", "ClientName", "нет"), "нет");
    ini.writeString("Header", "ClientName", "Аптека №1 «Здоровье»");
    const QByteArray raw = dir.readBytes("sub/new.ini");
    EXPECT_TRUE(raw.contains(pc::toCp1251("Аптека №1")));
    EXPECT_EQ(IniFile(dir.file("sub/new.ini")).readString("header", "clientname"), "Аптека №1 «Здоровье»");
}

TEST(IniFile, SeesChangesMadeByAnotherObject)
{
    TempAppDir dir;
    IniFile a(dir.file("s.ini"));
    IniFile b(dir.file("s.ini"));
    a.writeString("S", "K", "1");
    EXPECT_EQ(b.readString("S", "K"), "1");
    b.writeString("S", "K", "2");
    EXPECT_EQ(a.readString("S", "K"), "2");
}

TEST(IniFile, JunkLinesNoFinalLineEndAndInvalidBytesStillLoad)
{
    TempAppDir dir;
    QByteArray junk("garbage without equals\r\n=novalue\r\n[S]\r\nA=\x98\xff\r\n[broken\r\nB=2\r\n[T]\r\nC=last");
    dir.writeBytes("j.ini", junk);
    IniFile ini(dir.file("j.ini"));
    EXPECT_EQ(ini.readString("T", "C"), "last");
    EXPECT_EQ(ini.readInteger("broken", "B", 0), 2);
    EXPECT_EQ(ini.readInteger("S", "A", 9), 9);
    ini.writeString("T", "D", "4");
    EXPECT_TRUE(dir.readText("j.ini").endsWith("C=last\nD=4\n"));
    EXPECT_TRUE(dir.readText("j.ini").startsWith("garbage without equals\n"));
}

TEST(IniFile, InterruptedWriteLeavesTheOldFile)
{
    TempAppDir dir;
    dir.writeText("c.ini", "[S]\nK=old\n");
    // A crash between writing the temporary file and the rename leaves a stray
    // temporary beside the intact old file.
    dir.writeText("c.ini.tmp123", "[S]\nK=half");
    EXPECT_EQ(IniFile(dir.file("c.ini")).readString("S", "K"), "old");
    // A place that cannot be written (its folder is a plain file): the write
    // fails with a message naming the file.
    dir.writeText("plain", "x");
    IniFile bad(dir.file("plain/c.ini"));
    try {
        bad.writeString("S", "K", "new");
        ADD_FAILURE() << "write into a missing folder succeeded";
    } catch (const pc::AppError &e) {
        EXPECT_TRUE(e.message().contains("c.ini"));
    }
    EXPECT_EQ(IniFile(dir.file("c.ini")).readString("S", "K"), "old");
}

// A value with line breaks (a client name pasted from several lines, a text
// from the supplier) would otherwise add sections and keys of its own to
// client.ini, log.ini or history.log.
TEST(IniFile, ValueWithLineBreaksStaysOneValue)
{
    TempAppDir dir;
    dir.writeText("a.ini", "[Header]\nClientCode=1234\nClientName=old\n[Settings]\nServerAddress=host\n");
    IniFile ini(dir.file("a.ini"));
    ini.writeString("Header", "ClientName", "Аптека\r\n[Header]\nClientCode=9999\r[Settings]\nServerAddress=evil");
    IniFile again(dir.file("a.ini"));
    EXPECT_EQ(again.readString("Header", "ClientName"),
              QStringLiteral("Аптека [Header] ClientCode=9999 [Settings] ServerAddress=evil"));
    EXPECT_EQ(again.readString("Header", "ClientCode"), "1234");
    EXPECT_EQ(again.readString("Settings", "ServerAddress"), "host");
    EXPECT_EQ(again.sections(), QStringList({"Header", "Settings"}));
    EXPECT_EQ(dir.readText("a.ini").count('\n'), 5);
}
