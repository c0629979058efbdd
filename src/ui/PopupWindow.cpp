#include "ui/PopupWindow.h"

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QMouseEvent>
#include <QThread>
#include <QVBoxLayout>

#include <algorithm>

// The note points something out; it never takes the keyboard. The pharmacist
// keeps arrowing and typing quantities in the price grid while it is up, so
// the window is shown without being activated and refuses the focus.
TfrmPopup::TfrmPopup(QWidget *parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus)
{
    setObjectName(QStringLiteral("frmPopup"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    setFocusPolicy(Qt::NoFocus);
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
    lbCaption->setFocusPolicy(Qt::NoFocus);
    lbCaption->installEventFilter(this);
    inner->addWidget(lbCaption);

    TimerOpacity.setInterval(50);
    TimerBlink.setInterval(500);
    TimerHide.setInterval(10000);
    connect(&m_fade, &QVariantAnimation::valueChanged, this, [this](const QVariant &v) { setOpacity(v.toInt()); });
    connect(&m_fade, &QVariantAnimation::finished, this, [this] { hide(); });
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
    m_fade.stop();
    hide();
    ++m_shown;
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
    // Stays on top by its flags: not raised or activated, which would take
    // the keyboard from the main window.
    show();
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
    TimerOpacity.stop();
    TimerBlink.stop();
    TimerHide.stop();
    // The fade runs on the event loop: keys go on reaching the grid while the
    // note fades, and a key that moves to another row with a note of its own
    // shows that one (ShowPopup stops this fade).
    m_fade.stop();
    m_fade.setStartValue(m_opacity);
    m_fade.setEndValue(0);
    // Steps of 5 every 8 ms, as long as the fade always took.
    m_fade.setDuration(std::max(1, m_opacity / 5 * 8));
    m_fade.start();
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

bool TfrmPopup::event(QEvent *event)
{
    // A window system that activates every window it shows, whatever the
    // flags say, gets the activation handed straight back to the main window,
    // where the keys belong.
    if (event->type() == QEvent::WindowActivate) {
        QWidget *owner = parentWidget() ? parentWidget()->window() : nullptr;
        if (owner && owner->isVisible())
            owner->activateWindow();
    }
    return QWidget::event(event);
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
