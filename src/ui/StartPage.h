#pragma once
// The start page: a small HTML page of what needs the pharmacist's attention,
// whose links are turned into program actions instead of being followed.

#include <QString>

namespace pc {

struct StartPageState {
    bool priceCurrent = false;   // the price list is today's
    bool orderEmpty = true;      // no quantity in the price list
    bool priceHasData = false;
    int unsentOrders = 0;
    int unreadInvoices = 0;
    QString lastJob;             // the last job's result, when there is one
    bool lastJobFailed = false;
};

// The whole page, one line.
QString BuildStartPageHtml(const StartPageState &state);

enum class StartPageLink { None, UpdatePrice, OpenOrder, OpenArchive, OpenNaklad };
// What a navigation to url asks for; `follow` is set when the address is the
// page itself (ends in ".htm") and may be shown.
StartPageLink StartPageLinkOf(const QString &url, bool &follow);

} // namespace pc
