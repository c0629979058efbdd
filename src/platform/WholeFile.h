#pragma once
// Every file the program writes is written whole or not at all.
//
// WholeFileWriter puts the bytes into a temporary file beside the target,
// checks every write, syncs the file to the disk and only then renames it over
// the target (and syncs the folder, so the new name survives a power cut).
// Any failure on the way removes the temporary file, leaves the target exactly
// as it was and throws AppError with a Russian reason; a full disk is called
// a full disk. Nothing is trusted to a buffered library writer: a write that
// is cut short, a failing flush or sync, a failing rename all count.
//
// appendToFile() adds bytes at the end of a file in the same checked way; a
// failed append cuts the file back to its old length.
//
// Tests reach the system calls through one seam, setFileFaultHook(): it is
// asked before every write, sync and rename and may make that step fail with
// an error number of its choice (ENOSPC for a full disk), or look at the
// files as a crash at that moment would leave them.

#include "platform/AppError.h"

#include <QByteArray>
#include <QString>

#include <functional>

namespace pc {

class WholeFileWriter {
public:
    explicit WholeFileWriter(QString fileName);
    ~WholeFileWriter(); // a file not committed is removed, the target untouched
    WholeFileWriter(const WholeFileWriter &) = delete;
    WholeFileWriter &operator=(const WholeFileWriter &) = delete;

    const QString &fileName() const { return m_fileName; }
    // Creates the temporary file; the target's folder must exist.
    void open();
    bool isOpen() const { return m_fd >= 0; }
    void write(const char *data, qint64 size);
    void write(const QByteArray &bytes) { write(bytes.constData(), bytes.size()); }
    qint64 written() const { return m_written; }
    // Syncs and renames over the target; after it the target holds exactly
    // what was written.
    void commit();
    // Drops what was written; the target stays as it was. Never throws.
    void cancel() noexcept;
    // Syncs the temporary file and leaves it beside the target, unrenamed;
    // returns its path. From then on the caller owns it (see FileGroup.h).
    QString commitAside();

private:
    [[noreturn]] void fail(const QString &what, int error);

    QString m_fileName;
    QString m_tempName;
    int m_fd = -1;
    qint64 m_written = 0;
};

// The whole file in one go.
void writeWholeFile(const QString &fileName, const QByteArray &bytes);
// Appends bytes at the end of the file (created when missing) and syncs them;
// on failure the file is cut back to the length it had, the error thrown.
void appendToFile(const QString &fileName, const QByteArray &bytes);

// Files that hold passwords (client.ini and its reset copy bkclient.ini):
// a new one is made 0600. A file that is replaced keeps the mode it had; the
// temporary file is 0600 until then, whatever it is.
bool holdsSecrets(const QString &fileName);
// Takes group and other permissions off the file (a missing file is left
// alone). An empty text when done or nothing was to do, else why it could
// not, in Russian.
QString keepPrivate(const QString &fileName);

// "на диске нет места" for a full disk, otherwise the system's reason.
QString fileErrorReason(int error);

// ---- the test seam ----------------------------------------------------------------

enum class FileStep { Write, Sync, Rename };
// Called before each step with the target's name (not the temporary one) and,
// for a write, the bytes the target will have written after it. A non-zero
// return makes the step fail with that error number. An empty hook (the
// default) changes nothing.
using FileFaultHook = std::function<int(FileStep step, const QString &target, qint64 writtenAfter)>;
void setFileFaultHook(FileFaultHook hook);
// Asks the hook about a step taken outside WholeFileWriter (the renames of a
// file group); 0 when there is no hook or it lets the step go.
int fileFaultAt(FileStep step, const QString &target, qint64 writtenAfter);

} // namespace pc
