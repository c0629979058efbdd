// The supplier's banner and news strip: code pages, pictures, re-reading
// changed files and addresses, the web banner and its links.
#include <gtest/gtest.h>

#include "support/TempAppDir.h"
#include "platform/CodePage.h"
#include "ui/SupplierPanels.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QElapsedTimer>
#include <QStringEncoder>
#include <QImage>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QTextDocument>

using namespace pc;

namespace {

QByteArray koi8r(const QString &text)
{
    QStringEncoder enc("KOI8-R");
    return enc.encode(text);
}

QByteArray pngBytes(int w, int h)
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(Qt::red);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

TEST(SupplierText, CodePageIsDeclaredOrGuessed)
{
    const QString text = QStringLiteral("Скидки на витамины");
    // Nothing declared: valid UTF-8 is UTF-8, anything else code page 1251.
    EXPECT_EQ(DecodeSupplierText(text.toUtf8()), text);
    EXPECT_EQ(DecodeSupplierText(toCp1251(text)), text);
    EXPECT_EQ(DecodeSupplierText(QByteArray("\xEF\xBB\xBF") + text.toUtf8()), text);

    // A declared charset wins over the guess, in both forms of <meta>.
    const QByteArray metaKoi = "<html><head><meta charset=\"koi8-r\"></head><body>" + koi8r(text) + "</body></html>";
    EXPECT_TRUE(DecodeSupplierText(metaKoi).contains(text));
    const QByteArray httpEquiv = "<HTML><HEAD><META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=windows-1251\">"
                                 "</HEAD><BODY>" + toCp1251(text) + "</BODY></HTML>";
    EXPECT_EQ(DeclaredHtmlCharset(httpEquiv), QByteArray("windows-1251"));
    EXPECT_TRUE(DecodeSupplierText(httpEquiv).contains(text));
    // A page that declares 1251 but happens to be valid UTF-8 still reads as 1251.
    const QByteArray declared1251 = "<meta charset=windows-1251>" + QByteArray("\xD0\x9F"); // "Рџ" in 1251
    EXPECT_TRUE(DecodeSupplierText(declared1251).endsWith(QStringLiteral("Рџ")));
    // The server's charset wins over the page's.
    QByteArray metaKoiIn1251 = metaKoi;
    metaKoiIn1251.replace(koi8r(text), toCp1251(text));
    EXPECT_TRUE(DecodeSupplierText(metaKoiIn1251, "windows-1251").contains(text));
    // An unknown name falls back to the guess.
    EXPECT_TRUE(DecodeSupplierText("<meta charset=\"no-such-charset\">" + toCp1251(text)).contains(text));
    EXPECT_TRUE(DeclaredHtmlCharset(toCp1251(text)).isEmpty());
}

class SupplierPanelsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        panels = std::make_unique<SupplierPanels>(dir.path(), &banner, &strip);
        panels->ShowBanner = [this](bool v) { bannerShown.push_back(v); };
        panels->ShowStrip = [this](bool v) { stripShown.push_back(v); };
        panels->Failed = [this](const QString &t) { failures << t; };
        panels->OpenLink = [this](const QUrl &u) { opened << u; };
        panels->WebBannerDone = [this] { ++webDone; };
    }
    TempAppDir dir;
    QTextBrowser banner, strip;
    std::unique_ptr<SupplierPanels> panels;
    std::vector<bool> bannerShown, stripShown;
    QStringList failures;
    QList<QUrl> opened;
    int webDone = 0;
};

