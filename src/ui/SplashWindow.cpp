#include "ui/SplashWindow.h"

#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
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

    btnCancelWait = new QPushButton(QStringLiteral("Прервать"), this);
    btnCancelWait->setObjectName(QStringLiteral("btnCancelWait"));
    btnCancelWait->setAccessibleDescription(QStringLiteral("Прервать обмен с сервером; всё, что уже было, остаётся как было"));
    btnCancelWait->hide();
    connect(btnCancelWait, &QPushButton::clicked, this, [this] {
        if (!m_cancel)
            return;
        btnCancelWait->setEnabled(false);
        lbCaption->setText(QStringLiteral("Прерывание..."));
        m_cancel();
    });
}

void TfrmSplash::SetCancelAction(std::function<void()> cancel)
{
    m_cancel = std::move(cancel);
    placeButton();
}

void TfrmSplash::placeButton()
{
    const int w = 406, h = 79;
    if (!m_cancel) {
        btnCancelWait->hide();
        setFixedSize(w, h);
        return;
    }
    const QSize b = btnCancelWait->sizeHint().expandedTo(QSize(100, 26));
    setFixedSize(w, h + b.height() + 8);
    btnCancelWait->setGeometry(w - b.width() - 10, h, b.width(), b.height());
    btnCancelWait->setEnabled(true);
    btnCancelWait->show();
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
    if (m_cancel)
        btnCancelWait->setEnabled(true);
    show();
    raise();
    activateWindow();
    if (m_cancel)
        btnCancelWait->setFocus();
    repaint();
    QApplication::processEvents();
}

void TfrmSplash::HideWait()
{
    hide();
}
