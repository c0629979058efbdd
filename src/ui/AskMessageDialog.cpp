#include "ui/AskMessageDialog.h"

#include "core/Dialogs.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

namespace {
constexpr int kButtonTop = 162;
constexpr int kButtonWidth = 120;
constexpr int kButtonHeight = 36;
} // namespace

TdlgAskMessage::TdlgAskMessage(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("dlgAskMessage"));
    setWindowTitle(QStringLiteral("Клиент системы заказа ВОРН. Вопрос"));
    setWindowFlags(Qt::Dialog | Qt::Tool | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFixedSize(409, 220);
    setFont(QFont(QStringLiteral("Tahoma"), 10));
    setModal(true);

    lblText = new QLabel(this);
    lblText->setObjectName(QStringLiteral("lblText"));
    lblText->setGeometry(8, 8, 393, 144);
    lblText->setAlignment(Qt::AlignCenter);
    lblText->setWordWrap(true);
    lblText->setTextFormat(Qt::PlainText);
    lblText->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto makeButton = [this](const char *name, const QString &caption, int left, int result) {
        auto *b = new QPushButton(caption, this);
        b->setObjectName(QLatin1String(name));
        b->setGeometry(left, kButtonTop, kButtonWidth, kButtonHeight);
        b->setAutoDefault(true);
        connect(b, &QPushButton::clicked, this, [this, result] { done(result); });
        return b;
    };
    btnYes = makeButton("btnYes", QStringLiteral("&Да"), 11, mrYes);
    btnNo = makeButton("btnNo", QStringLiteral("&Нет"), 270, mrNo);
    btnCancel = makeButton("btnCancel", QStringLiteral("Отмена"), 270, mrCancel);
    btnOk = makeButton("btnOk", QStringLiteral("OK"), 135, mrOk);
    // A screen reader reads the message itself; the description says what it is.
    lblText->setAccessibleDescription(QStringLiteral("Текст сообщения"));
}

// The person is asked while the program may be busy: the dialog shows the
// ordinary pointer meanwhile, and the busy cursor comes back after it.
int TdlgAskMessage::execWithPointer()
{
    const bool busy = QApplication::overrideCursor() != nullptr;
    if (busy)
        QApplication::setOverrideCursor(Qt::ArrowCursor);
    const int r = exec();
    if (busy)
        QApplication::restoreOverrideCursor();
    return r == QDialog::Rejected ? int(mrCancel) : r;
}

int TdlgAskMessage::AskQuestion(const QString &text, bool focusYes, bool withCancel)
{
    lblText->setText(text);
    btnCancel->setVisible(withCancel);
    btnOk->hide();
    btnYes->show();
    btnNo->show();
    btnNo->move(withCancel ? 134 : 270, kButtonTop);
    FocusYes = focusYes;
    setResult(mrCancel);
    return execWithPointer();
}

int TdlgAskMessage::ShowNotice(const QString &text)
{
    lblText->setText(text);
    btnYes->hide();
    btnNo->hide();
    btnCancel->hide();
    btnOk->show();
    return execWithPointer();
}

void TdlgAskMessage::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    FormShow();
}

// The focused button is the one Enter presses: Yes or No by the question's
// wish; a notice leaves the default focus on OK.
void TdlgAskMessage::FormShow()
{
    QPushButton *target = nullptr;
    if (FocusYes) {
        if (btnYes->isVisible())
            target = btnYes;
    } else if (btnNo->isVisible()) {
        target = btnNo;
    }
    if (!target && btnOk->isVisible())
        target = btnOk;
    for (QPushButton *b : {btnYes, btnNo, btnCancel, btnOk})
        b->setDefault(b == target);
    if (target)
        target->setFocus(Qt::OtherFocusReason);
}
