#pragma once
// The program file: UTF-8 JSON, {"format": "calorix-program", "version": 1,
// "name", "steps", "end"}. Reading refuses anything else with a message that
// names the step and the field; saving replaces the file atomically.
#include "program/Program.h"

#include <QByteArray>
#include <QString>

namespace calorix {

inline constexpr char kProgramFormat[] = "calorix-program";
inline constexpr int kProgramVersion = 1;

// The program in text; limits are checked when given. On failure *error says why.
std::optional<TProgram> ParseProgram(const QByteArray& text, const TSetpointLimits* limits,
                                     QString* error);
QByteArray FormatProgram(const TProgram& program);

std::optional<TProgram> LoadProgramFile(const QString& path, const TSetpointLimits* limits,
                                        QString* error);
bool SaveProgramFile(const QString& path, const TProgram& program, QString* error);

}  // namespace calorix
