#pragma once
// The main window on a temporary program folder, its questions answered by a
// script, with Russian number and date formats; closed without asking.

#include "ScriptedDialogs.h"
#include "TempAppDir.h"

#include "app/MainForm.h"

#include <QLocale>
#include <gtest/gtest.h>

#include <memory>

template <class WindowDialogsT = ScriptedDialogs>
struct WindowFixtureOf : ::testing::Test {
    TempAppDir dir;
    std::unique_ptr<TMainForm> form;
    WindowDialogsT dialogs;

    void SetUp() override
    {
        QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
        form = std::make_unique<TMainForm>(dir.path());
        form->setDialogs(&dialogs);
    }
    void TearDown() override
    {
        form->closeWithoutAsking = true;
        form.reset();
        QLocale::setDefault(QLocale::c());
    }
};

using WindowFixture = WindowFixtureOf<>;