TEST_F(SupplierPanelsTest, StripInCodePage1251IsReadableAndFollowsTheFile)
{
    panels->LoadTopStrip();
    EXPECT_EQ(stripShown, std::vector<bool>{false}); // no top.htm

    dir.writeBytes(QStringLiteral("top.htm"), "<html><body><b>" + toCp1251(QStringLiteral("Новые поступления")) + "</b></body></html>");
    panels->Refresh();
    EXPECT_EQ(stripShown.back(), true);
    EXPECT_EQ(strip.toPlainText().trimmed(), QStringLiteral("Новые поступления"));

    panels->Refresh(); // nothing changed: not read again
    EXPECT_EQ(stripShown.size(), 2u);

    // Replaced by the next price archive, in UTF-8 this time: noticed without
    // a call, through the file watcher.
    dir.writeBytes(QStringLiteral("top.htm"), QStringLiteral("<p>Скидка 10%</p>").toUtf8());
    EXPECT_TRUE(QTest::qWaitFor([&] { return strip.toPlainText().trimmed() == QStringLiteral("Скидка 10%"); }, 5000))
        << strip.toPlainText().toStdString();

    dir.writeBytes(QStringLiteral("top.htm"), QByteArray());
    panels->Refresh();
    EXPECT_EQ(stripShown.back(), false);
}

TEST_F(SupplierPanelsTest, BannerFileFollowsBannerIniAndItsContent)
{
    panels->LoadBanner();
    EXPECT_EQ(bannerShown, std::vector<bool>{false}); // no banner.ini

    QDir(dir.path()).mkpath(QStringLiteral("Banner"));
    dir.writeBytes(QStringLiteral("Banner/a.htm"), toCp1251(QStringLiteral("<p>Акция недели</p>")));
    dir.writeText(QStringLiteral("banner.ini"), QStringLiteral("[Header]\nHomeBanner=Banner\\a.htm\n"));
    panels->Refresh();
    EXPECT_EQ(bannerShown.back(), true);
    EXPECT_EQ(banner.toPlainText().trimmed(), QStringLiteral("Акция недели"));

    // The file changes, the address stays.
    dir.writeBytes(QStringLiteral("Banner/a.htm"), toCp1251(QStringLiteral("<p>Акция месяца!</p>")));
    panels->Refresh();
    EXPECT_EQ(banner.toPlainText().trimmed(), QStringLiteral("Акция месяца!"));

    // Another file: a picture, shown as one whatever its name says.
    const QByteArray png = pngBytes(40, 20);
    dir.writeBytes(QStringLiteral("Banner/b.htm"), png);
    dir.writeText(QStringLiteral("banner.ini"), QStringLiteral("[Header]\nHomeBanner=Banner/b.htm\n"));
    panels->Refresh();
    EXPECT_EQ(panels->bannerAddress(), QStringLiteral("Banner/b.htm"));
    EXPECT_TRUE(banner.toHtml().contains(QStringLiteral("<img"))) << banner.toHtml().toStdString();
    EXPECT_FALSE(banner.toPlainText().contains(QStringLiteral("PNG")));
    const QImage shown = banner.document()
                             ->resource(QTextDocument::ImageResource, QUrl(QStringLiteral("supplier-picture:b.htm")))
                             .value<QImage>();
    EXPECT_EQ(shown.size(), QSize(40, 20));

    // A file that is not there: said, and nothing shown.
    dir.writeText(QStringLiteral("banner.ini"), QStringLiteral("[Header]\nHomeBanner=gone.htm\n"));
    panels->Refresh();
    EXPECT_EQ(bannerShown.back(), false);
    ASSERT_FALSE(failures.isEmpty());
    EXPECT_TRUE(failures.back().contains(QStringLiteral("gone.htm")));

    dir.writeText(QStringLiteral("banner.ini"), QStringLiteral("[Header]\nHomeBanner=\n"));
    panels->Refresh();
    EXPECT_EQ(bannerShown.back(), false);
    EXPECT_TRUE(panels->bannerAddress().isEmpty());
}

