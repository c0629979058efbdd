// The files the program writes for itself and for the supplier hold the same
// bytes whatever the desktop's locale: the order file, the history and
// client.ini are written by a copy of this test program started under each
// LANG / LC_ALL, and compared.

#include "ScriptedDialogs.h"

#include "app/SettingsFiles.h"
#include "core/AppContext.h"
#include "core/Settings.h"
#include "db/DataModule.h"
#include "orders/OrderFile.h"
#include "platform/FixedFormats.h"
#include "platform/Process.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <clocale>
#include <locale.h>

namespace {

const char *const kOutVariable = "PC_FIXED_FORMATS_OUT";
const QStringList kWritten = {QStringLiteral("Orders/1234_57.ini"), QStringLiteral("history.log"),
                              QStringLiteral("client.ini")};

QByteArray bytesOf(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool localeInstalled(const char *name)
{
    const locale_t l = newlocale(LC_ALL_MASK, name, locale_t(nullptr));
    if (l == locale_t(nullptr))
        return false;
    freelocale(l);
    return true;
}

} // namespace

// Run only as the child of the test below, in the folder it names; the
// locale's default is left as the desktop's, so any writer that follows
// QLocale() or the system's formats shows up in the bytes.
TEST(FixedFormatsChild, WritesTheOrderFileHistoryAndSettings)
{
    const QString out = qEnvironmentVariable(kOutVariable);
    if (out.isEmpty())
        GTEST_SKIP() << "started by FixedFormats.SameBytesUnderEveryDesktopLocale";
    const pc::AppContext context(out + QLatin1Char('/'));
    ScriptedDialogs dialogs;
    RecordingLog log;
    ASSERT_TRUE(QDir().mkpath(context.path(QStringLiteral("Data"))));

    // The price list's date comes from the file's time.
    const QString priceFile = context.path(QStringLiteral("Data/pricein.dbf"));
    {
        QFile f(priceFile);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_TRUE(f.setFileTime(QDateTime(QDate(2026, 12, 8), QTime(5, 8, 46)), QFileDevice::FileModificationTime));
    }
    Settings settings;
    settings.ClientCode = QStringLiteral("1234");
    settings.ClientName = QStringLiteral("Аптека №1");
    SettingsFiles files(context, dialogs, log);
    files.readPriceDate(settings);

    pc::TDM dm(context, dialogs, log);
    dm.CreateFirebirdObjects();
    dm.OpenDatabase();
    auto *insert = dm.PrepareQuery(QStringLiteral("INSERT INTO ORDERSL (IDNAKL, IDTOVAR, TOVAR, PRODUCT, QNT, PRICE, SUMMA, "
                                                  "CHANGE) VALUES (57, :ID, :T, 'Завод', :Q, :P, :S, 0)"));
    const struct {
        const char *id;
        int qnt;
        double price;
    } lines[] = {{"A", 2, 198.5}, {"B", 3, 1234567.89}, {"C", 3, 0.1}, {"D", 1, -2.75}};
    for (const auto &l : lines) {
        dm.SetParamByName(insert, QStringLiteral("ID"), QString::fromLatin1(l.id));
        dm.SetParamByName(insert, QStringLiteral("T"), QString(QStringLiteral("Товар ") + QString::fromLatin1(l.id)));
        dm.SetParamByName(insert, QStringLiteral("Q"), l.qnt);
        dm.SetParamByName(insert, QStringLiteral("P"), l.price);
        dm.SetParamByName(insert, QStringLiteral("S"), l.price * l.qnt);
        dm.ExecQuery(insert, true);
    }

    pc::OrderFileWriter writer(dm, dialogs, log, context, settings);
    writer.Now = [] { return QDateTime(QDate(2026, 12, 8), QTime(9, 15, 3)); };
    pc::OrderFileInfo info;
    ASSERT_TRUE(writer.WriteOrderFile(57, QStringLiteral("срочно"), info, true));

    // The markups as the pharmacist types them on a screen of this locale.
    const QLocale typed;
    settings.NakladFolder.clear();
    dialogs.notices.clear();
    files.save(settings, {typed.toString(12.5), typed.toString(0.25), QString()});
    EXPECT_TRUE(dialogs.notices.isEmpty()) << dialogs.notices.join(' ').toStdString();
}

TEST(FixedFormats, SameBytesUnderEveryDesktopLocale)
{
    const QString self = QCoreApplication::applicationFilePath();
    QTemporaryDir root;
    ASSERT_TRUE(root.isValid());
    QMap<QString, QList<QByteArray>> written;
    for (const char *lang : {"ru_RU.UTF-8", "en_US.UTF-8", "de_DE.UTF-8", "C"}) {
        ASSERT_TRUE(localeInstalled(lang)) << lang << " is not installed: scripts/setup generates it";
        const QString folder = root.filePath(QString::fromLatin1(lang));
        ASSERT_TRUE(QDir().mkpath(folder));
        const QString command = QStringLiteral("export LANG=%1 LC_ALL=%1 LC_NUMERIC=%1 LC_TIME=%1 %2='%3'; "
                                               "exec '%4' --gtest_filter=FixedFormatsChild.* >child.log 2>&1")
                                    .arg(QString::fromLatin1(lang), QString::fromLatin1(kOutVariable), folder, self);
        const pc::RunResult r = pc::runAndWait(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), command}, folder, 60000);
        ASSERT_EQ(r.status, pc::RunResult::Finished) << lang;
        ASSERT_EQ(r.exitCode, 0) << lang << '\n' << bytesOf(folder + QStringLiteral("/child.log")).toStdString();
        for (const QString &name : kWritten) {
            const QByteArray bytes = bytesOf(folder + QLatin1Char('/') + name);
            ASSERT_FALSE(bytes.isEmpty()) << lang << ' ' << name.toStdString();
            written[name].append(bytes);
        }
    }
    for (const QString &name : kWritten)
        for (qsizetype i = 1; i < written[name].size(); ++i)
            EXPECT_EQ(written[name][i].toStdString(), written[name][0].toStdString()) << name.toStdString() << " run " << i;

    // And the forms are the Russian ones: decimal comma, dd.MM.yyyy HH:mm:ss.
    const QByteArray order = written[kWritten[0]].value(0);
    for (const char *line : {"PriceDateTime=08.12.2026 05:08:46\r\n", "ZakazDateTime=08.12.2026 09:15:03\r\n",
                             "Price = 198,5\r\n", "Summa = 3703703,67\r\n", "Summa = 0,3\r\n", "Price = -2,75\r\n"})
        EXPECT_TRUE(order.contains(line)) << line << '\n' << order.toStdString();
    const QByteArray history = written[kWritten[1]].value(0);
    EXPECT_TRUE(history.startsWith("[08.12.2026 09:15:03]\r\n")) << history.toStdString();
    EXPECT_TRUE(history.contains("DatePrice=08.12.2026 05:08:46\r\n")) << history.toStdString();
    const QByteArray client = written[kWritten[2]].value(0);
    EXPECT_TRUE(client.contains("MaxNacen1=12,5\r\n") && client.contains("MaxNacen2=0,25\r\n")) << client.toStdString();
}

// Files written by an older copy under another locale still read.
TEST(FixedFormats, NumbersReadWithAPointOrAComma)
{
    double v = 0;
    for (const char *text : {"12,5", "12.5", " 12,5 ", "1234567,89"}) {
        v = 0;
        EXPECT_TRUE(pc::parseFloatText(QString::fromLatin1(text), v)) << text;
    }
    EXPECT_DOUBLE_EQ(v, 1234567.89);
    ASSERT_TRUE(pc::parseFloatText(QStringLiteral("-0.75"), v));
    EXPECT_DOUBLE_EQ(v, -0.75);
    v = 3;
    for (const char *text : {"", "abc", "1,2,3", "inf", "12,5x"})
        EXPECT_FALSE(pc::parseFloatText(QString::fromLatin1(text), v)) << text;
    EXPECT_EQ(v, 3);
}
