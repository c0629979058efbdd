#include "ui/BrowserWindow.h"

#include "core/LogText.h"
#include "platform/CodePage.h"
#include "platform/Shell.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTextBrowser>
#include <QToolBar>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

TfrmBrowser::TfrmBrowser(const QString &appDir, QWidget *parent)
    : QDialog(parent, Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint), m_appDir(appDir)
{
    setObjectName(QStringLiteral("frmBrowser"));
    setWindowTitle(QStringLiteral("Информация"));
    setSizeGripEnabled(true);
    resize(600, 400);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto *bar = new QHBoxLayout;
    const QStyle::StandardPixmap icons[3] = {QStyle::SP_ArrowBack, QStyle::SP_ArrowForward, QStyle::SP_BrowserReload};
    const char *hints[3] = {"Назад", "Вперёд", "Обновить"};
    for (int i = 0; i < 3; ++i) {
        ToolButtons[i] = new QToolButton(this);
        ToolButtons[i]->setObjectName(QStringLiteral("ToolButton%1").arg(i + 1));
        ToolButtons[i]->setIcon(style()->standardIcon(icons[i]));
        ToolButtons[i]->setToolTip(QString::fromUtf8(hints[i]));
        ToolButtons[i]->setAccessibleName(QString::fromUtf8(hints[i]));
        ToolButtons[i]->setEnabled(false);
        bar->addWidget(ToolButtons[i]);
    }
    bar->addStretch();
    BitBtn1 = new QPushButton(QStringLiteral("Закрыть"), this);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    bar->addWidget(BitBtn1);
    layout->addLayout(bar);
    wbBrowser = new QTextBrowser(this);
    wbBrowser->setObjectName(QStringLiteral("wbBrowser"));
    wbBrowser->setAccessibleName(QStringLiteral("Информация"));
    wbBrowser->setOpenLinks(false);
    connect(wbBrowser, &QTextBrowser::anchorClicked, this, [](const QUrl &url) {
        pc::shellOpen(url.toString());
    });
    layout->addWidget(wbBrowser, 1);
    connect(BitBtn1, &QPushButton::clicked, this, &TfrmBrowser::BitBtn1Click);
}

void TfrmBrowser::BitBtn1Click()
{
    if (isModal() && result() == 0)
        done(QDialog::Accepted);
    hide();
}

void TfrmBrowser::navigate(const QString &address)
{
    m_address = address;
    const QString lower = address.toLower();
    if (lower.startsWith(QStringLiteral("http://")) || lower.startsWith(QStringLiteral("https://"))) {
        // The view shows local pages only; a web address is offered as a link
        // that the desktop's browser opens.
        wbBrowser->setHtml(QStringLiteral("<p><a href=\"%1\">%1</a></p>").arg(address.toHtmlEscaped()));
        return;
    }
    QString path = address;
    if (lower.startsWith(QStringLiteral("file:")))
        path = QUrl(address).toLocalFile();
    path.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (QFileInfo(path).isRelative())
        path = m_appDir + path;
    // The program's pages and the supplier's are in code page 1251 unless they say otherwise.
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        wbBrowser->setPlainText(QStringLiteral("Файл не найден: %1").arg(QDir::toNativeSeparators(path)));
        return;
    }
    const QByteArray data = f.readAll();
    const bool utf8 = data.toLower().contains("charset=utf-8");
    wbBrowser->document()->setBaseUrl(QUrl::fromLocalFile(path));
    wbBrowser->setHtml(utf8 ? QString::fromUtf8(data) : pc::fromCp1251(data));
}

void TfrmBrowser::ShowInfoWindow(QWidget *parent, const QString &content, bool contentIsAddress,
                                 int left, int top, int width, int height, bool modal)
{
    hide();
    const Qt::WindowFlags base = Qt::Tool | Qt::WindowTitleHint | Qt::WindowCloseButtonHint;
    setParent(parent, modal ? (base & ~Qt::WindowStaysOnTopHint) : (base | Qt::WindowStaysOnTopHint));
    if (contentIsAddress) {
        navigate(content);
    } else {
        const QString file = m_appDir + QStringLiteral("Data/info.htm");
        QDir().mkpath(m_appDir + QStringLiteral("Data"));
        pc::writeLines(file, {content});
        navigate(file);
    }
    setGeometry(left, top, width, height);
    if (modal) {
        setModal(true);
        setResult(0);
        exec();
    } else {
        setModal(false);
        show();
        raise();
    }
    move(x(), top);
}
