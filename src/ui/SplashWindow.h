#pragma once
// The wait window shown during server work and other long operations.

#include <QWidget>

class QLabel;

class TfrmSplash : public QWidget {
    Q_OBJECT
public:
    explicit TfrmSplash(QWidget *mainWindow = nullptr);

    // picture 0: connection, 1: other work; any other value keeps the pictures.
    void ShowWait(const QString &text, int picture);
    void HideWait();

    QLabel *lbCaption = nullptr;
    QLabel *ImageConnect = nullptr;
    QLabel *Image2 = nullptr;

private:
    QWidget *m_mainWindow;
};
