#include "program/Program.h"

#include "base/Messages.h"

#include <QCoreApplication>

#include <algorithm>

namespace calorix {

bool TProgram::operator==(const TProgram& o) const {
  auto same = [](double a, double b) { return a == b || (std::isnan(a) && std::isnan(b)); };
  if (Name != o.Name || End.has_value() != o.End.has_value() || (End && *End != *o.End) ||
      Steps.size() != o.Steps.size())
    return false;
  for (std::size_t i = 0; i < Steps.size(); ++i) {
    const auto &a = Steps[i], &b = o.Steps[i];
    if (a.Type != b.Type || !same(a.Setpoint, b.Setpoint) || !same(a.Rate, b.Rate) ||
        !same(a.Seconds, b.Seconds) || !same(a.Band, b.Band) || !same(a.Limit, b.Limit) ||
        a.From != b.From || a.Count != b.Count)
      return false;
  }
  return true;
}

const char* StepTypeKey(TStepType type) {
  switch (type) {
    case TStepType::Set:
      return "set";
    case TStepType::Ramp:
      return "ramp";
    case TStepType::Hold:
      return "hold";
    case TStepType::Wait:
      return "wait";
    case TStepType::Repeat:
      return "repeat";
  }
  return "";
}

QString StepTypeTitle(TStepType type) {
  switch (type) {
    case TStepType::Set:
      return LoadStr(1040);
    case TStepType::Ramp:
      return LoadStr(1041);
    case TStepType::Hold:
      return LoadStr(1042);
    case TStepType::Wait:
      return LoadStr(1043);
    case TStepType::Repeat:
      return LoadStr(1044);
  }
  return {};
}

QString ProgramTr(const char* text) {
  return QCoreApplication::translate("calorix", text);
}

QString ProgramFault(const QString& where, const char* field, const QString& what) {
  return ProgramTr(QT_TRANSLATE_NOOP("calorix", "%1, поле \"%2\": %3"))
      .arg(where, QLatin1String(field), what);
}

namespace {

// "Шаг 3, поле "band": ..." with the field's name in the file.
QString Fault(std::size_t index, const char* field, const char* message) {
  return ProgramFault(ProgramTr(QT_TRANSLATE_NOOP("calorix", "Шаг %1")).arg(index + 1), field,
                      ProgramTr(message));
}
QString EndFault(const char* message) {
  return ProgramFault(ProgramTr(QT_TRANSLATE_NOOP("calorix", "Конечная уставка")), "setpoint",
                      ProgramTr(message));
}

bool Finite(double v) {
  return std::isfinite(v);
}

}  // namespace

QString CheckStep(const TProgram& program, std::size_t index, const TSetpointLimits* limits) {
  const TProgramStep& s = program.Steps[index];
  auto setpoint = [&]() -> QString {
    if (!Finite(s.Setpoint))
      return Fault(index, "setpoint",
                   QT_TRANSLATE_NOOP("calorix", "значение не является конечным числом"));
    if (limits && (s.Setpoint < limits->Min || s.Setpoint > limits->Max))
      return Fault(index, "setpoint",
                   QT_TRANSLATE_NOOP("calorix", "уставка вне допустимых пределов"));
    return {};
  };
  auto positive = [&](double v, const char* field, bool optional) -> QString {
    if (std::isnan(v) && optional)
      return {};
    if (!Finite(v))
      return Fault(index, field,
                   QT_TRANSLATE_NOOP("calorix", "значение не является конечным числом"));
    if (v < 0)
      return Fault(index, field,
                   QT_TRANSLATE_NOOP("calorix", "значение не может быть отрицательным"));
    return {};
  };
  QString e;
  switch (s.Type) {
    case TStepType::Set:
      return setpoint();
    case TStepType::Ramp:
      if (!(e = setpoint()).isEmpty())
        return e;
      if (std::isnan(s.Rate) == std::isnan(s.Seconds))
        return Fault(
            index, "rate",
            QT_TRANSLATE_NOOP("calorix",
                              "нужно задать либо скорость (rate), либо длительность (seconds)"));
      if (!std::isnan(s.Rate)) {
        if (!(e = positive(s.Rate, "rate", false)).isEmpty())
          return e;
        if (s.Rate == 0)
          return Fault(index, "rate",
                       QT_TRANSLATE_NOOP("calorix", "значение должно быть больше нуля"));
        return {};
      }
      return positive(s.Seconds, "seconds", false);
    case TStepType::Hold:
      if (!(e = positive(s.Seconds, "seconds", false)).isEmpty())
        return e;
      return positive(s.Band, "band", true);
    case TStepType::Wait:
      if (!(e = positive(s.Band, "band", false)).isEmpty())
        return e;
      if (!(e = positive(s.Seconds, "seconds", false)).isEmpty())
        return e;
      return positive(s.Limit, "limit", true);
    case TStepType::Repeat: {
      if (s.From < 1 || std::size_t(s.From) > index)
        return Fault(index, "from",
                     QT_TRANSLATE_NOOP(
                         "calorix", "повтор может ссылаться только на один из предыдущих шагов"));
      if (s.Count < 0)
        return Fault(index, "count",
                     QT_TRANSLATE_NOOP("calorix", "значение не может быть отрицательным"));
      // Loops nest or stand apart; one that begins inside an earlier loop and
      // ends after it crosses it.
      const std::size_t a = std::size_t(s.From - 1);
      for (std::size_t j = a; j < index; ++j) {
        const TProgramStep& o = program.Steps[j];
        if (o.Type == TStepType::Repeat && o.From >= 1 && std::size_t(o.From - 1) < a)
          return Fault(index, "from",
                       QT_TRANSLATE_NOOP("calorix", "цикл пересекается с другим циклом"));
      }
      return {};
    }
  }
  return {};
}

QString CheckProgram(const TProgram& program, const TSetpointLimits* limits) {
  for (std::size_t i = 0; i < program.Steps.size(); ++i) {
    QString e = CheckStep(program, i, limits);
    if (!e.isEmpty())
      return e;
  }
  if (program.End) {
    if (!Finite(*program.End))
      return EndFault(QT_TRANSLATE_NOOP("calorix", "значение не является конечным числом"));
    if (limits && (*program.End < limits->Min || *program.End > limits->Max))
      return EndFault(QT_TRANSLATE_NOOP("calorix", "уставка вне допустимых пределов"));
  }
  return {};
}

namespace {

// A stretch of steps as far as the estimate needs it: its constant seconds,
// the ramp by rate that first moves the setpoint (its time depends on where
// the stretch starts), and where the setpoint ends.
struct TStretch {
  double Seconds = 0;
  bool Leading = false;  // a ramp by rate before any other setpoint change
  double LeadRate = 0, LeadTarget = 0;
  bool Moves = false;  // the stretch changes the setpoint
  double EndSetpoint = 0;

