#include "ui/SplashWindow.h"

#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStyle>

namespace {
const QString kDefaultWaitText = QStringLiteral("Подождите некоторое время, происходит соединение с сервером...");
}

TfrmSplash::TfrmSplash(QWidget *mainWindow)
    // A tool window of the main window: above it, never above a question.
    : QWidget(mainWindow, Qt::FramelessWindowHint | Qt::Tool), m_mainWindow(mainWindow)
{
    setObjectName(QStringLiteral("frmSplash"));
    // Shown over the work, it leaves the keyboard where the person is.
    setAttribute(Qt::WA_ShowWithoutActivating);
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
    pbProgress = new QProgressBar(this);
    pbProgress->setObjectName(QStringLiteral("pbProgress"));
    pbProgress->setAccessibleName(QStringLiteral("Выполнено"));
    pbProgress->setTextVisible(true);
    pbProgress->hide();
    m_pending.setInterval(100);
    connect(&m_pending, &QTimer::timeout, this, &TfrmSplash::showWhenNoModal);
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
    pbProgress->setGeometry(72, h + 2, w - b.width() - 10 - 72 - 10, b.height() - 4);
    pbProgress->setVisible(m_total > 0);
}

void TfrmSplash::SetProgress(qint64 done, qint64 total)
{
    if (total < 0) {
        m_total = 0;
        pbProgress->hide();
        return;
    }
    if (total > 0)
        m_total = total;
    if (m_total <= 0)
        return;
    // Kilobytes: the bar counts in int.
    pbProgress->setMaximum(int((m_total + 1023) / 1024));
    pbProgress->setValue(int(std::min(done, m_total) / 1024));
    pbProgress->setVisible(bool(m_cancel));
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
    showWhenNoModal();
}

// Over the main window, never over a question or notice: while one is open
// the wait window waits for it to close. It is painted by the event loop; the
// long work runs on its own thread.
void TfrmSplash::showWhenNoModal()
{
    if (QApplication::activeModalWidget()) {
        m_pending.start();
        return;
    }
    m_pending.stop();
    show();
    raise();
}

void TfrmSplash::HideWait()
{
    m_pending.stop();
    hide();
}
