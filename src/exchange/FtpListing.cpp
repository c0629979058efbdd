#include "exchange/FtpListing.h"

#include "platform/CodePage.h"

namespace pc {

QStringList NameListFromReply(const QByteArray &reply)
{
    QStringList names;
    for (QByteArray line : reply.split('\n')) {
        while (line.endsWith('\r'))
            line.chop(1);
        if (!line.isEmpty())
            names << fromCp1251(line);
    }
    return names;
}

} // namespace pc
