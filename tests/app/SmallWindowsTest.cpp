#include "GuiTest.h"
#include "TempAppDir.h"
#include "ui/AskMessageDialog.h"
#include "ui/BrowserWindow.h"
#include "ui/PopupWindow.h"
#include "ui/SplashWindow.h"

#include <QLabel>
#include <QPushButton>
#include <QTextBrowser>
#include <gtest/gtest.h>

TEST(AskMessage, ButtonPlacesFocusAndResults)
{
    TdlgAskMessage dlg;
    EXPECT_EQ(dlg.size(), QSize(409, 220));

    bool checked = false;
    whenModalOpens([&](QWidget *) {
        EXPECT_TRUE(dlg.btnYes->isVisible());
        EXPECT_TRUE(dlg.btnNo->isVisible());
        EXPECT_FALSE(dlg.btnCancel->isVisible());
        EXPECT_FALSE(dlg.btnOk->isVisible());
        EXPECT_EQ(dlg.btnYes->x(), 11);
        EXPECT_EQ(dlg.btnNo->x(), 270);
        EXPECT_TRUE(dlg.btnNo->hasFocus() || dlg.btnNo->isDefault());
        checked = true;
        dlg.btnNo->click();
    });
    EXPECT_EQ(dlg.AskQuestion("Закрыть программу?", false, false), 7);
    EXPECT_TRUE(checked);

    whenModalOpens([&](QWidget *) {
        EXPECT_EQ(dlg.btnNo->x(), 134);
        EXPECT_EQ(dlg.btnCancel->x(), 270);
        EXPECT_TRUE(dlg.btnCancel->isVisible());
        EXPECT_TRUE(dlg.btnYes->isDefault());
        dlg.btnYes->click();
    });
    EXPECT_EQ(dlg.AskQuestion("Сохранить?", true, true), 6);

    whenModalOpens([&](QWidget *) { dlg.btnCancel->click(); });
    EXPECT_EQ(dlg.AskQuestion("Сохранить?", true, true), 2);

    // Closed by the frame (or Escape): Cancel.
    whenModalOpens([&](QWidget *w) { w->close(); });
    EXPECT_EQ(dlg.AskQuestion("Удалить?", true, false), 2);

    whenModalOpens([&](QWidget *) {
        EXPECT_FALSE(dlg.btnYes->isVisible());
        EXPECT_FALSE(dlg.btnNo->isVisible());
        EXPECT_TRUE(dlg.btnOk->isVisible());
        EXPECT_EQ(dlg.lblText->text(), "Готово");
        dlg.btnOk->click();
    });
    EXPECT_EQ(dlg.ShowNotice("Готово"), 1);
}

TEST(Splash, DefaultTextAndPictures)
{
    TfrmSplash splash;
    splash.ShowWait(QString(), 0);
    EXPECT_EQ(splash.lbCaption->text(), "Подождите некоторое время, происходит соединение с сервером...");
    EXPECT_TRUE(splash.isVisible());
    EXPECT_FALSE(splash.ImageConnect->isHidden());
    EXPECT_TRUE(splash.Image2->isHidden());
    splash.ShowWait("Загрузка прайса", 1);
    EXPECT_EQ(splash.lbCaption->text(), "Загрузка прайса");
    EXPECT_TRUE(splash.ImageConnect->isHidden());
    splash.ShowWait("Ещё", 5); // other values keep the pictures
    EXPECT_TRUE(splash.ImageConnect->isHidden());
    EXPECT_FALSE(splash.Image2->isHidden());
    EXPECT_TRUE(splash.btnCancelWait->isHidden()); // nothing to give up

    // A transfer that can be given up: «Прервать» calls it once per press,
    // takes the keyboard, and is gone when the transfer is.
    int cancelled = 0;
    splash.SetCancelAction([&] { ++cancelled; });
    splash.ShowWait("Загрузка прайса", 1);
    ASSERT_FALSE(splash.btnCancelWait->isHidden());
    EXPECT_TRUE(splash.rect().contains(splash.btnCancelWait->geometry()));
    EXPECT_FALSE(splash.btnCancelWait->geometry().intersects(splash.lbCaption->geometry()));
    splash.btnCancelWait->click();
    splash.btnCancelWait->click(); // disabled after the first press
    EXPECT_EQ(cancelled, 1);
    splash.SetCancelAction({});
    EXPECT_TRUE(splash.btnCancelWait->isHidden());
    splash.HideWait();
    EXPECT_FALSE(splash.isVisible());
}

