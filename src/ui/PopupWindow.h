#pragma once
// The fading note popup shown beside a price row that carries a note.

#include <QRect>
#include <QTimer>
#include <QVariantAnimation>
#include <QWidget>
#include <functional>

class QFrame;
class QLabel;

class TfrmPopup : public QWidget {
    Q_OBJECT
public:
    explicit TfrmPopup(QWidget *parent = nullptr);

    void ShowPopup(const QString &text, const QString &detail, bool detailIsAddress,
                   int left, int top, unsigned char maxOpacity);

    // Where the detail goes when the caption is clicked: set by the main window.
    std::function<void(const QString &detail, bool isAddress)> onShowDetail;

    // Geometry of the detail window for a main window of the given size.
    static QRect detailGeometry(int mainWidth, int mainHeight);

    int opacity() const { return m_opacity; }
    bool translucent() const { return m_translucent; }

    QFrame *paInfo = nullptr;
    QLabel *lbCaption = nullptr;
    QTimer TimerOpacity;
    QTimer TimerBlink;
    QTimer TimerHide;
    QString Text;
    QString Detail;
    bool DetailIsAddress = false;
    int MaxOpacity = 255;

    void TimerOpacityTimer();
    void TimerBlinkTimer();
    void TimerHideTimer();
    void lbCaptionClick();

protected:
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void setOpacity(int value);
    int m_opacity = 255;
    bool m_translucent = false;
    unsigned m_shown = 0; // counts ShowPopup calls
    QVariantAnimation m_fade; // the fade-out
};
