// One offscreen QApplication for a test program.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QTimer>
#include <QDialog>
#include <QWidget>
#include <cstdlib>

#include "afxcmn.h"
#include "mfc/resources.h"
#include "mfc/test_hooks.h"

inline QApplication* TestApp()
{
    static int argc = 1;
    static char name[] = "mfc_test";
    static char* argv[] = {name, nullptr};
    if (!qApp) {
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        new QApplication(argc, argv);
    }
    return static_cast<QApplication*>(qApp);
}

struct QtTestEnvironment : ::testing::Environment {
    void SetUp() override { TestApp(); }
};
inline ::testing::Environment* const kQtEnv = ::testing::AddGlobalTestEnvironment(new QtTestEnvironment);

using namespace mfc::rc;