// banner.ini names a banner; it never shows a file of the program (its
// settings hold the passwords) or one outside the program folder.
TEST_F(SupplierPanelsTest, BannerNeverShowsTheProgramsOwnFilesOrOnesOutsideItsFolder)
{
    QTemporaryDir outside;
    QFile secret(outside.filePath(QStringLiteral("secret.htm")));
    ASSERT_TRUE(secret.open(QIODevice::WriteOnly));
    secret.write("<p>secret</p>");
    secret.close();
    dir.writeText(QStringLiteral("client.ini"), QStringLiteral("[Header]\nClientPass=secret\n"));
    dir.writeBytes(QStringLiteral("Data/client.gdb"), "secret");
    const QString relative = QDir(dir.path()).relativeFilePath(secret.fileName()); // "../…/secret.htm"
    ASSERT_TRUE(relative.startsWith(QStringLiteral("../")));
    for (const QString &name : {QStringLiteral("client.ini"), QStringLiteral("Data\\client.gdb"), secret.fileName(),
                                relative, QString(relative).replace(QLatin1Char('/'), QLatin1Char('\\'))}) {
        SCOPED_TRACE(name.toStdString());
        failures.clear();
        dir.writeText(QStringLiteral("banner.ini"), QStringLiteral("[Header]\nHomeBanner=%1\n").arg(name));
        panels->LoadBanner();
        EXPECT_EQ(bannerShown.back(), false);
        EXPECT_FALSE(banner.toPlainText().contains(QStringLiteral("secret")));
        ASSERT_EQ(failures.size(), 1);
        EXPECT_TRUE(failures[0].contains(QStringLiteral("не показан"))) << failures[0].toStdString();
    }
}

TEST_F(SupplierPanelsTest, StripLinksOpenInTheBrowserOnly)
{
    dir.writeBytes(QStringLiteral("top.htm"), "<a href=\"http://example.org/a\">a</a>");
    panels->LoadTopStrip();
    Q_EMIT strip.anchorClicked(QUrl(QStringLiteral("http://example.org/a")));
    Q_EMIT strip.anchorClicked(QUrl(QStringLiteral("file:///bin/sh")));
    Q_EMIT strip.anchorClicked(QUrl(QStringLiteral("mailto:sales@example.org")));
    ASSERT_EQ(opened.size(), 2);
    EXPECT_EQ(opened[0], QUrl(QStringLiteral("http://example.org/a")));
    EXPECT_EQ(opened[1].scheme(), QStringLiteral("mailto"));
    EXPECT_TRUE(strip.toPlainText().contains(QLatin1Char('a'))); // the view did not navigate away
}

// A small web server: each path has its answer; "/silent" never answers.
class WebServer : public QObject {
public:
    WebServer()
    {
        server.listen(QHostAddress::LocalHost);
        connect(&server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket *s = server.nextPendingConnection()) {
                connect(s, &QTcpSocket::readyRead, s, [this, s] {
                    request += s->readAll();
                    if (!request.contains("\r\n\r\n"))
                        return;
                    const QByteArray path = request.split(' ').value(1);
                    request.clear();
                    ++requests;
                    if (path == "/silent")
                        return;
                    const auto it = answers.find(path);
                    if (it == answers.end()) {
                        s->write("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
                    } else {
                        s->write("HTTP/1.1 200 OK\r\nContent-Type: " + it->second.first + "\r\nContent-Length: "
                                 + QByteArray::number(it->second.second.size()) + "\r\nConnection: close\r\n\r\n"
                                 + it->second.second);
                    }
                    s->disconnectFromHost();
                });
            }
        });
    }
    QString url(const char *path) const { return QStringLiteral("http://127.0.0.1:%1%2").arg(server.serverPort()).arg(QLatin1String(path)); }
    QTcpServer server;
    std::map<QByteArray, std::pair<QByteArray, QByteArray>> answers;
    QByteArray request;
    int requests = 0;
};

