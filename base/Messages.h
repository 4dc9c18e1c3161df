#pragma once
// The program's numbered string table. Every text the user sees that is not a
// control caption comes from here, loaded by number.
#include <QString>

namespace calorix {

// Numbers 1001..1029 are the program's message table; numbers from 1030 on
// carry the texts of later additions (errors that used to go unreported).
QString LoadStr(int id);

}  // namespace calorix
