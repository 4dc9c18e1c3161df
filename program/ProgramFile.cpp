#include "program/ProgramFile.h"

#include "base/Messages.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <cmath>

namespace calorix {

namespace {

struct TFieldReader {
  const QJsonObject& Object;
  QString Where;  // "Шаг 3" or "Конечная уставка"
  QString* Error;

  bool Fail(const char* field, const char* message) const {
    *Error = ProgramFault(Where, field, ProgramTr(message));
    return false;
  }
  // A number field: absent leaves v as it is when optional.
  bool Number(const char* field, double& v, bool optional) const {
    const QJsonValue j = Object.value(QLatin1String(field));
    if (j.isUndefined() || j.isNull()) {
      if (optional)
        return true;
      return Fail(field, QT_TRANSLATE_NOOP("calorix", "поле отсутствует"));
    }
    if (!j.isDouble() || !std::isfinite(j.toDouble()))
      return Fail(field, QT_TRANSLATE_NOOP("calorix", "значение не является конечным числом"));
    v = j.toDouble();
    return true;
  }
  bool Integer(const char* field, int& v) const {
    double d = kNoValue;
    if (!Number(field, d, false))
      return false;
    if (d != std::floor(d) || std::fabs(d) > 1e9)
      return Fail(field, QT_TRANSLATE_NOOP("calorix", "значение должно быть целым числом"));
    v = int(d);
    return true;
  }
};

std::optional<TStepType> TypeOf(const QString& key) {
  for (TStepType t :
       {TStepType::Set, TStepType::Ramp, TStepType::Hold, TStepType::Wait, TStepType::Repeat})
    if (key == QLatin1String(StepTypeKey(t)))
      return t;
  return std::nullopt;
}

}  // namespace

std::optional<TProgram> ParseProgram(const QByteArray& text, const TSetpointLimits* limits,
                                     QString* error) {
  QString dummy;
  if (!error)
    error = &dummy;
  QJsonParseError pe;
  const QJsonDocument doc = QJsonDocument::fromJson(text, &pe);
  if (pe.error != QJsonParseError::NoError) {
    *error = ProgramTr(QT_TRANSLATE_NOOP("calorix",
                                         "Файл программы не является файлом JSON (позиция %1: %2)"))
                 .arg(pe.offset)
                 .arg(pe.errorString());
    return std::nullopt;
  }
  if (!doc.isObject()) {
    *error = ProgramTr(QT_TRANSLATE_NOOP("calorix", "Файл не является файлом программы"));
    return std::nullopt;
  }
  const QJsonObject root = doc.object();
  if (root.value(QLatin1String("format")).toString() != QLatin1String(kProgramFormat)) {
    *error = ProgramTr(QT_TRANSLATE_NOOP("calorix", "Файл не является файлом программы"));
    return std::nullopt;
  }
  const QJsonValue version = root.value(QLatin1String("version"));
  if (!version.isDouble() || version.toDouble() != kProgramVersion) {
    *error = ProgramTr(QT_TRANSLATE_NOOP("calorix", "Неподдерживаемая версия файла программы: %1"))
                 .arg(version.isDouble() ? QString::number(version.toDouble())
                                         : version.toVariant().toString());
    return std::nullopt;
  }
  TProgram p;
  const QJsonValue name = root.value(QLatin1String("name"));
  if (!name.isUndefined() && !name.isString()) {
    *error = ProgramTr(QT_TRANSLATE_NOOP("calorix", "Неверное поле \"%1\" файла программы"))
                 .arg(QLatin1String("name"));
    return std::nullopt;
  }
  p.Name = name.toString();
  const QJsonValue steps = root.value(QLatin1String("steps"));
  if (!steps.isArray()) {
    *error = ProgramTr(QT_TRANSLATE_NOOP("calorix", "Неверное поле \"%1\" файла программы"))
                 .arg(QLatin1String("steps"));
    return std::nullopt;
  }
  const QJsonArray array = steps.toArray();
  p.Steps.reserve(std::size_t(array.size()));
  for (qsizetype i = 0; i < array.size(); ++i) {
    const QString where = ProgramTr(QT_TRANSLATE_NOOP("calorix", "Шаг %1")).arg(i + 1);
    if (!array[i].isObject()) {
      *error =
          ProgramTr(QT_TRANSLATE_NOOP("calorix", "%1: шаг должен быть объектом JSON")).arg(where);
      return std::nullopt;
    }
    const QJsonObject o = array[i].toObject();
    const TFieldReader r{o, where, error};
    const auto type = TypeOf(o.value(QLatin1String("type")).toString());
    if (!type) {
      r.Fail("type", QT_TRANSLATE_NOOP("calorix", "неизвестный тип шага"));
      return std::nullopt;
    }
    TProgramStep s;
    s.Type = *type;
    bool ok = true;
    switch (s.Type) {
      case TStepType::Set:
        ok = r.Number("setpoint", s.Setpoint, false);
        break;
      case TStepType::Ramp:
        ok = r.Number("setpoint", s.Setpoint, false) && r.Number("rate", s.Rate, true) &&
             r.Number("seconds", s.Seconds, true);
        break;
      case TStepType::Hold:
        ok = r.Number("seconds", s.Seconds, false) && r.Number("band", s.Band, true);
        break;
      case TStepType::Wait:
        ok = r.Number("band", s.Band, false) && r.Number("seconds", s.Seconds, false) &&
             r.Number("limit", s.Limit, true);
        break;
      case TStepType::Repeat:
        ok = r.Integer("from", s.From) && r.Integer("count", s.Count);
        break;
    }
    if (!ok)
      return std::nullopt;
    p.Steps.push_back(s);
  }
  const QJsonValue end = root.value(QLatin1String("end"));
  if (!end.isUndefined() && !end.isNull()) {
    if (!end.isObject()) {
      *error = ProgramTr(QT_TRANSLATE_NOOP("calorix", "Неверное поле \"%1\" файла программы"))
                   .arg(QLatin1String("end"));
      return std::nullopt;
    }
    const QJsonObject o = end.toObject();
    double v = kNoValue;
    if (!TFieldReader{o, ProgramTr(QT_TRANSLATE_NOOP("calorix", "Конечная уставка")), error}.Number(
            "setpoint", v, false))
      return std::nullopt;
    p.End = v;
  }
  QString fault = CheckProgram(p, limits);
  if (!fault.isEmpty()) {
    *error = fault;
    return std::nullopt;
  }
  return p;
}

QByteArray FormatProgram(const TProgram& program) {
  QJsonObject root;
  root.insert(QLatin1String("format"), QLatin1String(kProgramFormat));
  root.insert(QLatin1String("version"), kProgramVersion);
  root.insert(QLatin1String("name"), program.Name);
  QJsonArray steps;
  for (const TProgramStep& s : program.Steps) {
    QJsonObject o;
    o.insert(QLatin1String("type"), QLatin1String(StepTypeKey(s.Type)));
    auto put = [&](const char* key, double v) {
      if (std::isfinite(v))
        o.insert(QLatin1String(key), v);
    };
    switch (s.Type) {
      case TStepType::Set:
        put("setpoint", s.Setpoint);
        break;
      case TStepType::Ramp:
        put("setpoint", s.Setpoint), put("rate", s.Rate), put("seconds", s.Seconds);
        break;
      case TStepType::Hold:
        put("seconds", s.Seconds), put("band", s.Band);
        break;
      case TStepType::Wait:
        put("band", s.Band), put("seconds", s.Seconds), put("limit", s.Limit);
        break;
      case TStepType::Repeat:
        o.insert(QLatin1String("from"), s.From);
        o.insert(QLatin1String("count"), s.Count);
        break;
    }
    steps.append(o);
  }
  root.insert(QLatin1String("steps"), steps);
  if (program.End && std::isfinite(*program.End))
    root.insert(QLatin1String("end"), QJsonObject{{QLatin1String("setpoint"), *program.End}});
  return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

std::optional<TProgram> LoadProgramFile(const QString& path, const TSetpointLimits* limits,
                                        QString* error) {
  // Before opening: opening a named pipe waits for a writer, and pipes and
  // devices may never end. None of them holds a program.
  const QFileInfo info(path);
  if (info.exists() && !info.isFile()) {
    if (error)
      *error = ProgramTr(QT_TRANSLATE_NOOP("calorix", "Файл не является файлом программы"));
    return std::nullopt;
  }
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) {
    if (error)
      *error = ProgramTr(QT_TRANSLATE_NOOP("calorix", "Не удалось открыть файл %1: %2"))
                   .arg(path, f.errorString());
    return std::nullopt;
  }
  // A program is small; anything far larger is not one and is not read whole.
  constexpr qint64 kMaxSize = 64 << 20;
  if (f.size() > kMaxSize) {
    if (error)
      *error = ProgramTr(QT_TRANSLATE_NOOP("calorix", "Файл не является файлом программы"));
    return std::nullopt;
  }
  return ParseProgram(f.readAll(), limits, error);
}

bool SaveProgramFile(const QString& path, const TProgram& program, QString* error) {
  QSaveFile f(path);
  const QByteArray text = FormatProgram(program);
  if (!f.open(QIODevice::WriteOnly) || f.write(text) != text.size() || !f.commit()) {
    if (error)
      *error = ProgramTr(QT_TRANSLATE_NOOP("calorix", "Не удалось записать файл %1: %2"))
                   .arg(path, f.errorString());
    return false;
  }
  return true;
}

}  // namespace calorix
