#pragma once
// How the logic speaks to the person: questions, notices, the wait window,
// pickers and the input box. The windows implement it; tests script it.

#include <QString>

#include <functional>

struct ClientIdentity;

enum ModalResult : int { mrNone = 0, mrOk = 1, mrCancel = 2, mrYes = 6, mrNo = 7 };

class Dialogs {
public:
    virtual ~Dialogs() = default;
    // Returns mrYes, mrNo or mrCancel (the last also when closed by the frame).
    virtual int askQuestion(const QString &text, bool focusYes = true, bool withCancel = false) = 0;
    virtual void showNotice(const QString &text, bool alsoLogDetail = false) = 0;
    // picture 0: connection, 1: other work; other values keep the pictures.
    virtual void showWait(const QString &text, int picture = 0) = 0;
    virtual void hideWait() = 0;
    // While set, the wait window offers «Прервать», which calls `cancel`
    // (a transfer that can be given up); an empty function takes it away.
    virtual void setWaitCancel(std::function<void()> cancel) { (void)cancel; }
    // An empty result means the person cancelled.
    virtual QString pickFolder(const QString &caption, const QString &start) = 0;
    virtual QString pickOpenFile(const QString &caption, const QString &start, const QString &filter) = 0;
    virtual QString pickSaveFile(const QString &caption, const QString &start, const QString &filter) = 0;
    // False when cancelled; value holds the text typed.
    virtual bool inputBox(const QString &caption, const QString &prompt, QString &value) = 0;
    // A new client's code, name, password and server address in one window;
    // false when cancelled (also where no window can be shown).
    virtual bool askClientIdentity(ClientIdentity &) { return false; }
};
