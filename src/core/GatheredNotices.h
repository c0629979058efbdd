#pragma once
// Notices held back while a sequence runs and then told in one window: a new
// client's first start says what is still missing once, after the identity
// window, instead of a notice for each gap. Everything else passes through.

#include "core/JobDialogs.h"

#include <QStringList>

class GatheredNotices : public pc::DialogsRouter {
public:
    explicit GatheredNotices(Dialogs &target) : DialogsRouter(&target) {}

    // One notice with every text held back, each on a line of its own; nothing
    // when none came. The texts are logged as details when any asked for it.
    void tell();
    const QStringList &texts() const { return m_texts; }

    void showNotice(const QString &text, bool alsoLogDetail = false) override;

private:
    QStringList m_texts;
    bool m_logDetail = false;
};
