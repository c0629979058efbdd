#pragma once
// The program's question dialog; also shows plain notices with one OK button.

#include <QDialog>

class QLabel;
class QPushButton;

class TdlgAskMessage : public QDialog {
    Q_OBJECT
public:
    explicit TdlgAskMessage(QWidget *parent = nullptr);

    // 6 Yes, 7 No, 2 Cancel (also when closed by the frame or Escape).
    int AskQuestion(const QString &text, bool focusYes, bool withCancel);
    // Returns 1 (OK), or 2 when closed by the frame.
    int ShowNotice(const QString &text);

    QLabel *lblText = nullptr;
    QPushButton *btnYes = nullptr;
    QPushButton *btnNo = nullptr;
    QPushButton *btnCancel = nullptr;
    QPushButton *btnOk = nullptr;
    bool FocusYes = true;

protected:
    void showEvent(QShowEvent *event) override;

private:
    void FormShow();
    int execWithPointer();
};
