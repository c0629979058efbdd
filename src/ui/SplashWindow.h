#pragma once
// The wait window shown during server work and other long operations.

#include <QTimer>
#include <QWidget>

#include <functional>

class QLabel;
class QProgressBar;
class QPushButton;

class TfrmSplash : public QWidget {
    Q_OBJECT
public:
    explicit TfrmSplash(QWidget *mainWindow = nullptr);

    // picture 0: connection, 1: other work; any other value keeps the pictures.
    void ShowWait(const QString &text, int picture);
    void HideWait();
    // While set, the window carries «Прервать», which calls `cancel` once per
    // press; an empty function removes the button.
    void SetCancelAction(std::function<void()> cancel);
    // The progress of the running operation beside «Прервать»: done of total
    // bytes (total 0 keeps the last total); total < 0 hides the bar.
    void SetProgress(qint64 done, qint64 total);

    QLabel *lbCaption = nullptr;
    QLabel *ImageConnect = nullptr;
    QLabel *Image2 = nullptr;
    QPushButton *btnCancelWait = nullptr;
    QProgressBar *pbProgress = nullptr;

private:
    void placeButton();
    void showWhenNoModal();
    QTimer m_pending; // shown once the open question closes
    QWidget *m_mainWindow;
    std::function<void()> m_cancel;
    qint64 m_total = 0;
};