TEST_F(SupplierPanelsTest, WebBannerIsFetchedInTheBackgroundWithoutProxy)
{
    // A proxy in the environment that would swallow everything.
    qputenv("http_proxy", "http://127.0.0.1:9");
    qputenv("all_proxy", "http://127.0.0.1:9");
    WebServer web;
    web.answers["/banner/"] = {"text/html; charset=windows-1251",
                               "<html><body><p>" + toCp1251(QStringLiteral("Новинка: витамин D")) +
                                   "</p><img src=\"pic.png\"><a href=\"more.html\">ещё</a></body></html>"};
    web.answers["/banner/pic.png"] = {"image/png", pngBytes(30, 10)};
    dir.writeText(QStringLiteral("banner.ini"), QStringLiteral("[Header]\nHomeBanner= %1\n").arg(web.url("/banner/")));

    panels->LoadBanner();
    EXPECT_EQ(bannerShown, std::vector<bool>{false}); // hidden until it arrives
    ASSERT_TRUE(QTest::qWaitFor([&] { return webDone == 1; }, 10000));
    qunsetenv("http_proxy");
    qunsetenv("all_proxy");
    EXPECT_TRUE(failures.isEmpty()) << failures.join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(bannerShown.back(), true);
    EXPECT_TRUE(banner.toPlainText().contains(QStringLiteral("Новинка: витамин D")));
    const QImage picture =
        banner.document()->resource(QTextDocument::ImageResource, QUrl(web.url("/banner/pic.png"))).value<QImage>();
    EXPECT_EQ(picture.size(), QSize(30, 10));

    // A relative link is taken from where the page came from.
    Q_EMIT banner.anchorClicked(QUrl(QStringLiteral("more.html")));
    ASSERT_EQ(opened.size(), 1);
    EXPECT_EQ(opened[0], QUrl(web.url("/banner/more.html")));

    // The address changes: the new one is fetched; a picture alone is shown as one.
    web.answers["/only.png"] = {"image/png", pngBytes(8, 8)};
    dir.writeText(QStringLiteral("banner.ini"), QStringLiteral("[Header]\nHomeBanner=%1\n").arg(web.url("/only.png")));
    panels->Refresh();
    ASSERT_TRUE(QTest::qWaitFor([&] { return webDone == 2; }, 10000));
    EXPECT_EQ(bannerShown.back(), true);
    EXPECT_TRUE(banner.toHtml().contains(QStringLiteral("<img")));
}

TEST_F(SupplierPanelsTest, FailedWebBannerIsLoggedAndHidden)
{
    WebServer web;
    dir.writeText(QStringLiteral("banner.ini"), QStringLiteral("[Header]\nHomeBanner=%1\n").arg(web.url("/missing")));
    panels->LoadBanner();
    ASSERT_TRUE(QTest::qWaitFor([&] { return webDone == 1; }, 10000));
    EXPECT_EQ(bannerShown.back(), false);
    ASSERT_EQ(failures.size(), 1);
    EXPECT_TRUE(failures[0].startsWith(QStringLiteral("Не удалось загрузить баннер"))) << failures[0].toStdString();
    EXPECT_TRUE(failures[0].contains(QStringLiteral("404"))) << failures[0].toStdString();

    // A server that never answers is given up after the time-out.
    panels->setWebTimeout(700);
    dir.writeText(QStringLiteral("banner.ini"), QStringLiteral("[Header]\nHomeBanner=%1\n").arg(web.url("/silent")));
    QElapsedTimer clock;
    clock.start();
    panels->Refresh();
    ASSERT_TRUE(QTest::qWaitFor([&] { return webDone == 2; }, 10000));
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_EQ(bannerShown.back(), false);
    EXPECT_EQ(failures.size(), 2);
}

TEST_F(SupplierPanelsTest, PendingWebBannerDoesNotHoldTheWindowWhenClosed)
{
    WebServer web;
    dir.writeText(QStringLiteral("banner.ini"), QStringLiteral("[Header]\nHomeBanner=%1\n").arg(web.url("/silent")));
    panels->LoadBanner();
    ASSERT_TRUE(QTest::qWaitFor([&] { return web.requests == 1; }, 5000));
    QElapsedTimer clock;
    clock.start();
    panels.reset(); // the fetch is abandoned
    EXPECT_LT(clock.elapsed(), 3000);
    EXPECT_EQ(webDone, 0);
}

} // namespace
