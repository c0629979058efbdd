#pragma once
// New program versions: one delivered inside the price archive (put aside for
// the launcher, which installs it at the restart), and an updater program
// fetched on demand from the server's \Update folder. Either is taken only
// with the supplier's signature (update.sig beside it) that the public key
// kept beside the program confirms; the key itself never comes from the
// server or an archive.

#include <QString>
#include <functional>

class Dialogs;
class MessageLog;
struct Settings;

namespace pc {

class ServerConnection;

class ProgramUpdate {
public:
    // appDir: the program folder (ending in "/"); executable: the running program.
    ProgramUpdate(const QString &appDir, const QString &executable, Dialogs &dialogs, MessageLog &log);

    // Restarts through the launcher (the window's restart step).
    std::function<void()> restartProgram;
    // Starts a program and ends this one; false (with a reason) when it could not start.
    std::function<bool(const QString &program, const QString &workingDir, QString &error)> startAndQuit;

    // A new version left in the program folder by the price archive ("update",
    // or "update.exe" as suppliers serving Windows clients name it): put aside
    // as Update/client for the launcher, then restart unless the pharmacist
    // still has price changes to review. Nothing when there is none.
    void CheckProgramUpdate(bool showOnlyOrder);

    // "Обновление программы...": fetches the updater from the server's \Update
    // folder ("update", else "update.exe") under the client account into
    // Update/update and starts it.
    void UpdateProgram(ServerConnection &connection, const Settings &settings);

    // The new version the archive left, in any letter case; empty when none.
    QString ArchivedUpdate() const;
    QString PlacedUpdate() const { return m_appDir + QStringLiteral("Update/client"); }
    QString Updater() const { return m_appDir + QStringLiteral("Update/update"); }
    QString SupplierKey() const;

private:
    QString m_appDir;
    QString m_executable;
    Dialogs &m_dialogs;
    MessageLog &m_log;
};

} // namespace pc
