// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <vector>

namespace lumora::plan {

struct CaseResult {
    enum class Verdict { Passed, Failed, Errored, Skipped };

    QString name;
    Verdict verdict = Verdict::Skipped;
    // From the action's frame leaving to the reply in which the expectation
    // held, or to the moment it was given up.
    double seconds = 0;
    // Failed: every mismatch, "input 02 expected 1, got 0; counter 03 ...";
    // Errored: why the step could not be carried out.
    QString message;
    // For TAP's block: what was expected and what came, of the mismatches.
    QString expected;
    QString got;
};

// A run as the reports tell it. Setup and teardown appear as cases named
// "setup" and "teardown" only when they errored or failed.
struct RunReport {
    QString suite;
    QString planFile;
    QString unit; // "127.0.0.1:4000"
    QString version;
    QString hostname;
    QDateTime started; // UTC
    double seconds = 0;
    std::vector<CaseResult> cases;
};

// Text: one line per case, "PASS name 12 ms" or "FAIL name 1000 ms: message",
// and after them "N passed, M failed" alone.
[[nodiscard]] QString caseLine(const CaseResult& result);
[[nodiscard]] QString summaryLine(const RunReport& report);

// TAP version 13, as prove reads it.
[[nodiscard]] QByteArray tapDocument(const RunReport& report);

// JUnit XML as CI servers read it, valid against dist/junit.xsd.
[[nodiscard]] QByteArray junitDocument(const RunReport& report);
// Written to a temporary file beside `file`, then renamed over it.
[[nodiscard]] bool writeJunit(const QString& file, const RunReport& report, QString& why);

} // namespace lumora::plan
