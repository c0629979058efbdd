// How the pages arrange their controls so that a counter's small screen
// (1024 × 768) shows every text and number whole: rows of controls continue
// on a second line instead of covering each other, and the page splitters
// keep the sizes the pharmacist dragged.

#include "app/MainForm.h"

#include "ui_MainForm.h"

#include "app/SettingsFiles.h"
#include "core/MessageLog.h"
#include "platform/AppError.h"
#include "platform/IniFile.h"
#include "ui/FlowLayout.h"

#include <QSplitter>
#include <QStyle>

namespace {

// Replaces a row of controls by one that wraps. Controls after the row's
// spacer keep to the right end of their line.
void wrapRow(QLayout *row)
{
    QWidget *owner = row->parentWidget();
    auto *flow = new pc::FlowLayout(nullptr, row->spacing() >= 0 ? row->spacing() : 6);
    flow->setContentsMargins(row->contentsMargins());
    bool right = false;
    while (QLayoutItem *item = row->takeAt(0)) {
        if (QWidget *w = item->widget()) {
            if (right)
                flow->addRightWidget(w);
            else
                flow->addWidget(w);
        } else if (item->spacerItem()) {
            right = true;
        }
        delete item;
    }
    if (auto *parentLayout = qobject_cast<QBoxLayout *>(row->parent())) {
        const int at = parentLayout->indexOf(row);
        delete parentLayout->takeAt(at);
        parentLayout->insertLayout(at, flow);
    } else {
        delete row;
        owner->setLayout(flow);
    }
}

} // namespace

void TMainForm::arrangePages()
{
    wrapRow(ui->lyOrderButtons);
    wrapRow(ui->lyOrderFilters);
    wrapRow(ui->lyArchButtons);
    wrapRow(ui->lyNakladButtons);
    wrapRow(ui->lyPaDefectures);

    // The markup boxes are as wide as the longest markup they take.
    const QFontMetrics fm = ui->edPriceAptekaPercent->fontMetrics();
    ui->edPriceAptekaPercent->setFixedWidth(fm.horizontalAdvance(QStringLiteral("-1000,0")) + 16);
    ui->edAptekaPercent->setMaximumWidth(QWIDGETSIZE_MAX);
    ui->edAptekaPercent->setFixedWidth(fm.horizontalAdvance(QStringLiteral("999,9")) + 16);

    // The invoice lines take the page; the earlier prices beside them need
    // only their three narrow columns.
    ui->splNakladLines->setStretchFactor(0, 1);
    ui->splNakladLines->setStretchFactor(1, 0);
    ui->splNakladLines->setChildrenCollapsible(false);
    const int archive = fm.horizontalAdvance(QStringLiteral("9999999,99 28.12.2028 № накл.")) + 3 * 12
                      + style()->pixelMetric(QStyle::PM_ScrollBarExtent) + 4;
    ui->splNakladLines->setSizes({4 * archive, archive});
    ui->splNaklad->setStretchFactor(0, 1);
    ui->splNaklad->setStretchFactor(1, 2);
    ui->splNaklad->setChildrenCollapsible(false);
    for (QSplitter *s : {ui->splNaklad, ui->splNakladLines, ui->splArch, ui->splDefect})
        rememberSplitterSizes(s);
}

// The sizes the pharmacist drags are kept in client.ini like the column
// widths ("splNakladLines=900,240"), written at once, and given back at start.
void TMainForm::rememberSplitterSizes(QSplitter *splitter)
{
    const QString section = QStringLiteral("Splitters");
    const QString key = splitter->objectName();
    QList<int> kept;
    try {
        const QString text = pc::IniFile(m_settingsFiles->clientIni()).readString(section, key, QString());
        for (const QString &part : text.split(QLatin1Char(','), Qt::SkipEmptyParts))
            if (const int size = part.trimmed().toInt(); size > 0)
                kept << size;
    } catch (const std::exception &) {
        // an unreadable settings file leaves the sizes the page starts with
    }
    if (kept.size() == splitter->count())
        splitter->setSizes(kept);
    connect(splitter, &QSplitter::splitterMoved, this, [this, splitter, section, key] {
        QStringList sizes;
        for (int size : splitter->sizes())
            sizes << QString::number(size);
        try {
            pc::IniFile(m_settingsFiles->clientIni()).writeString(section, key, sizes.join(QLatin1Char(',')));
        } catch (const std::exception &e) {
            LogMessage(pc::errorText(e), Warning, false);
        }
    });
}
