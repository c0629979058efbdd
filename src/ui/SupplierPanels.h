#pragma once
// What the supplier shows the pharmacist: the banner on the start page
// (banner.ini [Header] HomeBanner: a file beside the program or a web address)
// and the news strip at the top of the window (top.htm).
//
// Texts are decoded in the code page they were written in: a declared
// charset wins (the web server's Content-Type, else a <meta> of the page);
// otherwise text that is valid UTF-8 is UTF-8, and anything else is code page
// 1251. A picture is shown as a picture, whatever its name. A web banner is
// fetched in the background (no proxy, a time-out); when that fails the
// failure is logged and the banner hidden. Links open in the desktop's
// browser. Both are shown again when banner.ini, the banner's file or
// top.htm change, or when the banner's address changes.

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QUrl>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

class QFileSystemWatcher;
class QTextBrowser;
class QTimer;

namespace pc {

// The charset a page declares in a <meta> among its first bytes ("" when none).
QByteArray DeclaredHtmlCharset(const QByteArray &html);
// `bytes` as text: the declared charset (from the server, else from the page)
// when it is known, else UTF-8 when the bytes are valid UTF-8, else cp1251.
QString DecodeSupplierText(const QByteArray &bytes, const QByteArray &serverCharset = {});

// A web page or picture fetched over HTTP(S).
struct WebContent {
    QByteArray body;
    QByteArray contentType; // as the server sent it
    QUrl url;               // where it came from, after redirections
    QString error;          // empty when fetched
};
// Blocking; gives up after timeoutMs, or when `cancelled` turns true. At most
// maxBytes are accepted. Never uses a proxy.
WebContent FetchWebContent(const QUrl &url, int timeoutMs, qint64 maxBytes, const std::atomic<bool> *cancelled = nullptr);

class SupplierPanels : public QObject {
    Q_OBJECT
public:
    // appDir ends in "/". banner shows the banner, strip the news strip.
    SupplierPanels(QString appDir, QTextBrowser *banner, QTextBrowser *strip, QObject *parent = nullptr);
    ~SupplierPanels() override;

    // The window shows or hides the banner's and the strip's panels.
    std::function<void(bool visible)> ShowBanner;
    std::function<void(bool visible)> ShowStrip;
    // A failure to show the banner or the strip, for the message log.
    std::function<void(const QString &text)> Failed;
    // Opens a link in the desktop's browser (the shell's opener by default).
    std::function<void(const QUrl &url)> OpenLink;
    // Called when a web banner has been fetched and shown (or hidden).
    std::function<void()> WebBannerDone;

    // Time allowed for fetching a web banner (15 s by default).
    void setWebTimeout(int ms) { m_webTimeoutMs = ms; }

    // Reads banner.ini and shows the banner; reads top.htm and shows the strip.
    void LoadBanner();
    void LoadTopStrip();
    // Shows the banner and the strip again when what they show has changed
    // since they were loaded. Also called by the file watcher.
    void Refresh();

    // What is shown: the address or file of the banner ("" when none).
    QString bannerAddress() const { return m_bannerAddress; }
    bool webFetchRunning() const { return m_fetch.joinable() && !m_fetchDone; }

private:
    struct Stamp {
        qint64 inode = -1, size = -1, mtime = -1;
        bool operator==(const Stamp &) const = default;
    };
    static Stamp stampOf(const QString &path);
    QString bannerSetting() const;
    void showFile(QTextBrowser *view, const QString &path);
    void showContent(QTextBrowser *view, const QByteArray &bytes, const QByteArray &charset, const QUrl &base);
    void startWebFetch(const QUrl &url);
    void stopWebFetch();
    void webFetched(quint64 generation, const WebContent &page, const std::vector<std::pair<QUrl, QByteArray>> &images);
    void linkClicked(const QUrl &url);
    void watch();

    QString m_appDir;
    QTextBrowser *m_banner;
    QTextBrowser *m_strip;
    QFileSystemWatcher *m_watcher;
    QTimer *m_settle;
    int m_webTimeoutMs = 15000;

    QString m_bannerAddress; // as read from banner.ini, trimmed for a web address
    QString m_bannerFile;    // the local file shown, "" for none or a web banner
    Stamp m_bannerIniStamp, m_bannerFileStamp, m_stripStamp;

    std::thread m_fetch;
    std::shared_ptr<std::atomic<bool>> m_cancel;
    std::atomic<bool> m_fetchDone{true};
    quint64 m_generation = 0;
};

} // namespace pc
