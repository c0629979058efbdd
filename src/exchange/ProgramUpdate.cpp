#include "exchange/ProgramUpdate.h"

#include "core/Dialogs.h"
#include "core/MessageLog.h"
#include "core/Settings.h"
#include "exchange/FtpClient.h"
#include "exchange/ServerConnection.h"
#include "platform/FileNames.h"
#include "platform/Signature.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace pc {

namespace {
void makeExecutable(const QString &file)
{
    QFile::setPermissions(file, QFile::permissions(file) | QFile::ExeOwner | QFile::ExeUser | QFile::ReadOwner);
}

// The names a new version or the updater may carry: this system's own, then
// the one suppliers serving Windows clients use.
const QStringList kUpdateNames{QStringLiteral("update"), QStringLiteral("update.exe")};
// The supplier's detached signature of either.
const QString kSignatureName = QStringLiteral("update.sig");

QString refusedText(const QString &problem)
{
    return QStringLiteral("Обновление программы не принято: %1. Работает прежняя версия").arg(problem);
}

// A program this system can run: an executable binary or a script. Anything
// else (a Windows program among them) would leave no working program behind.
bool runnableHere(const QString &file)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QByteArray head = f.read(4);
    return head == QByteArray("\x7f" "ELF") || head.startsWith("#!");
}
} // namespace

QString ProgramUpdate::ArchivedUpdate() const
{
    const QFileInfoList files = QDir(m_appDir).entryInfoList(QDir::Files | QDir::Hidden);
    for (const QString &name : kUpdateNames)
        for (const QFileInfo &f : files)
            if (f.fileName().compare(name, Qt::CaseInsensitive) == 0)
                return f.filePath();
    return QString();
}

QString ProgramUpdate::SupplierKey() const { return m_appDir + supplierKeyFileName(); }

ProgramUpdate::ProgramUpdate(const QString &appDir, const QString &executable, Dialogs &dialogs, MessageLog &log)
    : m_appDir(appDir), m_executable(executable), m_dialogs(dialogs), m_log(log)
{
}

void ProgramUpdate::CheckProgramUpdate(bool showOnlyOrder)
{
    const QString update = ArchivedUpdate();
    if (update.isEmpty())
        return;
    m_log.logDetail(QStringLiteral("Пришло обновление программы"));
    // Only what the supplier signed runs here: an update without a valid
    // signature is removed with its signature, and the program stays as it is.
    const QString signature = m_appDir + kSignatureName;
    const QString problem = fileSignatureProblem(update, signature, SupplierKey());
    if (!problem.isEmpty()) {
        QFile::remove(update);
        QFile::remove(signature);
        m_dialogs.showNotice(refusedText(problem), true);
        return;
    }
    if (QFileInfo(m_executable).lastModified() > QFileInfo(update).lastModified()
        && m_dialogs.askQuestion(QStringLiteral("Пришло обновление программы, но оно имеет более старую дату изменения, "
                                                "отказаться от обновления?"),
                                 true, false)
               == mrYes)
        return;
    // A version put aside earlier and never installed is replaced by the newer
    // one; when the new one cannot be put in place it stays where it is and the
    // pharmacist is told, instead of being deleted.
    if (!runnableHere(update)) {
        m_log.logMessage(QStringLiteral("Обновление программы %1 не установлено: это не программа для этой системы")
                             .arg(QDir::toNativeSeparators(update)),
                         Error, true);
        return;
    }
    QDir().mkpath(m_appDir + QStringLiteral("Update"));
    QFile::remove(PlacedUpdate());
    if (!QFile::rename(update, PlacedUpdate())) {
        m_log.logMessage(QStringLiteral("Не удалось подготовить обновление программы: файл %1 не перемещён в %2")
                             .arg(QDir::toNativeSeparators(update), QDir::toNativeSeparators(PlacedUpdate())),
                         Error, true);
        return;
    }
    QFile::remove(signature);
    makeExecutable(PlacedUpdate());
    if (showOnlyOrder) {
        m_dialogs.showNotice(QStringLiteral("Пришло обновление программы. Программу необходимо перезапустить!"), true);
        return;
    }
    m_dialogs.showNotice(QStringLiteral("Пришло обновление программы. Программа будет перезапущена!"), true);
    if (restartProgram)
        restartProgram();
}

void ProgramUpdate::UpdateProgram(ServerConnection &connection, const Settings &settings)
{
    connection.setLogin(settings.ClientAccount);
    if (!connection.ConnectToServer(false))
        return;
    try {
        QDir().mkpath(m_appDir + QStringLiteral("Update"));
        connection.ftp().changeDir(QStringLiteral("\\Update"));
        try {
            connection.ftp().get(kUpdateNames[0], Updater());
        } catch (const FtpError &e) {
            if (!e.message().contains(QStringLiteral("not found")))
                throw;
            connection.ftp().get(kUpdateNames[1], Updater());
        }
    } catch (const FtpError &e) {
        if (!e.message().contains(QStringLiteral("not found")))
            throw;
        connection.DisconnectFromServer();
        m_dialogs.showNotice(QStringLiteral("На сервере нет обновлений или исправлений программы"), true);
        return;
    }
    // The updater runs only when the supplier signed it.
    const QString signature = Updater() + QStringLiteral(".sig");
    QFile::remove(signature);
    QString problem;
    try {
        connection.ftp().get(kSignatureName, signature);
        problem = fileSignatureProblem(Updater(), signature, SupplierKey());
    } catch (const FtpError &e) {
        if (!e.message().contains(QStringLiteral("not found")))
            throw;
        problem = QStringLiteral("на сервере нет подписи %1").arg(kSignatureName);
    }
    QFile::remove(signature);
    if (!problem.isEmpty()) {
        QFile::remove(Updater());
        connection.DisconnectFromServer();
        m_dialogs.showNotice(refusedText(problem), true);
        return;
    }
    makeExecutable(Updater());
    m_dialogs.showNotice(QStringLiteral("Получено обновление/исправление программы и оно будет запущено (программа заказа "
                                        "будет завершена для проведения обновления) "),
                         true);
    QString error;
    if (startAndQuit && !startAndQuit(Updater(), m_appDir + QStringLiteral("Update/"), error))
        m_dialogs.showNotice(QStringLiteral("Не удалось запустить программу обновления: %1").arg(error), true);
}

} // namespace pc
