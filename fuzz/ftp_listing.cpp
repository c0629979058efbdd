// libFuzzer target: a name listing from the supplier's server, as the
// document fetch takes it: the names of the reply, which of them may become
// local file names, which are invoices, and the document numbers in them.
//
// Input: the reply bytes. A name that passes the check must stay inside the
// folder it is saved to; the numbers must come from the name. Anything else
// (a crash, a sanitizer report) is a fault.
#include "FuzzSupport.h"
#include "documents/FetchDocuments.h"
#include "exchange/FtpListing.h"
#include "platform/CodePage.h"
#include "platform/FileNames.h"

#include <QFileInfo>

namespace {

pc::fuzz::Seeds seeds()
{
    return {
        {QStringLiteral("defect"), QByteArray("d12345.dbf\r\nd12346.DBF\r\n\r\nd1.dbf\n")},
        {QStringLiteral("naklad"), QByteArray("n0107_4711.dbf\r\nn4712.dbf\r\nN1_5.DBF\r\nreadme.txt\r\nn_.dbf\r\n")},
        {QStringLiteral("odd"), pc::toCp1251(QStringLiteral("..\r\n.\r\n/etc/passwd\r\nNaklad\\1\\n1.dbf\r\n"
                                                            "Счёт 5.pdf\r\n \r\nn1_2_3.dbf\r\r\n"))},
    };
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    pc::fuzz::initialize(seeds);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray reply(reinterpret_cast<const char *>(data), qsizetype(size));
    const QString folder = QStringLiteral("/srv/apteka/Data/");
    for (const QString &name : pc::NameListFromReply(reply)) {
        if (name.isEmpty() || name.contains(QLatin1Char('\n')) || name.endsWith(QLatin1Char('\r')))
            std::abort();
        if (!pc::isPlainFileName(name))
            continue;
        const QString local = folder + name;
        const QFileInfo info(local);
        if (info.absolutePath() + QLatin1Char('/') != folder || info.fileName() != name)
            std::abort();
        const QString defecture = pc::DocumentFetch::DefectureNumber(name);
        if (!name.contains(defecture))
            std::abort();
        if (pc::DocumentFetch::IsInvoiceFileName(name)) {
            const QString number = pc::DocumentFetch::InvoiceNumber(name);
            if (!name.contains(number) || number.contains(QLatin1Char('/')))
                std::abort();
        }
    }
    return 0;
}
