#include "ui/SupplierPanels.h"

#include "platform/CodePage.h"
#include "platform/FileNames.h"
#include "platform/IniFile.h"
#include "platform/Shell.h"
#include "price/PriceUpdate.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QImage>
#include <QImageReader>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QTextBrowser>
#include <QTextDocument>
#include <QTimer>

#include <curl/curl.h>

#include <set>
#include <sys/stat.h>

namespace pc {

namespace {

constexpr qint64 kMaxPageBytes = 4 * 1024 * 1024;
constexpr qint64 kMaxImageBytes = 4 * 1024 * 1024;
constexpr int kMaxImages = 16;

bool isWebAddress(const QString &text)
{
    const QString t = text.trimmed();
    return t.startsWith(QLatin1String("http://"), Qt::CaseInsensitive)
        || t.startsWith(QLatin1String("https://"), Qt::CaseInsensitive);
}

bool isPicture(const QByteArray &bytes)
{
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    return !QImageReader::imageFormat(&buffer).isEmpty();
}

QString pictureHtml(const QUrl &name)
{
    return QStringLiteral("<html><body><p align=\"center\"><img src=\"%1\"></p></body></html>")
        .arg(name.toString().toHtmlEscaped());
}

// The charset parameter of a Content-Type value ("" when none).
QByteArray charsetOf(const QByteArray &contentType)
{
    static const QRegularExpression re(QStringLiteral("charset\\s*=\\s*[\"']?\\s*([A-Za-z0-9_.:\\-]+)"),
                                       QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = re.match(QString::fromLatin1(contentType));
    return m.hasMatch() ? m.captured(1).toLatin1() : QByteArray();
}

bool isValidUtf8(const QByteArray &bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString text = utf8.decode(bytes); // decoding happens on conversion
    (void)text;
    return !utf8.hasError();
}

// ---- libcurl -------------------------------------------------------------------

struct Transfer {
    QByteArray body;
    QByteArray contentType;
    qint64 maxBytes = 0;
    bool tooLarge = false;
    const std::atomic<bool> *cancelled = nullptr;
};

size_t onBody(char *data, size_t size, size_t count, void *user)
{
    auto *t = static_cast<Transfer *>(user);
    const size_t n = size * count;
    if (t->body.size() + qint64(n) > t->maxBytes) {
        t->tooLarge = true;
        return 0;
    }
    t->body.append(data, qsizetype(n));
    return n;
}

size_t onHeader(char *data, size_t size, size_t count, void *user)
{
    auto *t = static_cast<Transfer *>(user);
    const QByteArray line = QByteArray(data, qsizetype(size * count)).trimmed();
    if (line.startsWith("HTTP/"))
        t->contentType.clear(); // a new response after a redirection
    else if (line.toLower().startsWith("content-type:"))
        t->contentType = line.mid(13).trimmed();
    return size * count;
}

int onProgress(void *user, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    const auto *t = static_cast<Transfer *>(user);
    return t->cancelled && t->cancelled->load() ? 1 : 0;
}

} // namespace

QByteArray DeclaredHtmlCharset(const QByteArray &html)
{
    // Only the head of the page counts, as in a browser's pre-scan.
    static const QRegularExpression meta(QStringLiteral("<meta\\b[^>]*>"), QRegularExpression::CaseInsensitiveOption);
    const QString head = QString::fromLatin1(html.left(4096));
    for (auto it = meta.globalMatch(head); it.hasNext();) {
        const QByteArray charset = charsetOf(it.next().captured(0).toLatin1());
        if (!charset.isEmpty())
            return charset;
    }
    return {};
}

QString DecodeSupplierText(const QByteArray &bytes, const QByteArray &serverCharset)
{
    for (const QByteArray &declared : {serverCharset, DeclaredHtmlCharset(bytes)}) {
        if (declared.isEmpty())
            continue;
        QStringDecoder decoder(declared.constData());
        if (decoder.isValid())
            return decoder.decode(bytes);
    }
    if (isValidUtf8(bytes)) {
        QStringDecoder utf8(QStringDecoder::Utf8); // drops a byte-order mark
        return utf8.decode(bytes);
    }
    return fromCp1251(bytes);
}

WebContent FetchWebContent(const QUrl &url, int timeoutMs, qint64 maxBytes, const std::atomic<bool> *cancelled)
{
    WebContent out;
    out.url = url;
    const QString scheme = url.scheme().toLower();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https")) {
        out.error = QStringLiteral("неверный адрес %1").arg(url.toString());
        return out;
    }
    CURL *curl = curl_easy_init();
    if (!curl) {
        out.error = QStringLiteral("не удалось начать загрузку");
        return out;
    }
    Transfer t;
    t.maxBytes = maxBytes;
    t.cancelled = cancelled;
    char errorBuffer[CURL_ERROR_SIZE] = {};
    const QByteArray address = url.toEncoded();
    curl_easy_setopt(curl, CURLOPT_URL, address.constData());
    curl_easy_setopt(curl, CURLOPT_PROXY, "");
    curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, long(timeoutMs));
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, long(timeoutMs));
    curl_easy_setopt(curl, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &onBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, &onHeader);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &t);
    curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &onProgress);
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &t);
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl, CURLOPT_ERRORBUFFER, errorBuffer);
    const CURLcode rc = curl_easy_perform(curl);
    if (rc == CURLE_OK) {
        char *effective = nullptr;
        if (curl_easy_getinfo(curl, CURLINFO_EFFECTIVE_URL, &effective) == CURLE_OK && effective)
            out.url = QUrl::fromEncoded(QByteArray(effective));
        out.body = std::move(t.body);
        out.contentType = t.contentType;
    } else if (t.tooLarge) {
        out.error = QStringLiteral("ответ больше %1 байт").arg(maxBytes);
    } else {
        out.error = QString::fromUtf8(errorBuffer[0] ? errorBuffer : curl_easy_strerror(rc));
    }
    curl_easy_cleanup(curl);
    return out;
}

