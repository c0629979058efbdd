// The database opens whatever the locale: a program folder with Cyrillic
// letters under LANG=C (a timer or a bare session often has no locale).
#include "support/TempDatabase.h"

#include "db/EmptyDatabase.h"
#include "platform/Process.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

TEST(DatabaseLocale, ACyrillicFolderOpensUnderEveryLocale)
{
    QTemporaryDir dir;
    const QString plain = dir.filePath(QStringLiteral("plain.gdb"));
    pc::CreateEmptyDatabase(plain);
    const QString folder = dir.filePath(QStringLiteral("Аптека №1 на Ленина/Data"));
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString file = folder + QStringLiteral("/client.gdb");
    ASSERT_TRUE(QFile::copy(plain, file));

    const QByteArray lang = qgetenv("LANG"), all = qgetenv("LC_ALL");
    for (const char *locale : {"C", "POSIX", "xx_YY.unknown", "C.UTF-8"}) {
        qputenv("LANG", locale);
        qputenv("LC_ALL", locale);
        const pc::RunResult r = pc::runAndWait(QStringLiteral(PC_BINARY_DIR "/tests/attach_probe"), {file}, dir.path(), 30000);
        EXPECT_EQ(r.status, pc::RunResult::Finished) << locale;
        EXPECT_EQ(r.exitCode, 0) << "LANG=" << locale;
    }
    qputenv("LANG", lang);
    qputenv("LC_ALL", all);
    if (all.isEmpty())
        qunsetenv("LC_ALL");
}
