// SPDX-License-Identifier: GPL-3.0-or-later
#include "plan/report.h"

#include <QSaveFile>
#include <QXmlStreamWriter>

#include <cmath>

using namespace Qt::StringLiterals;

namespace lumora::plan {

namespace {

using Verdict = CaseResult::Verdict;

qint64 milliseconds(double seconds) {
    return qint64(std::llround(seconds * 1000.0));
}

QString secondsText(double seconds) {
    return QString::number(seconds, 'f', 3);
}

qsizetype count(const RunReport& report, Verdict verdict) {
    return std::count_if(report.cases.begin(), report.cases.end(),
                         [verdict](const CaseResult& result) { return result.verdict == verdict; });
}

// One line of TAP: a line break would end the test line, and "#" would start
// a directive.
QString tapName(const QString& name) {
    QString line = name;
    line.replace(u'\n', u' ').replace(u'\r', u' ').replace(u"#"_s, u"\\#"_s);
    return line;
}

// A YAML double-quoted scalar, whatever the text holds.
QByteArray yamlQuoted(const QString& text) {
    QString out = u"\""_s;
    for (const QChar c : text) {
        if (c == u'"' || c == u'\\')
            out += u'\\' + QString(c);
        else if (c == u'\n')
            out += u"\\n"_s;
        else if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            out += u"\\x"_s + QString::number(c.unicode(), 16).rightJustified(2, u'0');
        else
            out += c;
    }
    return (out + u'"').toUtf8();
}

// XML 1.0 cannot carry most control characters, escaped or not.
QString xmlText(const QString& text) {
    QString out = text;
    for (QChar& c : out) {
        if ((c.unicode() < 0x20 && c != u'\t' && c != u'\n' && c != u'\r') || c.unicode() == 0xfffe ||
            c.unicode() == 0xffff)
            c = QChar::ReplacementCharacter;
    }
    return out;
}

} // namespace

QString caseLine(const CaseResult& result) {
    const QString ms = u' ' + QString::number(milliseconds(result.seconds)) + u" ms"_s;
    switch (result.verdict) {
    case Verdict::Passed:
        return u"PASS "_s + result.name + ms;
    case Verdict::Failed:
        return u"FAIL "_s + result.name + ms + u": "_s + result.message;
    case Verdict::Errored:
        return u"ERROR "_s + result.name + ms + u": "_s + result.message;
    case Verdict::Skipped:
        break;
    }
    return u"SKIP "_s + result.name;
}

QString summaryLine(const RunReport& report) {
    return QString::number(count(report, Verdict::Passed)) + u" passed, "_s +
           QString::number(count(report, Verdict::Failed) + count(report, Verdict::Errored)) + u" failed"_s;
}

QByteArray tapDocument(const RunReport& report) {
    QByteArray out = "TAP version 13\n1.." + QByteArray::number(qsizetype(report.cases.size())) + '\n';
    int number = 0;
    for (const CaseResult& result : report.cases) {
        const bool bad = result.verdict == Verdict::Failed || result.verdict == Verdict::Errored;
        out += (bad ? "not ok " : "ok ") + QByteArray::number(++number) + " - " + tapName(result.name).toUtf8();
        if (result.verdict == Verdict::Skipped)
            out += " # SKIP";
        out += '\n';
        if (!bad)
            continue;
        out += "  ---\n  message: " + yamlQuoted(result.message) + '\n';
        if (!result.expected.isEmpty() || !result.got.isEmpty())
            out += "  expected: " + yamlQuoted(result.expected) + "\n  got: " + yamlQuoted(result.got) + '\n';
        out += "  latency_ms: " + QByteArray::number(milliseconds(result.seconds)) + "\n  ...\n";
    }
    return out;
}

QByteArray junitDocument(const RunReport& report) {
    QByteArray out;
    QXmlStreamWriter xml(&out);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    const QString tests = QString::number(qsizetype(report.cases.size()));
    const QString failures = QString::number(count(report, Verdict::Failed));
    const QString errors = QString::number(count(report, Verdict::Errored));
    const QString skipped = QString::number(count(report, Verdict::Skipped));
    const QString suite = xmlText(report.suite);
    // The totals on both, as either is what some CI server reads.
    const auto totals = [&] {
        xml.writeAttribute(u"name"_s, suite);
        xml.writeAttribute(u"tests"_s, tests);
        xml.writeAttribute(u"failures"_s, failures);
        xml.writeAttribute(u"errors"_s, errors);
        xml.writeAttribute(u"skipped"_s, skipped);
        xml.writeAttribute(u"time"_s, secondsText(report.seconds));
    };
    xml.writeStartElement(u"testsuites"_s);
    totals();
    xml.writeStartElement(u"testsuite"_s);
    totals();
    xml.writeAttribute(u"timestamp"_s, report.started.toUTC().toString(Qt::ISODate));
    xml.writeAttribute(u"hostname"_s, xmlText(report.hostname));
    xml.writeStartElement(u"properties"_s);
    const std::pair<QString, QString> properties[] = {
        {u"unit"_s, report.unit}, {u"plan"_s, report.planFile}, {u"version"_s, report.version}};
    for (const auto& [name, value] : properties) {
        xml.writeEmptyElement(u"property"_s);
        xml.writeAttribute(u"name"_s, name);
        xml.writeAttribute(u"value"_s, xmlText(value));
    }
    xml.writeEndElement();
    for (const CaseResult& result : report.cases) {
        xml.writeStartElement(u"testcase"_s);
        xml.writeAttribute(u"classname"_s, suite);
        xml.writeAttribute(u"name"_s, xmlText(result.name));
        xml.writeAttribute(u"time"_s, secondsText(result.seconds));
        if (result.verdict == Verdict::Skipped) {
            xml.writeEmptyElement(u"skipped"_s);
        } else if (result.verdict != Verdict::Passed) {
            xml.writeStartElement(result.verdict == Verdict::Failed ? u"failure"_s : u"error"_s);
            xml.writeAttribute(u"message"_s, xmlText(result.message));
            if (!result.expected.isEmpty() || !result.got.isEmpty())
                xml.writeCharacters(xmlText(u"expected: "_s + result.expected + u"\ngot: "_s + result.got));
            xml.writeEndElement();
        }
        xml.writeEndElement();
    }
    xml.writeEndDocument();
    return out;
}

bool writeJunit(const QString& file, const RunReport& report, QString& why) {
    QSaveFile save(file);
    const QByteArray document = junitDocument(report);
    if (!save.open(QIODevice::WriteOnly) || save.write(document) != document.size() || !save.commit()) {
        why = file + u": "_s + save.errorString();
        return false;
    }
    return true;
}

} // namespace lumora::plan