// ---- the panels ------------------------------------------------------------------

SupplierPanels::SupplierPanels(QString appDir, QTextBrowser *banner, QTextBrowser *strip, QObject *parent)
    : QObject(parent), m_appDir(std::move(appDir)), m_banner(banner), m_strip(strip),
      m_watcher(new QFileSystemWatcher(this)), m_settle(new QTimer(this))
{
    static const bool curlReady = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    (void)curlReady;
    OpenLink = [](const QUrl &url) { shellOpen(url.isLocalFile() ? url.toLocalFile() : url.toString()); };
    for (QTextBrowser *view : {m_banner, m_strip}) {
        if (!view)
            continue;
        view->setOpenLinks(false);
        view->setOpenExternalLinks(false);
        connect(view, &QTextBrowser::anchorClicked, this, &SupplierPanels::linkClicked);
    }
    // Files are often replaced in several steps (a new name, then a rename):
    // look once things have settled.
    m_settle->setSingleShot(true);
    m_settle->setInterval(300);
    connect(m_settle, &QTimer::timeout, this, &SupplierPanels::Refresh);
    connect(m_watcher, &QFileSystemWatcher::directoryChanged, m_settle, qOverload<>(&QTimer::start));
    connect(m_watcher, &QFileSystemWatcher::fileChanged, m_settle, qOverload<>(&QTimer::start));
}

SupplierPanels::~SupplierPanels() { stopWebFetch(); }

