#include "servicelog/json.hpp"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>

#include <limits>

namespace zanst::servicelog {

namespace {

// JSON numbers are doubles: exact up to 2^53, far beyond every counter here.
qint64 integer(const QJsonObject& o, const char* key, qint64 fallback = 0) {
    const QJsonValue v = o.value(QLatin1String(key));
    return v.isDouble() ? static_cast<qint64>(v.toDouble()) : fallback;
}

template <typename T> T narrow(const QJsonObject& o, const char* key, T fallback = T{}) {
    const qint64 v = integer(o, key, static_cast<qint64>(fallback));
    if (v < static_cast<qint64>(std::numeric_limits<T>::min()) ||
        v > static_cast<qint64>(std::numeric_limits<T>::max())) {
        return fallback;
    }
    return static_cast<T>(v);
}

QString text(const QJsonObject& o, const char* key) {
    return o.value(QLatin1String(key)).toString();
}

QJsonValue optionalInt(const std::optional<int>& v) {
    return v ? QJsonValue(*v) : QJsonValue(QJsonValue::Null);
}

QJsonObject toJson(const CalibrationValues& v) {
    return {{QStringLiteral("vGain"), v.vGain},
            {QStringLiteral("iGain"), v.iGain},
            {QStringLiteral("iOffset"), v.iOffset}};
}

std::optional<CalibrationValues> calibrationValuesFrom(const QJsonValue& value) {
    if (!value.isObject()) {
        return std::nullopt;
    }
    const QJsonObject o = value.toObject();
    return CalibrationValues{narrow<std::uint16_t>(o, "vGain"), narrow<std::uint16_t>(o, "iGain"),
                             narrow<std::uint16_t>(o, "iOffset")};
}

QJsonObject readingJson(const bank::BalancerReading& r) {
    QJsonObject o;
    o[QStringLiteral("id")] = r.id;
    o[QStringLiteral("cellId")] = r.cellId;
    o[QStringLiteral("mv")] = optionalInt(r.millivolts);
    o[QStringLiteral("ma")] = r.milliamps;
    o[QStringLiteral("tenthsC")] = r.tenthsCelsius;
    o[QStringLiteral("infoFlags")] = r.infoFlags;
    o[QStringLiteral("statusFlags")] = r.statusFlags;
    o[QStringLiteral("serial")] = QString::fromStdString(r.serial);
    o[QStringLiteral("productId")] = r.productId;
    o[QStringLiteral("capacity")] = r.capacity;
    o[QStringLiteral("fwVersion")] = static_cast<qint64>(r.fwVersion);
    o[QStringLiteral("blVersion")] = static_cast<qint64>(r.blVersion);
    o[QStringLiteral("hwRevision")] = r.hwRevision;
    o[QStringLiteral("bootMode")] = r.bootMode;
    o[QStringLiteral("vGain")] = r.vGain;
    o[QStringLiteral("iGain")] = r.iGain;
    o[QStringLiteral("iOffset")] = r.iOffset;
    o[QStringLiteral("battery")] = r.battery;
    o[QStringLiteral("crcErrors")] = static_cast<qint64>(r.crcErrors);
    o[QStringLiteral("missedAnswers")] = static_cast<qint64>(r.missedAnswers);
    return o;
}

bank::BalancerReading readingFrom(const QJsonObject& o) {
    bank::BalancerReading r;
    r.id = narrow<int>(o, "id");
    r.cellId = narrow<int>(o, "cellId");
    if (o.value(QStringLiteral("mv")).isDouble()) {
        r.millivolts = narrow<int>(o, "mv");
    }
    r.milliamps = narrow<int>(o, "ma");
    r.tenthsCelsius = narrow<int>(o, "tenthsC");
    r.infoFlags = narrow<std::uint8_t>(o, "infoFlags");
    r.statusFlags = narrow<std::uint8_t>(o, "statusFlags");
    r.serial = text(o, "serial").toStdString();
    r.productId = narrow<std::uint16_t>(o, "productId");
    r.capacity = narrow<std::uint16_t>(o, "capacity");
    r.fwVersion = narrow<std::uint32_t>(o, "fwVersion");
    r.blVersion = narrow<std::uint32_t>(o, "blVersion");
    r.hwRevision = narrow<std::uint8_t>(o, "hwRevision");
    r.bootMode = narrow<std::uint8_t>(o, "bootMode");
    r.vGain = narrow<std::uint16_t>(o, "vGain");
    r.iGain = narrow<std::uint16_t>(o, "iGain");
    r.iOffset = narrow<std::uint16_t>(o, "iOffset");
    r.battery = narrow<int>(o, "battery");
    r.crcErrors = narrow<std::uint32_t>(o, "crcErrors");
    r.missedAnswers = narrow<std::uint32_t>(o, "missedAnswers");
    return r;
}

QJsonObject healthJson(const RingHealth& h) {
    return {
        {QStringLiteral("framesSent"), static_cast<qint64>(h.framesSent)},
        {QStringLiteral("framesReceived"), static_cast<qint64>(h.framesReceived)},
        {QStringLiteral("validReceived"), static_cast<qint64>(h.validReceived)},
        {QStringLiteral("crcErrors"), static_cast<qint64>(h.crcErrors)},
        {QStringLiteral("unansweredPolls"), static_cast<qint64>(h.unansweredPolls)},
        {QStringLiteral("noAnswerAfter"), h.noAnswerAfter},
        {QStringLiteral("msSinceValid"), static_cast<qint64>(h.msSinceValid)},
    };
}

RingHealth healthFrom(const QJsonObject& o) {
    RingHealth h;
    h.framesSent = static_cast<std::uint64_t>(integer(o, "framesSent"));
    h.framesReceived = static_cast<std::uint64_t>(integer(o, "framesReceived"));
    h.validReceived = static_cast<std::uint64_t>(integer(o, "validReceived"));
    h.crcErrors = static_cast<std::uint64_t>(integer(o, "crcErrors"));
    h.unansweredPolls = static_cast<std::uint64_t>(integer(o, "unansweredPolls"));
    h.noAnswerAfter = narrow<int>(o, "noAnswerAfter", -1);
    h.msSinceValid = integer(o, "msSinceValid", -1);
    return h;
}

QJsonArray intArray(const std::vector<int>& values) {
    QJsonArray a;
    for (int v : values) {
        a.append(v);
    }
    return a;
}

QJsonArray textArray(const std::vector<QString>& values) {
    QJsonArray a;
    for (const QString& v : values) {
        a.append(v);
    }
    return a;
}

Outcome outcomeOf(const QJsonObject& o) {
    return outcomeFrom(text(o, "outcome")).value_or(Outcome::Unknown);
}

} // namespace

QJsonObject toJson(const metrics::MetricsMetadata& m) {
    QJsonObject o;
    o[QStringLiteral("instance")] = m.instanceNumber;
    o[QStringLiteral("layoutVersion")] = m.layoutVersion;
    o[QStringLiteral("secsLifeSpan")] = static_cast<qint64>(m.secsLifeSpan);
    o[QStringLiteral("cyclesBeforeEOL")] = m.cyclesBeforeEOL;
    QJsonArray ir;
    for (std::uint16_t v :
         {m.secsAtIRRange100_110perc, m.secsAtIRRange110_120perc, m.secsAtIRRange120_130perc,
          m.secsAtIRRange130_150perc, m.secsAtIRRange150_175perc, m.secsAtIRRange175_200perc,
          m.secsAtIRRange200_225perc, m.secsAtIRAbove225perc}) {
        ir.append(v);
    }
    o[QStringLiteral("secsAtIR")] = ir;
    o[QStringLiteral("secsInUndervoltage")] = static_cast<qint64>(m.secsInUndervoltage);
    o[QStringLiteral("secsInOvervoltage")] = static_cast<qint64>(m.secsInOvervoltage);
    o[QStringLiteral("secsInSub01C")] = static_cast<qint64>(m.secsInSub01C);
    QJsonArray matrix; // [soc][temperature][c-rate]
    for (const auto& byTemperature : m.timeMatrix) {
        QJsonArray t;
        for (const auto& byCRate : byTemperature) {
            QJsonArray c;
            for (std::uint32_t seconds : byCRate) {
                c.append(static_cast<qint64>(seconds));
            }
            t.append(c);
        }
        matrix.append(t);
    }
    o[QStringLiteral("timeMatrix")] = matrix;
    o[QStringLiteral("storeChecksum")] = m.storeChecksum;
    return o;
}

metrics::MetricsMetadata metricsFromJson(const QJsonObject& o) {
    metrics::MetricsMetadata m;
    m.instanceNumber = narrow<std::uint16_t>(o, "instance");
    m.layoutVersion = narrow<std::uint16_t>(o, "layoutVersion");
    m.secsLifeSpan = narrow<std::uint32_t>(o, "secsLifeSpan");
    m.cyclesBeforeEOL = narrow<std::uint16_t>(o, "cyclesBeforeEOL");
    const QJsonArray ir = o.value(QStringLiteral("secsAtIR")).toArray();
    std::uint16_t* irFields[] = {&m.secsAtIRRange100_110perc, &m.secsAtIRRange110_120perc,
                                 &m.secsAtIRRange120_130perc, &m.secsAtIRRange130_150perc,
                                 &m.secsAtIRRange150_175perc, &m.secsAtIRRange175_200perc,
                                 &m.secsAtIRRange200_225perc, &m.secsAtIRAbove225perc};
    for (qsizetype i = 0; i < 8 && i < ir.size(); ++i) {
        const double v = ir.at(i).toDouble();
        *irFields[i] = v >= 0 && v <= 65535 ? static_cast<std::uint16_t>(v) : 0;
    }
    m.secsInUndervoltage = narrow<std::uint32_t>(o, "secsInUndervoltage");
    m.secsInOvervoltage = narrow<std::uint32_t>(o, "secsInOvervoltage");
    m.secsInSub01C = narrow<std::uint32_t>(o, "secsInSub01C");
    const QJsonArray matrix = o.value(QStringLiteral("timeMatrix")).toArray();
    for (std::size_t s = 0; s < metrics::kSocRanges && static_cast<qsizetype>(s) < matrix.size(); ++s) {
        const QJsonArray t = matrix.at(static_cast<qsizetype>(s)).toArray();
        for (std::size_t ti = 0; ti < metrics::kTemperatureRanges && static_cast<qsizetype>(ti) < t.size();
             ++ti) {
            const QJsonArray c = t.at(static_cast<qsizetype>(ti)).toArray();
            for (std::size_t ci = 0; ci < metrics::kCRateRanges && static_cast<qsizetype>(ci) < c.size();
                 ++ci) {
                const double v = c.at(static_cast<qsizetype>(ci)).toDouble();
                m.timeMatrix[s][ti][ci] = v >= 0 && v <= 4294967295.0 ? static_cast<std::uint32_t>(v) : 0;
            }
        }
    }
    m.storeChecksum = narrow<std::uint16_t>(o, "storeChecksum");
    return m;
}

QJsonObject toJson(const SnapshotRecord& s) {
    QJsonObject o;
    o[QStringLiteral("seq")] = s.seq;
    o[QStringLiteral("kind")] = kindText(s.kind);
    o[QStringLiteral("takenAt")] = timeText(s.takenAt);
    o[QStringLiteral("setpointMv")] = s.values.balancerSetpoint;
    o[QStringLiteral("bankMv")] = s.values.batVoltage;
    o[QStringLiteral("bankMa")] = s.values.batCurrent;
    o[QStringLiteral("health")] = healthJson(s.health);
    QJsonArray cells;
    for (const bank::BalancerReading& r : s.bank.balancers) {
        cells.append(readingJson(r));
    }
    o[QStringLiteral("cells")] = cells;
    return o;
}

std::optional<SnapshotRecord> snapshotFromJson(const QJsonObject& o, QString* error) {
    SnapshotRecord s;
    const auto kind = snapshotKindFrom(text(o, "kind"));
    if (!kind) {
        if (error) {
            *error = QStringLiteral("snapshot of unknown kind \"%1\"").arg(text(o, "kind"));
        }
        return std::nullopt;
    }
    s.kind = *kind;
    s.seq = narrow<int>(o, "seq");
    s.takenAt = timeFrom(text(o, "takenAt"));
    if (s.seq <= 0 || !s.takenAt.isValid()) {
        if (error) {
            *error = QStringLiteral("snapshot without a number or a time");
        }
        return std::nullopt;
    }
    s.values.balancerSetpoint = narrow<int>(o, "setpointMv");
    s.values.batVoltage = narrow<int>(o, "bankMv");
    s.values.batCurrent = narrow<int>(o, "bankMa");
    s.health = healthFrom(o.value(QStringLiteral("health")).toObject());
    const QJsonArray cells = o.value(QStringLiteral("cells")).toArray();
    if (cells.size() > 255) {
        if (error) {
            *error = QStringLiteral("snapshot with more than 255 balancers");
        }
        return std::nullopt;
    }
    for (const QJsonValue& c : cells) {
        s.bank.balancers.push_back(readingFrom(c.toObject()));
    }
    return s;
}

QJsonObject actionDetails(const ActionRecord& a) {
    QJsonObject o;
    switch (a.kind) {
    case ActionKind::Calibration:
        if (const auto& c = a.calibration) {
            o[QStringLiteral("step")] = stepText(c->step);
            o[QStringLiteral("balancer")] = c->balancer;
            o[QStringLiteral("serial")] = c->serial;
            o[QStringLiteral("input")] = c->input;
            o[QStringLiteral("before")] = c->before ? QJsonValue(toJson(*c->before)) : QJsonValue();
            o[QStringLiteral("after")] = c->after ? QJsonValue(toJson(*c->after)) : QJsonValue();
            o[QStringLiteral("outcome")] = outcomeText(c->outcome);
        }
        break;
    case ActionKind::Parameters:
        if (const auto& p = a.parameters) {
            o[QStringLiteral("serial")] = p->serial;
            o[QStringLiteral("capacity")] = p->capacity;
            o[QStringLiteral("productId")] = p->productId;
            o[QStringLiteral("balancers")] = intArray(p->balancers);
            o[QStringLiteral("previousSerials")] = textArray(p->previousSerials);
            o[QStringLiteral("outcome")] = outcomeText(p->outcome);
        }
        break;
    case ActionKind::Firmware:
        if (const auto& f = a.firmware) {
            o[QStringLiteral("file")] = f->file;
            o[QStringLiteral("imageVersion")] = static_cast<qint64>(f->imageVersion);
            o[QStringLiteral("forced")] = f->forced;
            o[QStringLiteral("detail")] = f->detail;
            QJsonArray list;
            for (const FirmwareBalancerResult& r : f->balancers) {
                list.append(QJsonObject{
                    {QStringLiteral("balancer"), r.balancer},
                    {QStringLiteral("serial"), r.serial},
                    {QStringLiteral("from"), static_cast<qint64>(r.fromVersion)},
                    {QStringLiteral("to"),
                     r.toVersion ? QJsonValue(static_cast<qint64>(*r.toVersion)) : QJsonValue()},
                    {QStringLiteral("outcome"), outcomeText(r.outcome)},
                });
            }
            o[QStringLiteral("balancers")] = list;
        }
        break;
    case ActionKind::Metrics:
        if (const auto& m = a.metrics) {
            o[QStringLiteral("file")] = m->file;
            o[QStringLiteral("serial")] = m->serial;
            o[QStringLiteral("metrics")] = toJson(m->metrics);
        }
        break;
    case ActionKind::Recording:
        if (const auto& r = a.recording) {
            o[QStringLiteral("recorder")] = recordingText(r->kind);
            o[QStringLiteral("path")] = r->path;
        }
        break;
    case ActionKind::Fault:
        if (const auto& f = a.fault) {
            o[QStringLiteral("fault")] = faultText(f->kind);
            o[QStringLiteral("count")] = static_cast<qint64>(f->count);
            o[QStringLiteral("balancer")] = f->balancer;
            o[QStringLiteral("detail")] = f->detail;
        }
        break;
    }
    return o;
}

bool actionFromDetails(ActionRecord& a, const QJsonObject& o, QString* error) {
    switch (a.kind) {
    case ActionKind::Calibration: {
        CalibrationRecord c;
        c.at = a.at;
        const auto step = stepFrom(text(o, "step"));
        if (!step) {
            if (error) {
                *error = QStringLiteral("calibration of unknown step \"%1\"").arg(text(o, "step"));
            }
            return false;
        }
        c.step = *step;
        c.balancer = narrow<int>(o, "balancer");
        c.serial = text(o, "serial");
        c.input = narrow<int>(o, "input");
        c.before = calibrationValuesFrom(o.value(QStringLiteral("before")));
        c.after = calibrationValuesFrom(o.value(QStringLiteral("after")));
        c.outcome = outcomeOf(o);
        a.calibration = c;
        return true;
    }
    case ActionKind::Parameters: {
        ParametersRecord p;
        p.at = a.at;
        p.serial = text(o, "serial");
        p.capacity = narrow<int>(o, "capacity");
        p.productId = narrow<std::uint16_t>(o, "productId");
        for (const QJsonValue& v : o.value(QStringLiteral("balancers")).toArray()) {
            p.balancers.push_back(v.toInt());
        }
        for (const QJsonValue& v : o.value(QStringLiteral("previousSerials")).toArray()) {
            p.previousSerials.push_back(v.toString());
        }
        p.outcome = outcomeOf(o);
        a.parameters = p;
        return true;
    }
    case ActionKind::Firmware: {
        FirmwareRecord f;
        f.at = a.at;
        f.file = text(o, "file");
        f.imageVersion = narrow<std::uint32_t>(o, "imageVersion");
        f.forced = o.value(QStringLiteral("forced")).toBool();
        f.detail = text(o, "detail");
        for (const QJsonValue& v : o.value(QStringLiteral("balancers")).toArray()) {
            const QJsonObject r = v.toObject();
            FirmwareBalancerResult b;
            b.balancer = narrow<int>(r, "balancer");
            b.serial = text(r, "serial");
            b.fromVersion = narrow<std::uint32_t>(r, "from");
            if (r.value(QStringLiteral("to")).isDouble()) {
                b.toVersion = narrow<std::uint32_t>(r, "to");
            }
            b.outcome = outcomeOf(r);
            f.balancers.push_back(b);
        }
        a.firmware = f;
        return true;
    }
    case ActionKind::Metrics: {
        MetricsRecord m;
        m.at = a.at;
        m.file = text(o, "file");
        m.serial = text(o, "serial");
        m.metrics = metricsFromJson(o.value(QStringLiteral("metrics")).toObject());
        a.metrics = m;
        return true;
    }
    case ActionKind::Recording: {
        RecordingRecord r;
        r.at = a.at;
        r.kind = recordingFrom(text(o, "recorder")).value_or(RecordingKind::Tester);
        r.path = text(o, "path");
        a.recording = r;
        return true;
    }
    case ActionKind::Fault: {
        FaultRecord f;
        f.at = a.at;
        f.kind = faultFrom(text(o, "fault")).value_or(FaultKind::Other);
        f.count = static_cast<std::uint64_t>(integer(o, "count"));
        f.balancer = narrow<int>(o, "balancer");
        f.detail = text(o, "detail");
        a.fault = f;
        return true;
    }
    }
    if (error) {
        *error = QStringLiteral("action of unknown kind");
    }
    return false;
}

QJsonObject toJson(const ActionRecord& a) {
    QJsonObject o;
    o[QStringLiteral("seq")] = a.seq;
    o[QStringLiteral("kind")] = kindText(a.kind);
    o[QStringLiteral("at")] = timeText(a.at);
    o[QStringLiteral("details")] = actionDetails(a);
    return o;
}

std::optional<ActionRecord> actionFromJson(const QJsonObject& o, QString* error) {
    ActionRecord a;
    const auto kind = actionKindFrom(text(o, "kind"));
    if (!kind) {
        if (error) {
            *error = QStringLiteral("action of unknown kind \"%1\"").arg(text(o, "kind"));
        }
        return std::nullopt;
    }
    a.kind = *kind;
    a.seq = narrow<int>(o, "seq");
    a.at = timeFrom(text(o, "at"));
    if (a.seq <= 0 || !a.at.isValid()) {
        if (error) {
            *error = QStringLiteral("action without a number or a time");
        }
        return std::nullopt;
    }
    if (!actionFromDetails(a, o.value(QStringLiteral("details")).toObject(), error)) {
        return std::nullopt;
    }
    return a;
}

QJsonObject toJson(const BalancerRecord& b) {
    return {
        {QStringLiteral("balancer"), b.balancer},
        {QStringLiteral("battery"), b.battery},
        {QStringLiteral("serial"), b.serial},
        {QStringLiteral("productId"), b.productId},
        {QStringLiteral("capacity"), b.capacity},
        {QStringLiteral("fwVersion"), static_cast<qint64>(b.fwVersion)},
        {QStringLiteral("blVersion"), static_cast<qint64>(b.blVersion)},
        {QStringLiteral("hwRevision"), b.hwRevision},
        {QStringLiteral("infoFlags"), b.infoFlags},
    };
}

BalancerRecord balancerFromJson(const QJsonObject& o) {
    BalancerRecord b;
    b.balancer = narrow<int>(o, "balancer");
    b.battery = narrow<int>(o, "battery");
    b.serial = text(o, "serial");
    b.productId = narrow<std::uint16_t>(o, "productId");
    b.capacity = narrow<std::uint16_t>(o, "capacity");
    b.fwVersion = narrow<std::uint32_t>(o, "fwVersion");
    b.blVersion = narrow<std::uint32_t>(o, "blVersion");
    b.hwRevision = narrow<int>(o, "hwRevision");
    b.infoFlags = narrow<std::uint8_t>(o, "infoFlags");
    return b;
}

QJsonObject toJson(const VisitRecord& v) {
    QJsonObject o;
    o[QStringLiteral("id")] = v.id;
    o[QStringLiteral("startedAt")] = timeText(v.startedAt);
    o[QStringLiteral("endedAt")] = v.endedAt.isValid() ? QJsonValue(timeText(v.endedAt)) : QJsonValue();
    o[QStringLiteral("endReason")] = endReasonText(v.endReason);
    o[QStringLiteral("site")] = v.site;
    o[QStringLiteral("technician")] = v.technician;
    o[QStringLiteral("adapter")] = v.adapter;
    o[QStringLiteral("port")] = v.port;
    o[QStringLiteral("toolVersion")] = v.toolVersion;
    o[QStringLiteral("notes")] = v.notes;
    QJsonArray balancers;
    for (const BalancerRecord& b : v.balancers) {
        balancers.append(toJson(b));
    }
    o[QStringLiteral("balancers")] = balancers;
    QJsonArray snapshots;
    for (const SnapshotRecord& s : v.snapshots) {
        snapshots.append(toJson(s));
    }
    o[QStringLiteral("snapshots")] = snapshots;
    QJsonArray actions;
    for (const ActionRecord& a : v.actions) {
        actions.append(toJson(a));
    }
    o[QStringLiteral("actions")] = actions;
    return o;
}

std::optional<VisitRecord> visitFromJson(const QJsonObject& o, QString* error) {
    VisitRecord v;
    v.id = text(o, "id");
    v.startedAt = timeFrom(text(o, "startedAt"));
    if (v.id.isEmpty() || v.id.size() > 64 || !v.startedAt.isValid()) {
        if (error) {
            *error = QStringLiteral("a visit without an id or a start time");
        }
        return std::nullopt;
    }
    v.endedAt = timeFrom(text(o, "endedAt"));
    v.endReason = endReasonFrom(text(o, "endReason"));
    v.site = text(o, "site");
    v.technician = text(o, "technician");
    v.adapter = text(o, "adapter");
    v.port = text(o, "port");
    v.toolVersion = text(o, "toolVersion");
    v.notes = text(o, "notes");
    for (const QJsonValue& b : o.value(QStringLiteral("balancers")).toArray()) {
        v.balancers.push_back(balancerFromJson(b.toObject()));
    }
    QString why;
    for (const QJsonValue& s : o.value(QStringLiteral("snapshots")).toArray()) {
        auto snapshot = snapshotFromJson(s.toObject(), &why);
        if (!snapshot) {
            if (error) {
                *error = QStringLiteral("visit %1: %2").arg(v.id, why);
            }
            return std::nullopt;
        }
        v.snapshots.push_back(std::move(*snapshot));
    }
    for (const QJsonValue& a : o.value(QStringLiteral("actions")).toArray()) {
        auto action = actionFromJson(a.toObject(), &why);
        if (!action) {
            if (error) {
                *error = QStringLiteral("visit %1: %2").arg(v.id, why);
            }
            return std::nullopt;
        }
        v.actions.push_back(std::move(*action));
    }
    return v;
}

QByteArray exportDocument(const std::vector<VisitRecord>& visits) {
    QJsonArray list;
    for (const VisitRecord& v : visits) {
        list.append(toJson(v));
    }
    const QJsonObject root{
        {QStringLiteral("format"), QLatin1String(kExportFormat)},
        {QStringLiteral("version"), kExportVersion},
        {QStringLiteral("visits"), list},
    };
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

ParsedExport parseExport(const QByteArray& bytes) {
    ParsedExport result;
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &parseError);
    if (doc.isNull()) {
        result.error = QStringLiteral("not a JSON file (%1 at byte %2)")
                           .arg(parseError.errorString())
                           .arg(parseError.offset);
        return result;
    }
    const QJsonObject root = doc.object();
    if (root.value(QStringLiteral("format")).toString() != QLatin1String(kExportFormat)) {
        result.error = QStringLiteral("not a service log export");
        return result;
    }
    const int version = root.value(QStringLiteral("version")).toInt();
    if (version < 1 || version > kExportVersion) {
        result.error = QStringLiteral("export version %1 is not known to this tool (it reads 1 to %2)")
                           .arg(version)
                           .arg(kExportVersion);
        return result;
    }
    QString why;
    for (const QJsonValue& v : root.value(QStringLiteral("visits")).toArray()) {
        auto visit = visitFromJson(v.toObject(), &why);
        if (!visit) {
            result.error = why;
            result.visits.clear();
            return result;
        }
        result.visits.push_back(std::move(*visit));
    }
    return result;
}

} // namespace zanst::servicelog
