// Files replaced together: a failure before the journal leaves all old, a
// journal found at start is completed when whole and dropped when not, and
// what a killed writer left is removed.
#include "TempAppDir.h"

#include "platform/AppError.h"
#include "platform/FileGroup.h"
#include "platform/WholeFile.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <cerrno>

using namespace pc;

namespace {

struct FileGroupFixture : ::testing::Test {
    TempAppDir dir;
    const QStringList names{"a.ini", "b.ini", "c.ini"};
    const QStringList allowed{"a.ini", "b.ini", "c.ini"};

    void SetUp() override
    {
        for (const QString &n : names)
            dir.writeBytes(n, "old " + n.toLatin1());
    }
    void TearDown() override { setFileFaultHook({}); }
    QString journal() const { return dir.file("group.journal"); }
    std::vector<FileContent> fresh() const
    {
        std::vector<FileContent> files;
        for (const QString &n : names)
            files.push_back({dir.file(n), "new " + n.toLatin1()});
        return files;
    }
    QStringList contents() const
    {
        QStringList out;
        for (const QString &n : names)
            out << QString::fromLatin1(dir.readBytes(n));
        return out;
    }
    QStringList all(const QString &prefix) const
    {
        QStringList out;
        for (const QString &n : names)
            out << prefix + " " + n;
        return out;
    }
    QStringList rest() const
    {
        QStringList out = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
        for (const QString &n : names)
            out.removeAll(n);
        return out;
    }
    // The state a kill leaves after the new files and the journal are on the
    // disk and `renamed` of them are in place.
    void killedAfterJournal(int renamed, const QByteArray &journalEnd)
    {
        QByteArray text = "file-group 1\n";
        for (int i = 0; i < names.size(); ++i) {
            const QString temp = names[i] + ".~k" + QString::number(i);
            dir.writeBytes(i < renamed ? names[i] : temp, "new " + names[i].toLatin1());
            text += temp.toLatin1() + '\t' + names[i].toLatin1() + '\n';
        }
        dir.writeBytes("group.journal", text + journalEnd);
    }
};

} // namespace

TEST_F(FileGroupFixture, ReplacedTogetherOrNotAtAll)
{
    QFile::setPermissions(dir.file("a.ini"), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
    replaceFilesTogether(journal(), fresh());
    EXPECT_EQ(contents(), all("new"));
    EXPECT_EQ(rest(), QStringList());
    // A replaced file keeps the mode of the one it replaced.
    const QFile::Permissions modeBits = QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup
                                      | QFile::WriteGroup | QFile::ExeGroup | QFile::ReadOther | QFile::WriteOther
                                      | QFile::ExeOther;
    EXPECT_EQ(QFile::permissions(dir.file("a.ini")) & modeBits, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);

    // The disk fills up while the second file or the journal is written.
    for (const QString &failing : {QStringLiteral("b.ini"), QStringLiteral("group.journal")}) {
        SCOPED_TRACE(failing.toStdString());
        for (const QString &n : names)
            dir.writeBytes(n, "old " + n.toLatin1());
        setFileFaultHook([failing](FileStep step, const QString &target, qint64) {
            return step == FileStep::Write && target.endsWith(failing) ? ENOSPC : 0;
        });
        EXPECT_THROW(replaceFilesTogether(journal(), fresh()), AppError);
        setFileFaultHook({});
        EXPECT_EQ(contents(), all("old"));
        EXPECT_EQ(rest(), QStringList());
    }
}

TEST_F(FileGroupFixture, AWholeJournalIsCompletedAndATornOneDropped)
{
    // Killed with one, then none of the files renamed: the start finishes.
    for (int renamed : {1, 0, 3}) {
        SCOPED_TRACE(renamed);
        SetUp();
        killedAfterJournal(renamed, "end 3\n");
        EXPECT_EQ(completeInterruptedReplace(journal(), allowed), JournalOutcome::Completed);
        EXPECT_EQ(contents(), all("new"));
        EXPECT_EQ(rest(), QStringList());
    }
    // A journal cut short, or naming a file it may not touch, is dropped
    // with the temporary files it names; the files stay as they were.
    for (const QByteArray &end : {QByteArray("end 4\n"), QByteArray("en")}) {
        SetUp();
        killedAfterJournal(0, end);
        EXPECT_EQ(completeInterruptedReplace(journal(), allowed), JournalOutcome::Discarded);
        EXPECT_EQ(contents(), all("old"));
        EXPECT_EQ(rest(), QStringList());
    }
    SetUp();
    killedAfterJournal(0, "end 3\n");
    EXPECT_EQ(completeInterruptedReplace(journal(), {"a.ini", "b.ini"}), JournalOutcome::Discarded);
    EXPECT_EQ(contents(), all("old"));
    EXPECT_EQ(completeInterruptedReplace(journal(), allowed), JournalOutcome::None);
}

TEST_F(FileGroupFixture, StaleTemporaryFilesAreRemovedAndNothingElse)
{
    dir.writeBytes("a.ini.~1x9z", "half");
    dir.writeBytes("Data/pricein.dbf.~abc", "half");
    dir.writeBytes("readme.txt", "keep");
    dir.writeBytes("a.ini.~toolong", "keep");
    QDir(dir.path()).mkdir("folder.~ab");
    QFile::link(dir.file("readme.txt"), dir.file("link.~ab"));
    EXPECT_EQ(removeStaleTempFiles(dir.path()), QStringList{"a.ini.~1x9z"});
    EXPECT_EQ(removeStaleTempFiles(dir.file("Data")), QStringList{"pricein.dbf.~abc"});
    EXPECT_EQ(rest(), QStringList({"a.ini.~toolong", "link.~ab", "readme.txt"}));
}
