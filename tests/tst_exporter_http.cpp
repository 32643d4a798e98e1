// SPDX-License-Identifier: GPL-3.0-or-later
#include "testsupport.h"

#include <QtTest>

class tst_Exporter_http : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void nothingYet() {}
};

LUMORA_SUITE_CLASS(tst_Exporter_http);
#include "tst_exporter_http.moc"
