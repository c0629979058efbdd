#include "ui/PopupWindow.h"

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QMouseEvent>
#include <QThread>
#include <QVBoxLayout>

#include <algorithm>

TfrmPopup::TfrmPopup(QWidget *parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
{
    setObjectName(QStringLiteral("frmPopup"));
    setFixedSize(669, 42);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    paInfo = new QFrame(this);
    paInfo->setObjectName(QStringLiteral("paInfo"));
    paInfo->setFrameShape(QFrame::Panel);
    paInfo->setFrameShadow(QFrame::Sunken);
    paInfo->setAutoFillBackground(true);
    QPalette pal = paInfo->palette();
    pal.setColor(QPalette::Window, QColor(255, 255, 128));
    paInfo->setPalette(pal);
    layout->addWidget(paInfo);
    auto *inner = new QVBoxLayout(paInfo);
    inner->setContentsMargins(4, 2, 4, 2);
    lbCaption = new QLabel(paInfo);
    lbCaption->setObjectName(QStringLiteral("lbCaption"));
    lbCaption->setAlignment(Qt::AlignCenter);
    lbCaption->setWordWrap(true);
    lbCaption->setTextFormat(Qt::PlainText);
    QFont f = lbCaption->font();
    f.setUnderline(true);
    lbCaption->setFont(f);
    QPalette lp = lbCaption->palette();
    lp.setColor(QPalette::WindowText, QColor(128, 0, 0));
    lbCaption->setPalette(lp);
    lbCaption->setCursor(Qt::PointingHandCursor);
    lbCaption->installEventFilter(this);
    inner->addWidget(lbCaption);

    TimerOpacity.setInterval(50);
    TimerBlink.setInterval(500);
    TimerHide.setInterval(10000);
    connect(&TimerOpacity, &QTimer::timeout, this, &TfrmPopup::TimerOpacityTimer);
    connect(&TimerBlink, &QTimer::timeout, this, &TfrmPopup::TimerBlinkTimer);
    connect(&TimerHide, &QTimer::timeout, this, &TfrmPopup::TimerHideTimer);
}

void TfrmPopup::setOpacity(int value)
{
    m_opacity = std::clamp(value, 0, 255);
    setWindowOpacity(m_translucent ? m_opacity / 255.0 : 1.0);
}

void TfrmPopup::ShowPopup(const QString &text, const QString &detail, bool detailIsAddress,
                          int left, int top, unsigned char maxOpacity)
{
    hide();
    move(left, top);
    MaxOpacity = maxOpacity;
    TimerBlink.stop();
    TimerHide.stop();
    Text = text;
    Detail = detail;
    DetailIsAddress = detailIsAddress;
    lbCaption->setText(text);
    m_translucent = true;
    setOpacity(0);
    show();
    raise();
    activateWindow();
    TimerOpacity.start();
    TimerBlink.start();
    TimerHide.start();
}

void TfrmPopup::TimerOpacityTimer()
{
    if (m_opacity >= MaxOpacity) {
        TimerOpacity.stop();
        return;
    }
    // Raised past the target by at most one step: 200 is reached as 210.
    m_opacity += 30;
    setWindowOpacity(m_opacity / 255.0);
    QApplication::processEvents();
}

// The note stays readable: the caption is set to the text on every tick rather
// than flashing on and off (the panel's own caption is empty, so the two never match).
void TfrmPopup::TimerBlinkTimer()
{
    const QString panelCaption; // paInfo carries no caption of its own
    if (panelCaption == Text)
        lbCaption->clear();
    else
        lbCaption->setText(Text);
}

void TfrmPopup::TimerHideTimer()
{
    if (!m_translucent) {
        m_translucent = true;
        setOpacity(255);
    }
    while (m_opacity > 0) {
        setOpacity(std::max(0, m_opacity - 5));
        QApplication::processEvents();
        QThread::msleep(8);
    }
    hide();
    TimerOpacity.stop();
    TimerBlink.stop();
    TimerHide.stop();
}

QRect TfrmPopup::detailGeometry(int mainWidth, int mainHeight)
{
    const int width = std::min(mainWidth, std::max(mainWidth / 2, 300));
    return QRect(5, mainHeight - 185, width, 150);
}

void TfrmPopup::lbCaptionClick()
{
    if (onShowDetail)
        onShowDetail(Detail, DetailIsAddress);
}

bool TfrmPopup::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == lbCaption && event->type() == QEvent::MouseButtonRelease
        && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
        lbCaptionClick();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}
