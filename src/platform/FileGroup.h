#pragma once
// Files that belong together replaced as one change: after a crash at any
// moment they are all old or all new.
//
// replaceFilesTogether() writes every new file whole beside its target (a
// temporary file, synced), then a small journal naming each temporary file
// and its target, and only then renames them over the targets; the journal
// goes last. A start after a crash calls completeInterruptedReplace(): a whole
// journal means every new file was on the disk, and the renames are finished;
// a journal that is not whole is dropped with the temporary files it names.
// Without a journal nothing was replaced yet, and the temporary files are
// leftovers for removeStaleTempFiles().
//
// Journal (text, UTF-8):
//   file-group 1
//   <temporary name>\t<target name>     one line per file, names in the journal's folder
//   end <number of files>

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <vector>

namespace pc {

struct FileContent {
    QString fileName; // in the journal's folder
    QByteArray bytes;
};

// Throws AppError (and leaves every target as it was) when a new file or the
// journal cannot be written. A rename that fails once the journal is whole
// throws as well; the journal then stays for the next start to complete.
void replaceFilesTogether(const QString &journal, const std::vector<FileContent> &files);

enum class JournalOutcome { None, Completed, Discarded };
// Finishes or drops what an interrupted replaceFilesTogether() left. Only
// targets named in `allowed` (plain file names) are ever touched; a journal
// naming anything else is not whole.
JournalOutcome completeInterruptedReplace(const QString &journal, const QStringList &allowed);

// Whether a name is that of a whole-file writer's temporary file ("<name>.~<base 36>").
bool isWholeFileTemp(const QString &fileName);
// Removes from the folder (not below it) the temporary files of whole-file
// writes that a killed process left: regular files of this user named as
// isWholeFileTemp() says. Only safe while no other process of ours writes
// there. Returns the names removed.
QStringList removeStaleTempFiles(const QString &folder);

} // namespace pc
