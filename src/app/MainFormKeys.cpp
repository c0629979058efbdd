// The main window without a mouse: Alt+1…5 and Ctrl+Tab switch the pages,
// the actions of each page have the usual desktop shortcuts (shown in their
// tool tips and in the list under F1), every field label focuses its field
// by its underlined letter, and Tab leaves a grid for the next control.

#include "app/MainForm.h"

#include "ui_MainForm.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QKeySequence>
#include <QShortcut>
#include <QTabBar>

namespace {

struct KeyEntry {
    const char *keys;
    const char *action;
};

// What the list under F1 says, in the order a day at the counter goes.
const KeyEntry kKeys[] = {
    {"Alt+1 … Alt+5", "страницы «Начальная», «Заказ», «Архив заявок», «Дефектуры и накл-е», «Настройки»"},
    {"Ctrl+Tab, Ctrl+Shift+Tab", "следующая, предыдущая страница"},
    {"Tab, Shift+Tab", "следующее, предыдущее поле (также из таблицы)"},
    {"Alt + подчёркнутая буква", "кнопка или поле с этой буквой"},
    {"F5", "«Обновить данные» (на странице «Дефектуры и накл-е» — загрузить дефектуры и накладные)"},
    {"Ctrl+F", "фильтр прайс-листа по наименованию"},
    {"Esc", "очистить фильтр (в поле «Фильтр:»)"},
    {"буквы в прайс-листе", "поиск по началу наименования"},
    {"цифры в прайс-листе", "количество заказа в текущей строке"},
    {"Delete в прайс-листе", "убрать заказ текущей строки"},
    {"Ctrl+S", "«Сохранить»: заявку в архив, заявку в файл (в архиве), настройки"},
    {"Ctrl+Enter", "«Отправить заявку» (в архиве — «Отправить заявки»)"},
    {"Ctrl+P", "печать: заявки, накладной"},
    {"Delete в архиве заявок", "удалить выбранную заявку"},
    {"F1", "этот список"},
    {"Alt+F4", "закрыть программу"},
};

QString plain(const QString &caption)
{
    QString text = caption;
    return text.remove(QLatin1Char('&'));
}

} // namespace

QString TMainForm::KeysListHtml()
{
    QString html = QStringLiteral("<h3>Клавиши</h3><table cellspacing=\"0\" cellpadding=\"3\">");
    for (const KeyEntry &k : kKeys)
        html += QStringLiteral("<tr><td><b>%1</b></td><td>%2</td></tr>")
                    .arg(QString::fromUtf8(k.keys).toHtmlEscaped(), QString::fromUtf8(k.action).toHtmlEscaped());
    return html + QStringLiteral("</table>");
}

void TMainForm::ShowKeysList()
{
    const int w = std::min(width(), 640), h = std::min(height(), 520);
    const QPoint at = mapToGlobal(QPoint((width() - w) / 2, (height() - h) / 2));
    ShowInfoWindow(this, KeysListHtml(), false, at.x(), at.y(), w, h, false);
}

bool TMainForm::workingInPriceGrid()
{
    // The window's own focus (kept while a notice is up) unless that is a
    // button or a control the program's work switched off; then the place
    // the person last typed in.
    QWidget *place = focusWidget();
    if (!place || !place->isEnabled() || !place->isVisible() || qobject_cast<QAbstractButton *>(place)
        || qobject_cast<QTabBar *>(place))
        place = m_workFocus;
    return !place || place == ui->dbgrdPrice;
}

void TMainForm::showPage(int index)
{
    if (index >= 0 && index < ui->pgcMain->count() && ui->pgcMain->isTabEnabled(index))
        ui->pgcMain->setCurrentIndex(index);
}

