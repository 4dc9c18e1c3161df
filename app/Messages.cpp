#include "app/Messages.h"

#include <array>
#include <utility>

namespace calorix {
namespace {

struct TEntry {
  int Id;
  const char* Text;
};

// Gaps in the numbering are numbers the program does not use.
constexpr std::array kMessages{
    TEntry{1001, "Термостат: "},
    TEntry{1002, "Термостат: не выбран"},
    TEntry{1003, "Запись"},
    TEntry{1004, "Стоп"},
    TEntry{1006, "Все измеренные значения будут удалены.\nПродолжить?"},
    TEntry{1007, "Нет"},
    TEntry{1008, "Пустой"},
    TEntry{1010, "Клик по графику:\n - левая кнопка для координат"},
    TEntry{1013, "Введенное значение уставки не является числом"},
    TEntry{1014, ": неверный формат запроса"},
    TEntry{1015, ": неверный формат значения"},
    TEntry{1016, ": неизвестный адресат"},
    TEntry{1017, ": неизвестная операция"},
    TEntry{1018, ": значение вне диапазона"},
    TEntry{1019, ": команда не доступна в состоянии \"выключено\""},
    TEntry{1021, "норма"},
    TEntry{1022, "перегрев"},
    TEntry{1023, "уровень"},
    TEntry{1024, "насос"},
    TEntry{1025, "ТЭНы"},
    TEntry{1026, "АЦП"},
    TEntry{1027, "датчик"},
    TEntry{1028, "Не сохраненные данные будут потеряны. Все равно открыть файл?"},
    TEntry{1029, "Днные были изменены. Сохранить изменения?"},
    // Later additions.
    TEntry{1030, "Не удалось записать файл настроек %1"},
    TEntry{1031, "Неожиданный ответ термостата"},
    TEntry{1032, "Ошибочный запрос. Код статуса "},
    TEntry{1033, "Термостат выключен"},
    TEntry{1034, "Термостат %1 не может принимать команды: слишком короткий отчет"},
    TEntry{1035,
           "Найдена незавершенная запись, но прочитать ее не удалось (поврежденных измерений: %1)"},
    TEntry{1036, "Не удалось прочитать незавершенную запись %1: %2"},
};

}  // namespace

QString LoadStr(int id) {
  for (const auto& e : kMessages) {
    if (e.Id == id)
      return QString::fromUtf8(e.Text);
  }
  return {};
}

}  // namespace calorix