  double From(double start) const {
    double s = Seconds;
    if (Leading && std::isfinite(start))
      s += std::fabs(LeadTarget - start) / LeadRate * 60.0;
    return s;
  }
  double EndFrom(double start) const { return Moves ? EndSetpoint : start; }
  // This stretch, then next.
  void Append(const TStretch& next) {
    if (next.Leading) {
      if (Moves)
        Seconds += next.From(EndSetpoint);
      else {
        Seconds += next.Seconds;
        Leading = true, LeadRate = next.LeadRate, LeadTarget = next.LeadTarget;
      }
    } else {
      Seconds += next.Seconds;
    }
    if (next.Moves)
      Moves = true, EndSetpoint = next.EndSetpoint;
  }
};

}  // namespace

double EstimateSeconds(const TProgram& program, double startSetpoint) {
  // One open stretch per loop level; a repeat closes the stretch that began at
  // its "from" step. Loops do not cross, so the open beginnings form a stack.
  std::vector<std::pair<std::size_t, TStretch>> open{{0, {}}};
  auto stepStretch = [](const TProgramStep& s) {
    TStretch t;
    switch (s.Type) {
      case TStepType::Set:
        t.Moves = true, t.EndSetpoint = s.Setpoint;
        break;
      case TStepType::Ramp:
        t.Moves = true, t.EndSetpoint = s.Setpoint;
        if (std::isnan(s.Rate))
          t.Seconds = s.Seconds;
        else
          t.Leading = true, t.LeadRate = s.Rate, t.LeadTarget = s.Setpoint;
        break;
      case TStepType::Hold:
      case TStepType::Wait:
        t.Seconds = std::isfinite(s.Seconds) ? s.Seconds : 0;
        break;
      case TStepType::Repeat:
        break;
    }
    return t;
  };
  // How many loops begin at each step.
  std::vector<int> begins(program.Steps.size(), 0);
  for (const TProgramStep& s : program.Steps)
    if (s.Type == TStepType::Repeat && s.From >= 1 && std::size_t(s.From) <= begins.size())
      ++begins[std::size_t(s.From - 1)];
  for (std::size_t i = 0; i < program.Steps.size(); ++i) {
    for (int k = 0; k < begins[i]; ++k)
      open.emplace_back(i, TStretch{});
    const TProgramStep& s = program.Steps[i];
    if (s.Type != TStepType::Repeat) {
      open.back().second.Append(stepStretch(s));
      continue;
    }
    if (open.size() < 2)
      continue;  // a loop that was refused: nothing to repeat
    const TStretch body = open.back().second;
    open.pop_back();
    TStretch loop = body;
    const double count = std::max(0, s.Count);
    if (body.Moves)
      loop.Seconds += count * body.From(body.EndSetpoint);
    else
      loop.Seconds += count * body.Seconds;
    open.back().second.Append(loop);
  }
  while (open.size() > 1) {  // loops left open by a refused program
    const TStretch t = open.back().second;
    open.pop_back();
    open.back().second.Append(t);
  }
  return open.back().second.From(startSetpoint);
}

}  // namespace calorix
