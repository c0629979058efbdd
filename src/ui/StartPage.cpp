#include "ui/StartPage.h"

namespace pc {

QString BuildStartPageHtml(const StartPageState &state)
{
    const QString size = QStringLiteral("6");
    QString page = QStringLiteral("<html><body> <font family=\"Arial\" size=") + size + QStringLiteral(">");
    auto item = [&](const char *opening, const char *closing) {
        page += QString::fromUtf8(opening) + size + QString::fromUtf8(closing);
    };
    // The link carries its red itself: a viewer paints links in its own link
    // colour over the colour of the text around them.
    if (!state.priceCurrent)
        item("<li> <b>Прайс не актуальный </b> <font size=",
             " color=\"red\"> <a href = \"_________UpdatePrice\" style=\"color:red\"> обновить прайс! </a> </font>");
    if (!state.orderEmpty)
        item("<li> <b>Текущая заявка не завершена:</b> <font size=",
             "> <a href = \"___________OpenOrder\"> продолжить оформление заявки... </a> </font>");
    else if (state.priceHasData)
        item("<li> <b>Нет открытой заявки:</b> <font size=", "> <a href = \"___________OpenOrder\"> начать новую </a> </font>");
    if (state.unsentOrders > 0)
        item("<li> <b>Есть неотправленные заявки</b> <font size=", "> <a href = \"_________OpenArchive\"> посмотреть... </a> </font>");
    if (state.unreadInvoices > 0)
        item("<li> <b>Есть непросмотренные накладные</b> <font size=",
             "> <a href = \"__________OpenNaklad\"> посмотреть... </a> </font>");
    if (!state.lastJob.isEmpty())
        page += QStringLiteral("<li> <font size=") + size + (state.lastJobFailed ? QStringLiteral(" color=\"red\">") : QStringLiteral(">"))
              + state.lastJob.toHtmlEscaped() + QStringLiteral(" </font>");
    page += QStringLiteral("</font> </body></html>");
    return page;
}

StartPageLink StartPageLinkOf(const QString &url, bool &follow)
{
    follow = url.endsWith(QStringLiteral(".htm"));
    if (follow)
        return StartPageLink::None;
    const QString tail = url.right(20);
    if (tail == QStringLiteral("_________UpdatePrice"))
        return StartPageLink::UpdatePrice;
    if (tail == QStringLiteral("___________OpenOrder"))
        return StartPageLink::OpenOrder;
    if (tail == QStringLiteral("_________OpenArchive"))
        return StartPageLink::OpenArchive;
    if (tail == QStringLiteral("__________OpenNaklad"))
        return StartPageLink::OpenNaklad;
    return StartPageLink::None;
}

} // namespace pc
