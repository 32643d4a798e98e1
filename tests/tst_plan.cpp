// SPDX-License-Identifier: GPL-3.0-or-later
#include "plan/plan.h"
#include "plan/report.h"
#include "testsupport.h"

#include <QtTest>

using namespace Qt::StringLiterals;

class tst_Plan : public QObject {
    Q_OBJECT
};

LUMORA_TEST_MAIN_CORE(tst_Plan)
#include "tst_plan.moc"
