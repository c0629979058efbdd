#pragma once
// Notices held back while a sequence runs and then told in one window: a new
// client's first start says what is still missing once, after the identity
// window, instead of a notice for each gap. Everything else passes through.

#include "core/Dialogs.h"

#include <QStringList>
#include <functional>

class GatheredNotices : public Dialogs {
public:
    explicit GatheredNotices(Dialogs &target) : m_target(target) {}

    // One notice with every text held back, each on a line of its own; nothing
    // when none came. The texts are logged as details when any asked for it.
    void tell();
    const QStringList &texts() const { return m_texts; }

    int askQuestion(const QString &t, bool f = true, bool c = false) override { return m_target.askQuestion(t, f, c); }
    void showNotice(const QString &text, bool alsoLogDetail = false) override;
    void showWait(const QString &t, int p = 0) override { m_target.showWait(t, p); }
    void hideWait() override { m_target.hideWait(); }
    void setWaitCancel(std::function<void()> c) override { m_target.setWaitCancel(std::move(c)); }
    QString pickFolder(const QString &c, const QString &s) override { return m_target.pickFolder(c, s); }
    QString pickOpenFile(const QString &c, const QString &s, const QString &f) override { return m_target.pickOpenFile(c, s, f); }
    QString pickSaveFile(const QString &c, const QString &s, const QString &f) override { return m_target.pickSaveFile(c, s, f); }
    bool inputBox(const QString &c, const QString &p, QString &v) override { return m_target.inputBox(c, p, v); }
    bool askClientIdentity(ClientIdentity &id) override { return m_target.askClientIdentity(id); }

private:
    Dialogs &m_target;
    QStringList m_texts;
    bool m_logDetail = false;
};