TEST(Popup, FadesInToMaxOpacityPlusOneStepThenFadesOutAndHides)
{
    TfrmPopup popup;
    popup.ShowPopup("Примечание", "подробно", false, 10, 20, 200);
    EXPECT_EQ(popup.opacity(), 0);
    EXPECT_TRUE(popup.TimerOpacity.isActive());
    EXPECT_TRUE(popup.TimerHide.isActive());
    EXPECT_EQ(popup.TimerHide.interval(), 10000);
    for (int i = 0; i < 7; ++i)
        popup.TimerOpacityTimer();
    EXPECT_EQ(popup.opacity(), 210);
    EXPECT_TRUE(popup.TimerOpacity.isActive());
    popup.TimerOpacityTimer(); // at or above the target: the timer stops
    EXPECT_EQ(popup.opacity(), 210);
    EXPECT_FALSE(popup.TimerOpacity.isActive());

    popup.TimerBlinkTimer();
    EXPECT_EQ(popup.lbCaption->text(), "Примечание"); // the note stays readable

    popup.TimerHideTimer();
    EXPECT_TRUE(popup.isVisible()); // fading out on the event loop
    EXPECT_FALSE(popup.TimerBlink.isActive());
    EXPECT_TRUE(waitFor([&] { return !popup.isVisible(); }, 3000));
    EXPECT_EQ(popup.opacity(), 0);
    EXPECT_FALSE(popup.TimerHide.isActive());

    // A new popup restarts from 0 at the new place.
    popup.ShowPopup("Другое", "", false, 30, 40, 100);
    EXPECT_EQ(popup.opacity(), 0);
    EXPECT_EQ(popup.pos(), QPoint(30, 40));
}

TEST(Popup, DetailWindowGeometryAndClick)
{
    EXPECT_EQ(TfrmPopup::detailGeometry(500, 700), QRect(5, 515, 300, 150));
    EXPECT_EQ(TfrmPopup::detailGeometry(1400, 900).width(), 700);
    EXPECT_EQ(TfrmPopup::detailGeometry(200, 900).width(), 200);
    TfrmPopup popup;
    QString shown;
    bool asAddress = true;
    popup.onShowDetail = [&](const QString &d, bool a) { shown = d; asAddress = a; };
    popup.ShowPopup("Примечание", "Текст примечания", false, 0, 0, 200);
    popup.lbCaptionClick();
    EXPECT_EQ(shown, "Текст примечания");
    EXPECT_FALSE(asAddress);
}

TEST(Browser, TextGoesToInfoHtmAndCloseHides)
{
    TempAppDir dir;
    TfrmBrowser browser(dir.path());
    browser.ShowInfoWindow(nullptr, "<b>Новая версия</b>", false, 10, 20, 400, 300, false);
    EXPECT_TRUE(browser.isVisible());
    EXPECT_EQ(dir.readText("Data/info.htm"), "<b>Новая версия</b>\n");
    EXPECT_TRUE(browser.wbBrowser->toPlainText().contains("Новая версия"));
    EXPECT_EQ(browser.geometry().size(), QSize(400, 300));
    browser.BitBtn1->click();
    EXPECT_FALSE(browser.isVisible());

    // Modal: returns only when closed.
    dir.writeText("page.htm", "<p>Страница</p>");
    whenModalOpens([&](QWidget *) {
        EXPECT_TRUE(browser.wbBrowser->toPlainText().contains("Страница"));
        browser.BitBtn1->click();
    });
    browser.ShowInfoWindow(nullptr, dir.file("page.htm"), true, 0, 0, 300, 200, true);
    EXPECT_FALSE(browser.isVisible());
}
