#pragma once
// The wait window shown during server work and other long operations.

#include <QWidget>

#include <functional>

class QLabel;
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

    QLabel *lbCaption = nullptr;
    QLabel *ImageConnect = nullptr;
    QLabel *Image2 = nullptr;
    QPushButton *btnCancelWait = nullptr;

private:
    void placeButton();
    QWidget *m_mainWindow;
    std::function<void()> m_cancel;
};