SupplierPanels::Stamp SupplierPanels::stampOf(const QString &path)
{
    // Identity, size and change time to the nanosecond: a file replaced by one
    // of the same size within the same millisecond still counts as changed.
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    return {qint64(st.st_ino), qint64(st.st_size), qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

QString SupplierPanels::bannerSetting() const
{
    return IniFile(m_appDir + QStringLiteral("banner.ini")).readString(QStringLiteral("Header"), QStringLiteral("HomeBanner"));
}

void SupplierPanels::watch()
{
    QStringList paths{m_appDir, m_appDir + QStringLiteral("banner.ini"), m_appDir + QStringLiteral("top.htm")};
    if (!m_bannerFile.isEmpty()) {
        paths << m_bannerFile << QFileInfo(m_bannerFile).absolutePath();
    }
    QStringList wanted;
    for (const QString &p : paths)
        if (QFileInfo::exists(p) && !m_watcher->files().contains(p) && !m_watcher->directories().contains(p))
            wanted << p;
    if (!wanted.isEmpty())
        m_watcher->addPaths(wanted);
}

void SupplierPanels::linkClicked(const QUrl &link)
{
    auto *view = qobject_cast<QTextBrowser *>(sender());
    QUrl url = link;
    if (url.isRelative() && view) {
        const QUrl base = view->document()->baseUrl();
        url = base.isValid() ? base.resolved(link) : link;
    }
    const QString scheme = url.scheme().toLower();
    // Only what a browser or mail program opens; nothing is started.
    if (scheme == QLatin1String("http") || scheme == QLatin1String("https") || scheme == QLatin1String("ftp")
        || scheme == QLatin1String("mailto")) {
        if (OpenLink)
            OpenLink(url);
    }
}

void SupplierPanels::showContent(QTextBrowser *view, const QByteArray &bytes, const QByteArray &charset, const QUrl &base)
{
    QTextDocument *doc = view->document();
    doc->clear();
    doc->setBaseUrl(base);
    if (isPicture(bytes)) {
        QImage image;
        image.loadFromData(bytes);
        const QUrl name(QStringLiteral("supplier-picture:") + base.fileName());
        view->setHtml(pictureHtml(name));
        doc->addResource(QTextDocument::ImageResource, name, image);
        doc->markContentsDirty(0, doc->characterCount());
    } else {
        const QString text = DecodeSupplierText(bytes, charset);
        if (Qt::mightBeRichText(text))
            view->setHtml(text);
        else
            view->setPlainText(text);
    }
    doc->setBaseUrl(base);
}

void SupplierPanels::showFile(QTextBrowser *view, const QString &path)
{
    QFile f(path);
    QByteArray bytes;
    if (f.open(QIODevice::ReadOnly))
        bytes = f.readAll();
    view->setSearchPaths({QFileInfo(path).absolutePath()});
    showContent(view, bytes, {}, QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()));
}

void SupplierPanels::LoadTopStrip()
{
    const QString file = m_appDir + QStringLiteral("top.htm");
    m_stripStamp = stampOf(file);
    const bool visible = m_stripStamp.size > 0 && m_strip;
    if (visible)
        showFile(m_strip, file);
    else if (m_strip)
        m_strip->clear();
    if (ShowStrip)
        ShowStrip(visible);
    watch();
}

void SupplierPanels::LoadBanner()
{
    stopWebFetch();
    m_bannerIniStamp = stampOf(m_appDir + QStringLiteral("banner.ini"));
    const QString setting = bannerSetting();
    m_bannerFile.clear();
    m_bannerFileStamp = {};
    if (setting.isEmpty()) {
        m_bannerAddress.clear();
        if (m_banner)
            m_banner->clear();
        if (ShowBanner)
            ShowBanner(false);
        watch();
        return;
    }
    if (isWebAddress(setting)) {
        m_bannerAddress = setting.trimmed();
        // Hidden until it has arrived: a failed fetch shows nothing.
        if (ShowBanner)
            ShowBanner(false);
        startWebFetch(QUrl(m_bannerAddress));
    } else {
        m_bannerAddress = setting;
        // A page or picture below the program folder, never one of the
        // program's own files or anything outside the folder.
        const QString refusal = foreignPathRefusal(setting, PriceUpdate::BannerFileKinds());
        if (!refusal.isEmpty()) {
            if (m_banner)
                m_banner->clear();
            if (Failed)
                Failed(QStringLiteral("Баннер \"%1\" из banner.ini не показан: %2").arg(printableName(setting), refusal));
            if (ShowBanner)
                ShowBanner(false);
            watch();
            return;
        }
        m_bannerFile = m_appDir + QString(setting).replace(QLatin1Char('\\'), QLatin1Char('/'));
        m_bannerFileStamp = stampOf(m_bannerFile);
        const bool found = m_bannerFileStamp.size >= 0 && QFileInfo(m_bannerFile).isFile();
        if (found && m_banner)
            showFile(m_banner, m_bannerFile);
        else if (Failed)
            Failed(QStringLiteral("Нет файла баннера %1").arg(m_bannerFile));
        if (ShowBanner)
            ShowBanner(found);
    }
    watch();
}

void SupplierPanels::Refresh()
{
    watch();
    if (stampOf(m_appDir + QStringLiteral("top.htm")) != m_stripStamp)
        LoadTopStrip();
    const bool iniChanged = stampOf(m_appDir + QStringLiteral("banner.ini")) != m_bannerIniStamp;
    const bool addressChanged = iniChanged && bannerSetting().trimmed() != m_bannerAddress.trimmed();
    const bool fileChanged = !m_bannerFile.isEmpty() && stampOf(m_bannerFile) != m_bannerFileStamp;
    if (addressChanged || fileChanged)
        LoadBanner();
    else if (iniChanged)
        m_bannerIniStamp = stampOf(m_appDir + QStringLiteral("banner.ini"));
}

// ---- the web banner --------------------------------------------------------------

void SupplierPanels::stopWebFetch()
{
    ++m_generation;
    if (m_cancel)
        m_cancel->store(true);
    if (m_fetch.joinable())
        m_fetch.join();
    m_cancel.reset();
}

void SupplierPanels::startWebFetch(const QUrl &url)
{
    stopWebFetch();
    const quint64 generation = m_generation;
    auto cancel = std::make_shared<std::atomic<bool>>(false);
    m_cancel = cancel;
    m_fetchDone = false;
    const int timeout = m_webTimeoutMs;
    m_fetch = std::thread([this, url, generation, cancel, timeout] {
        const WebContent page = FetchWebContent(url, timeout, kMaxPageBytes, cancel.get());
        std::vector<std::pair<QUrl, QByteArray>> images;
        if (page.error.isEmpty() && !isPicture(page.body)) {
            // The page's pictures come the same way; a missing one is left out.
            static const QRegularExpression img(QStringLiteral("<img\\b[^>]*\\bsrc\\s*=\\s*[\"']?([^\"'\\s>]+)"),
                                                QRegularExpression::CaseInsensitiveOption);
            const QString text = DecodeSupplierText(page.body, charsetOf(page.contentType));
            std::set<QString> seen;
            for (auto it = img.globalMatch(text); it.hasNext() && int(images.size()) < kMaxImages && !cancel->load();) {
                const QUrl src = page.url.resolved(QUrl(it.next().captured(1)));
                if (!seen.insert(src.toString()).second)
                    continue;
                const WebContent picture = FetchWebContent(src, timeout, kMaxImageBytes, cancel.get());
                if (picture.error.isEmpty())
                    images.emplace_back(src, picture.body);
            }
        }
        if (cancel->load())
            return;
        QMetaObject::invokeMethod(
            this, [this, generation, page, images] { webFetched(generation, page, images); }, Qt::QueuedConnection);
    });
}

void SupplierPanels::webFetched(quint64 generation, const WebContent &page,
                                const std::vector<std::pair<QUrl, QByteArray>> &images)
{
    if (generation != m_generation)
        return; // an older address
    m_fetchDone = true;
    if (!page.error.isEmpty()) {
        if (Failed)
            Failed(QStringLiteral("Не удалось загрузить баннер %1: %2").arg(m_bannerAddress, page.error));
        if (m_banner)
            m_banner->clear();
        if (ShowBanner)
            ShowBanner(false);
    } else if (m_banner) {
        m_banner->setSearchPaths({});
        showContent(m_banner, page.body, charsetOf(page.contentType), page.url);
        for (const auto &[src, bytes] : images) {
            QImage picture;
            if (picture.loadFromData(bytes))
                m_banner->document()->addResource(QTextDocument::ImageResource, src, picture);
        }
        if (!images.empty())
            m_banner->document()->markContentsDirty(0, m_banner->document()->characterCount());
        if (ShowBanner)
            ShowBanner(true);
    }
    if (WebBannerDone)
        WebBannerDone();
}

} // namespace pc