void TMainForm::makeKeys()
{
    // The labels beside the fields the designer left without one.
    ui->lblAddress->setBuddy(ui->cbAddresses);
    ui->lblLoadFor->setBuddy(ui->cbAddresses);
    ui->lblAptekaPercent->setBuddy(ui->edPriceAptekaPercent);
    ui->lblOrderComment->setBuddy(ui->edOrderComment);
    ui->lblPriceFilter->setBuddy(ui->edPriceFilter);
    ui->lblSystemMessages->setBuddy(ui->wbStartPage);

    // Tab goes on to the next control; the arrows move inside a grid.
    for (QAbstractItemView *view : findChildren<QAbstractItemView *>())
        view->setTabKeyNavigation(false);

    // The person's place: a notice gives the keyboard back to the price grid
    // only when the person was working there.
    // The keyboard leaving a control that is disabled or hidden under it
    // (the program at work) does not move the person's place.
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget *old, QWidget *now) {
        if (old && old == m_workFocus && (!old->isEnabled() || !old->isVisible()))
            return;
        if (now && now->window() == this && !qobject_cast<QAbstractButton *>(now) && !qobject_cast<QTabBar *>(now))
            m_workFocus = now;
    });

    auto windowKey = [this](const QKeySequence &key, QWidget *owner, std::function<void()> action) {
        auto *s = new QShortcut(key, owner);
        connect(s, &QShortcut::activated, this, std::move(action));
        return s;
    };
    for (int i = 0; i < ui->pgcMain->count(); ++i) {
        windowKey(QKeySequence(Qt::ALT | Qt::Key(Qt::Key_1 + i)), this, [this, i] { showPage(i); });
        ui->pgcMain->setTabToolTip(i, QStringLiteral("Alt+%1").arg(i + 1));
    }
    auto step = [this](int by) {
        const int n = ui->pgcMain->count();
        showPage((ui->pgcMain->currentIndex() + by + n) % n);
    };
    windowKey(QKeySequence(Qt::CTRL | Qt::Key_Tab), this, [step] { step(1); });
    windowKey(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab), this, [step] { step(-1); });
    windowKey(QKeySequence(Qt::Key_F1), this, [this] { ShowKeysList(); });
    windowKey(QKeySequence(Qt::CTRL | Qt::Key_F), this, [this] {
        showPage(ui->pgcMain->indexOf(ui->tsOrder));
        ui->edPriceFilter->setFocus(Qt::ShortcutFocusReason);
        ui->edPriceFilter->selectAll();
    });
    auto *clearFilter = windowKey(QKeySequence(Qt::Key_Escape), ui->edPriceFilter, [this] { ui->edPriceFilter->clear(); });
    clearFilter->setContext(Qt::WidgetShortcut);
    ui->btnPriceFilterClear->setToolTip(ui->btnPriceFilterClear->toolTip() + QStringLiteral(" (Esc)"));

    // A button's key works while the button is on screen and enabled: the
    // same key does the same kind of thing on each page.
    auto buttonKey = [this](QAbstractButton *button, const QList<QKeySequence> &keys) {
        if (button->accessibleName().isEmpty())
            button->setAccessibleName(button->text().isEmpty() ? button->toolTip() : plain(button->text()));
        for (const QKeySequence &key : keys) {
            auto *s = new QShortcut(key, button);
            connect(s, &QShortcut::activated, button, [button] {
                if (button->isEnabled())
                    button->click();
            });
        }
        const QString what = button->toolTip().isEmpty() ? plain(button->text()) : button->toolTip();
        button->setToolTip(QStringLiteral("%1 (%2)").arg(what, keys.first().toString(QKeySequence::NativeText)));
    };
    const QKeySequence save(Qt::CTRL | Qt::Key_S), print(Qt::CTRL | Qt::Key_P), refresh(Qt::Key_F5);
    const QList<QKeySequence> send = {QKeySequence(Qt::CTRL | Qt::Key_Return), QKeySequence(Qt::CTRL | Qt::Key_Enter)};
    buttonKey(ui->btnSaveOrderToArch, {save});
    buttonKey(ui->btnSendOrder, send);
    buttonKey(ui->btnPrintOrderFromPrice, {print});
    buttonKey(ui->btnUpdatePrice, {refresh});
    buttonKey(ui->btnSaveOrder, {save});
    buttonKey(ui->btnSendOrders, send);
    buttonKey(ui->btnPrintOrder, {print});
    buttonKey(ui->btnDeleteOrder, {QKeySequence(Qt::Key_Delete)});
    buttonKey(ui->btnGetDefecturesAndNaklad, {refresh});
    buttonKey(ui->btnPrint, {print});
    buttonKey(ui->btnSaveSettings, {save});
    // On the start page F5 updates the price list as the order page's button does.
    windowKey(refresh, ui->tsHome, [this] {
        if (ui->btnUpdatePrice->isEnabled())
            ui->btnUpdatePrice->click();
    });
}
