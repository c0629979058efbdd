#pragma once
// The settings page's group "where the database is": the local database of
// the program folder, or one on the pharmacy's server shared by several
// workstations, with a button that tries the connection.

#include "db/DatabaseLocation.h"

#include <QGroupBox>
#include <optional>
#include <functional>
#include <memory>

namespace Ui {
class DatabaseSettingsGroup;
}

class DatabaseSettingsGroup : public QGroupBox {
    Q_OBJECT
public:
    explicit DatabaseSettingsGroup(QWidget *parent = nullptr);
    ~DatabaseSettingsGroup() override;

    void setLocation(const pc::DatabaseLocation &location);
    // What the page shows; the local choice gives an empty server.
    pc::DatabaseLocation location() const;

    // «Проверить»: the text to show the person. Tests may replace the check.
    // Waits for the answer: for a caller that is not the window.
    QString checkConnection();
    // The same on an attachment of its own on another thread: the window
    // goes on meanwhile and `tell` receives the text. Nothing of the running
    // workstation's connection is touched.
    void startCheck();
    bool isChecking() const { return m_checking; }
    std::function<QString(const pc::DatabaseLocation &)> check = pc::CheckDatabaseLocation;
    // Shows the result of «Проверить» (the main window puts its notice here).
    std::function<void(const QString &)> tell;

Q_SIGNALS:
    void edited();

private:
    void updateEnabled();
    std::unique_ptr<Ui::DatabaseSettingsGroup> ui;
    bool m_filling = false;
    bool m_checking = false;
};
