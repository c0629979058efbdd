// Several workstations on one database: what the others did (a price load,
// a save, a send, a document fetch) is shown here without a restart, from the
// engine's events, keeping the current row and filter.

#include "app/MainForm.h"

#include "ui_MainForm.h"

#include "ui/SplashWindow.h"

#include "core/MessageLog.h"
#include "db/DataModule.h"
#include "db/firebird/Events.h"
#include "platform/AppError.h"
#include "price/PriceUpdate.h"

#include <QApplication>
#include <QTimer>

namespace {
const QStringList kSharedEvents = {QStringLiteral("PRICE_CHANGED"), QStringLiteral("ORDERS_CHANGED"),
                                   QStringLiteral("DOCUMENTS_CHANGED")};

// Reopens a dataset and goes back to the row of the same key.
void reopenKeeping(pc::Dataset *ds, const QString &keyField, bool lastWhenGone = false)
{
    if (!ds || !ds->Active())
        return;
    const QVariant key = ds->IsEmpty() ? QVariant() : ds->FieldByName(keyField).Value();
    ds->Close();
    ds->Open();
    if (!key.isValid() || !ds->Locate(keyField, key))
        if (lastWhenGone)
            ds->Last();
}
} // namespace

void TMainForm::startSharedEvents()
{
    m_sharedEvents.reset();
    if (DM && !DM->AfterReconnect)
        DM->AfterReconnect = [this] {
            // What the others did while this one was away is shown now.
            m_pendingShared.unite(QSet<QString>(kSharedEvents.begin(), kSharedEvents.end()));
            startSharedEvents();
            followOtherWorkstations();
        };
    if (!DM || !DM->IsServer() || !DM->Connected() || !DM->Database())
        return;
    m_sharedEvents = std::make_unique<pc::fb::EventWatcher>(*DM->Database(), kSharedEvents);
    connect(m_sharedEvents.get(), &pc::fb::EventWatcher::posted, this, [this](const QString &name) {
        m_pendingShared.insert(name);
        followOtherWorkstations();
    });
    try {
        m_sharedEvents->start();
        if (std::exchange(m_sharedEventsFailed, false)) {
            log().logMessage(QStringLiteral("Изменения с других рабочих мест снова приходят сразу"), Info, true);
            // Caught up with what was missed in between.
            m_pendingShared.unite(QSet<QString>(kSharedEvents.begin(), kSharedEvents.end()));
            followOtherWorkstations();
        }
    } catch (const std::exception &e) {
        m_sharedEvents.reset();
        if (!std::exchange(m_sharedEventsFailed, true))
            log().logMessage(QStringLiteral("Не удалось подписаться на изменения с других рабочих мест: они будут "
                                            "проверяться раз в 30 секунд (")
                                 + pc::errorText(e) + QLatin1Char(')'),
                             Warning, true);
        // Until events work again, the list is followed by asking every 30 s.
        if (!std::exchange(m_sharedRetryQueued, true))
            QTimer::singleShot(30000, this, [this] {
                m_sharedRetryQueued = false;
                if (!m_sharedEventsFailed)
                    return;
                m_pendingShared.unite(QSet<QString>(kSharedEvents.begin(), kSharedEvents.end()));
                followOtherWorkstations();
                startSharedEvents();
            });
    }
}

void TMainForm::followOtherWorkstations()
{
    if (m_pendingShared.isEmpty())
        return;
    // Never in the middle of something: a question open, a load or a save
    // running. Tried again shortly.
    if (QApplication::activeModalWidget() || busy() || m_followingShared) {
        QTimer::singleShot(500, this, &TMainForm::followOtherWorkstations);
        return;
    }
    m_followingShared = true;
    const QSet<QString> pending = std::exchange(m_pendingShared, {});
    try {
        if (pending.contains(QStringLiteral("PRICE_CHANGED")) || pending.contains(QStringLiteral("ORDERS_CHANGED")))
            followPriceList(pending.contains(QStringLiteral("PRICE_CHANGED")));
        if (pending.contains(QStringLiteral("ORDERS_CHANGED"))) {
            reopenKeeping(DM->OrdersSet(), QStringLiteral("ID"), true);
            if (DM->OrdersLinesTable() && !DM->OrdersLinesTable()->Active())
                DM->OrdersLinesTable()->Open();
        }
        if (pending.contains(QStringLiteral("DOCUMENTS_CHANGED"))) {
            reopenKeeping(DM->DefectTable(), QStringLiteral("ID"), true);
            reopenKeeping(DM->NakladSet(), QStringLiteral("ID"), true);
        }
        BuildStartPage();
    } catch (const std::exception &e) {
        LogMessage(pc::errorText(e) + QStringLiteral(" (изменения с другого рабочего места)"), 2, true);
    }
    m_followingShared = false;
}

// The list (or only its quantities) as the database holds it now, on the
// same goods row, with the same filter. Whether the list is new is told by
// the version the database keeps with it, not by the event or a row count:
// a daily list usually keeps its length, and an event may have been missed.
void TMainForm::followPriceList(bool newList, bool fromOtherWorkstation)
{
    pc::Dataset *price = DM->PriceSet();
    bool reread = false;
    if (!price || !price->Active()) {
        if (newList && DM->PriceHasData()) {
            DM->OpenPrice(true);
            reread = true;
        }
    } else {
        QVariant id;
        if (!price->IsEmpty())
            id = price->FieldByName(QStringLiteral("IDTOVAR")).Value();
        const int recNo = price->RecNo();
        // A load committed while the list was read moves the version again:
        // read until the rows and the version agree.
        for (int attempt = 0; attempt < 3 && DM->PriceListVersion() != DM->ShownPriceListVersion(); ++attempt) {
            DM->ReloadPrice(); // the quick search's names too
            reread = true;
        }
        if (!reread)
            DM->RefreshPrice();
        if (price->Active() && !price->IsEmpty() && !(id.isValid() && price->Locate(QStringLiteral("IDTOVAR"), id)))
            price->SetRecNo(std::min(std::max(recNo, 1), price->RecordCount()));
    }
    // The title's date is the date stored with the list just read.
    if (reread && pc::ReadStoredPriceDate(*DM, settings, log())) {
        TitleSuffix.clear();
        RefreshTitle();
    }
    ShowOrderTotals();
    if (reread && fromOtherWorkstation)
        log().logMessage(QStringLiteral("Прайс обновлён на другом рабочем месте: показан новый прайс от ") + settings.PriceDate,
                         Info, true);
}
