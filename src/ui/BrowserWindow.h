#pragma once
// The information window: an HTML view showing a file, a web address or a
// text written to Data/info.htm.

#include <QDialog>

class QTextBrowser;
class QToolButton;
class QPushButton;

class TfrmBrowser : public QDialog {
    Q_OBJECT
public:
    // appDir: the program folder (ending in "/"), where Data/info.htm is written.
    explicit TfrmBrowser(const QString &appDir, QWidget *parent = nullptr);

    // Throws pc::AppError when Data/info.htm cannot be written.
    void ShowInfoWindow(QWidget *parent, const QString &content, bool contentIsAddress,
                        int left, int top, int width, int height, bool modal);

    QTextBrowser *wbBrowser = nullptr;
    QPushButton *BitBtn1 = nullptr; // "Закрыть"
    QToolButton *ToolButtons[3] = {};
    QString currentAddress() const { return m_address; }

private:
    void navigate(const QString &address);
    void BitBtn1Click();
    QString m_appDir;
    QString m_address;
};
