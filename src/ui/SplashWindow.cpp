#include "ui/SplashWindow.h"

#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QScreen>
#include <QStyle>

namespace {
const QString kDefaultWaitText = QStringLiteral("Подождите некоторое время, происходит соединение с сервером...");
}

TfrmSplash::TfrmSplash(QWidget *mainWindow)
    : QWidget(nullptr, Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::Tool), m_mainWindow(mainWindow)
{
    setObjectName(QStringLiteral("frmSplash"));
    setFixedSize(406, 79);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    setPalette(pal);

    const int iconSize = 48;
    ImageConnect = new QLabel(this);
    ImageConnect->setObjectName(QStringLiteral("ImageConnect"));
    ImageConnect->setGeometry(12, 15, iconSize, iconSize);
    ImageConnect->setPixmap(style()->standardIcon(QStyle::SP_DriveNetIcon).pixmap(iconSize, iconSize));
    Image2 = new QLabel(this);
    Image2->setObjectName(QStringLiteral("Image2"));
    Image2->setGeometry(12, 15, iconSize, iconSize);
    Image2->setPixmap(style()->standardIcon(QStyle::SP_BrowserReload).pixmap(iconSize, iconSize));
    Image2->hide();

    lbCaption = new QLabel(kDefaultWaitText, this);
    lbCaption->setObjectName(QStringLiteral("lbCaption"));
    lbCaption->setGeometry(72, 4, 326, 71);
    lbCaption->setFont(QFont(QStringLiteral("Tahoma"), 11));
    lbCaption->setWordWrap(true);
    lbCaption->setAlignment(Qt::AlignVCenter | Qt::AlignLeft);
}

void TfrmSplash::ShowWait(const QString &text, int picture)
{
    lbCaption->setText(text.isEmpty() ? kDefaultWaitText : text);
    if (picture == 0) {
        ImageConnect->show();
        Image2->hide();
    } else if (picture == 1) {
        ImageConnect->hide();
        Image2->show();
    }
    QRect area;
    if (m_mainWindow && m_mainWindow->isVisible())
        area = m_mainWindow->frameGeometry();
    else if (const QScreen *s = QGuiApplication::primaryScreen())
        area = s->availableGeometry();
    if (area.isValid())
        move(area.center() - rect().center());
    show();
    raise();
    activateWindow();
    repaint();
    QApplication::processEvents();
}

void TfrmSplash::HideWait()
{
    hide();
}
