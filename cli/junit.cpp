#include "cli/junit.hpp"

#include <QByteArray>
#include <QFile>
#include <QSaveFile>
#include <QString>
#include <QXmlStreamWriter>

#include <cstdio>
#include <ctime>

namespace zanst::cli {

namespace {

QString seconds(double s) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", s);
    return QString::fromLatin1(text);
}

// The schema's timestamp: xs:dateTime without a zone; the time is UTC.
QString timestamp(std::chrono::system_clock::time_point at) {
    const std::time_t t = std::chrono::system_clock::to_time_t(at);
    std::tm utc{};
    gmtime_r(&t, &utc);
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", utc.tm_year + 1900, utc.tm_mon + 1,
                  utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec);
    return QString::fromLatin1(text);
}

QString q(const std::string& s) {
    return QString::fromStdString(s);
}

} // namespace

std::string junitXml(const CheckReport& report, const JunitSuite& suite) {
    QByteArray out;
    QXmlStreamWriter xml(&out);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    const QString tests = QString::number(report.cases.size());
    const QString failures = QString::number(report.failures());

    xml.writeStartElement("testsuites");
    xml.writeAttribute("name", q(suite.name));
    xml.writeAttribute("tests", tests);
    xml.writeAttribute("failures", failures);
    xml.writeAttribute("errors", "0");
    xml.writeAttribute("time", seconds(report.seconds));

    xml.writeStartElement("testsuite");
    xml.writeAttribute("name", q(suite.name));
    xml.writeAttribute("tests", tests);
    xml.writeAttribute("failures", failures);
    xml.writeAttribute("errors", "0");
    xml.writeAttribute("skipped", "0");
    xml.writeAttribute("time", seconds(report.seconds));
    xml.writeAttribute("timestamp", timestamp(suite.startedAt));
    xml.writeAttribute("hostname", q(suite.hostname));
    if (!suite.properties.empty()) {
        xml.writeStartElement("properties");
        for (const auto& [name, value] : suite.properties) {
            xml.writeStartElement("property");
            xml.writeAttribute("name", q(name));
            xml.writeAttribute("value", q(value));
            xml.writeEndElement();
        }
        xml.writeEndElement();
    }
    for (const CheckCase& c : report.cases) {
        xml.writeStartElement("testcase");
        xml.writeAttribute("name", q(c.name));
        xml.writeAttribute("classname", "zanst.check");
        xml.writeAttribute("time", seconds(report.seconds));
        if (!c.passed) {
            xml.writeStartElement("failure");
            xml.writeAttribute("message", q(c.failure));
            xml.writeAttribute("type", "limit");
            xml.writeCharacters(q(c.measured.empty() ? c.failure : c.measured + "; " + c.failure));
            xml.writeEndElement();
        } else if (!c.measured.empty()) {
            xml.writeTextElement("system-out", q(c.measured));
        }
        xml.writeEndElement();
    }
    xml.writeEndElement();
    xml.writeEndElement();
    xml.writeEndDocument();
    return out.toStdString();
}

std::string writeTextFile(const std::string& path, const std::string& text) {
    // Written whole or not at all: a CI server must never read half a report as a passed one.
    QSaveFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::WriteOnly)) {
        return "Cannot write " + path + ": " + file.errorString().toStdString();
    }
    file.write(text.data(), static_cast<qint64>(text.size()));
    if (!file.commit()) {
        return "Cannot write " + path + ": " + file.errorString().toStdString();
    }
    return {};
}

} // namespace zanst::cli
