#include "base/Messages.h"

#include <QCoreApplication>

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
    TEntry{1001, QT_TRANSLATE_NOOP("calorix", "Термостат: ")},
    TEntry{1002, QT_TRANSLATE_NOOP("calorix", "Термостат: не выбран")},
    TEntry{1003, QT_TRANSLATE_NOOP("calorix", "Запись")},
    TEntry{1004, QT_TRANSLATE_NOOP("calorix", "Стоп")},
    TEntry{1006,
           QT_TRANSLATE_NOOP("calorix", "Все измеренные значения будут удалены.\nПродолжить?")},
    TEntry{1007, QT_TRANSLATE_NOOP("calorix", "Нет")},
    TEntry{1008, QT_TRANSLATE_NOOP("calorix", "Пустой")},
    TEntry{1010, QT_TRANSLATE_NOOP("calorix", "Клик по графику:\n - левая кнопка для координат")},
    TEntry{1013, QT_TRANSLATE_NOOP("calorix", "Введенное значение уставки не является числом")},
    TEntry{1014, QT_TRANSLATE_NOOP("calorix", ": неверный формат запроса")},
    TEntry{1015, QT_TRANSLATE_NOOP("calorix", ": неверный формат значения")},
    TEntry{1016, QT_TRANSLATE_NOOP("calorix", ": неизвестный адресат")},
    TEntry{1017, QT_TRANSLATE_NOOP("calorix", ": неизвестная операция")},
    TEntry{1018, QT_TRANSLATE_NOOP("calorix", ": значение вне диапазона")},
    TEntry{1019, QT_TRANSLATE_NOOP("calorix", ": команда не доступна в состоянии \"выключено\"")},
    TEntry{1021, QT_TRANSLATE_NOOP("calorix", "норма")},
    TEntry{1022, QT_TRANSLATE_NOOP("calorix", "перегрев")},
    TEntry{1023, QT_TRANSLATE_NOOP("calorix", "уровень")},
    TEntry{1024, QT_TRANSLATE_NOOP("calorix", "насос")},
    TEntry{1025, QT_TRANSLATE_NOOP("calorix", "ТЭНы")},
    TEntry{1026, QT_TRANSLATE_NOOP("calorix", "АЦП")},
    TEntry{1027, QT_TRANSLATE_NOOP("calorix", "датчик")},
    TEntry{1028, QT_TRANSLATE_NOOP(
                     "calorix", "Не сохраненные данные будут потеряны. Все равно открыть файл?")},
    TEntry{1029, QT_TRANSLATE_NOOP("calorix", "Днные были изменены. Сохранить изменения?")},
    // Later additions.
    TEntry{1030, QT_TRANSLATE_NOOP("calorix", "Не удалось записать файл настроек %1")},
    TEntry{1031, QT_TRANSLATE_NOOP("calorix", "Неожиданный ответ термостата")},
    TEntry{1032, QT_TRANSLATE_NOOP("calorix", "Ошибочный запрос. Код статуса ")},
    TEntry{1033, QT_TRANSLATE_NOOP("calorix", "Термостат выключен")},
    TEntry{1034, QT_TRANSLATE_NOOP(
                     "calorix", "Термостат %1 не может принимать команды: слишком короткий отчет")},
    TEntry{1035, QT_TRANSLATE_NOOP("calorix",
                                   "Найдена незавершенная запись, но прочитать ее не удалось "
                                   "(поврежденных измерений: %1)")},
    TEntry{1036, QT_TRANSLATE_NOOP("calorix", "Не удалось прочитать незавершенную запись %1: %2")},
    // Temperature programs.
    TEntry{1040, QT_TRANSLATE_NOOP("calorix", "уставка")},
    TEntry{1041, QT_TRANSLATE_NOOP("calorix", "плавное изменение")},
    TEntry{1042, QT_TRANSLATE_NOOP("calorix", "выдержка")},
    TEntry{1043, QT_TRANSLATE_NOOP("calorix", "ожидание стабильности")},
    TEntry{1044, QT_TRANSLATE_NOOP("calorix", "повтор")},
    TEntry{1045, QT_TRANSLATE_NOOP("calorix", "Шаг %1 из %2: ")},
    TEntry{1046, QT_TRANSLATE_NOOP("calorix", "изменение уставки до %1: %2, %3 из %4")},
    TEntry{1047, QT_TRANSLATE_NOOP("calorix", "выдержка %1 из %2")},
    TEntry{1048, QT_TRANSLATE_NOOP("calorix", "выдержка %1 из %2 в пределах ±%3")},
    TEntry{1049, QT_TRANSLATE_NOOP("calorix", "ожидание стабильности ±%1: %2 из %3")},
    TEntry{1050, QT_TRANSLATE_NOOP("calorix", "Программа приостановлена на шаге %1 из %2: %3")},
    TEntry{1051, QT_TRANSLATE_NOOP("calorix", "защита термостата: %1")},
    TEntry{1052, QT_TRANSLATE_NOOP("calorix", "термостат выключен")},
    TEntry{1053, QT_TRANSLATE_NOOP("calorix", "термостат отключен или выбран другой")},
    TEntry{1054, QT_TRANSLATE_NOOP("calorix", "три записи уставки подряд не удались")},
    TEntry{1055, QT_TRANSLATE_NOOP("calorix", "записана уставка %1, а прочитана %2")},
    TEntry{1056, QT_TRANSLATE_NOOP("calorix", "температура не стабилизировалась за %1")},
    TEntry{1057, QT_TRANSLATE_NOOP("calorix", "пауза по команде пользователя")},
    TEntry{1058, QT_TRANSLATE_NOOP("calorix", "Программа не может быть запущена: %1")},
    TEntry{1059, QT_TRANSLATE_NOOP("calorix", "программа не загружена")},
    TEntry{1060, QT_TRANSLATE_NOOP("calorix", "термостат не выбран")},
    TEntry{1061,
           QT_TRANSLATE_NOOP("calorix",
                             "Выполняется программа. Приостановить ее перед изменением уставки?")},
    TEntry{1062, QT_TRANSLATE_NOOP(
                     "calorix",
                     "Программа \"%1\" была прервана на шаге %2 из %3. Термостат держит последнюю "
                     "записанную уставку; программа не будет продолжена сама.")},
    TEntry{1063, QT_TRANSLATE_NOOP("calorix", "Программа \"%1\" завершена")},
    TEntry{1064, QT_TRANSLATE_NOOP("calorix", "Расчетная длительность: %1")},
    TEntry{1065, QT_TRANSLATE_NOOP("calorix", "Выполняется программа: сначала остановите ее")},
    TEntry{1066, QT_TRANSLATE_NOOP("calorix", "Программа остановлена")},
    // Remote control.
    TEntry{1070, QT_TRANSLATE_NOOP("calorix", "Удаленное управление: %1, клиентов: %2")},
    TEntry{1071,
           QT_TRANSLATE_NOOP("calorix",
                             "Внимание: удаленное управление открыто для сети: %1, клиентов: %2")},
    TEntry{1072, QT_TRANSLATE_NOOP("calorix", "Удаленное управление: не удалось открыть %1: %2")},
    TEntry{1073, QT_TRANSLATE_NOOP("calorix", "Удаленное управление")},
    TEntry{1074, QT_TRANSLATE_NOOP("calorix", "Включить")},
    TEntry{1075, QT_TRANSLATE_NOOP("calorix", "Адрес:")},
    TEntry{1076, QT_TRANSLATE_NOOP("calorix", "Порт:")},
    TEntry{1077, QT_TRANSLATE_NOOP("calorix", "Неверный адрес удаленного управления")},
    TEntry{1078, QT_TRANSLATE_NOOP("calorix", "Неверный порт удаленного управления (1..65535)")},
    // Publishing to an MQTT broker: 1090..1109.
    TEntry{1090, QT_TRANSLATE_NOOP("calorix", "MQTT: подключено к %1:%2")},
    TEntry{1091, QT_TRANSLATE_NOOP("calorix", "MQTT: нет связи, повтор через %1 с")},
    TEntry{1092, QT_TRANSLATE_NOOP("calorix", "MQTT: узел %1 не найден, повтор через %2 с")},
    TEntry{1093,
           QT_TRANSLATE_NOOP("calorix", "MQTT: брокер отклонил имя или пароль, повтор через %1 с")},
    TEntry{1094, QT_TRANSLATE_NOOP(
                     "calorix", "MQTT: брокер отклонил подключение (код %1), повтор через %2 с")},
    TEntry{1095,
           QT_TRANSLATE_NOOP("calorix", "MQTT: ошибка TLS, проверьте файл CA, повтор через %1 с")},
    TEntry{1096, QT_TRANSLATE_NOOP("calorix", "MQTT: брокер не отвечает, повтор через %1 с")},
    TEntry{1097, QT_TRANSLATE_NOOP("calorix", "MQTT: не удалось прочитать файл CA %1")},
    TEntry{1098, QT_TRANSLATE_NOOP("calorix", "MQTT: не удалось прочитать файл пароля %1")},
    TEntry{1099, QT_TRANSLATE_NOOP("calorix", "MQTT: подключение к %1:%2")},
    TEntry{1100, QT_TRANSLATE_NOOP("calorix", "MQTT: укажите узел брокера")},
    TEntry{1101,
           QT_TRANSLATE_NOOP(
               "calorix", "MQTT: префикс не может быть пустым и не может содержать символы + и #")},
    TEntry{1102, QT_TRANSLATE_NOOP("calorix",
                                   "MQTT: файл пароля %1 могут читать другие "
                                   "пользователи, нужен режим 600")},
    TEntry{1103, QT_TRANSLATE_NOOP(
                     "calorix",
                     "%1; команды от брокера выключены: нужен вход (пользователь и файл пароля)")},
    TEntry{1110, QT_TRANSLATE_NOOP("calorix", "свой")},
    // Several thermostats: the waiting window, the overview page, the menu.
    TEntry{1111, QT_TRANSLATE_NOOP("calorix", "Ожидание термостата %1")},
    TEntry{1112, QT_TRANSLATE_NOOP("calorix", "Обзор")},
    TEntry{1113, QT_TRANSLATE_NOOP("calorix", "Термостат")},
    TEntry{1114, QT_TRANSLATE_NOOP("calorix", "Изделие")},
    TEntry{1115, QT_TRANSLATE_NOOP("calorix", "Окно")},
    TEntry{1116, QT_TRANSLATE_NOOP("calorix", "Температура, °C")},
    TEntry{1117, QT_TRANSLATE_NOOP("calorix", "Уставка, °C")},
    TEntry{1118, QT_TRANSLATE_NOOP("calorix", "Защита")},
    TEntry{1119, QT_TRANSLATE_NOOP("calorix", "Запись")},
    TEntry{1120, QT_TRANSLATE_NOOP("calorix", "Шаг программы")},
    TEntry{1121, QT_TRANSLATE_NOOP("calorix", "это окно")},
    TEntry{1122, QT_TRANSLATE_NOOP("calorix", "окно %1")},
    TEntry{1123, QT_TRANSLATE_NOOP("calorix", "нет")},
    TEntry{1124, QT_TRANSLATE_NOOP("calorix", "идет")},
    TEntry{1125, QT_TRANSLATE_NOOP("calorix", "%1 из %2")},
    TEntry{1126, QT_TRANSLATE_NOOP("calorix", "%1 из %2, пауза")},
    TEntry{1127, QT_TRANSLATE_NOOP("calorix", "Открыть в новом окне")},
    TEntry{1128, QT_TRANSLATE_NOOP("calorix", "Правая кнопка мыши: открыть в новом окне")},
    TEntry{1129, QT_TRANSLATE_NOOP("calorix", "Новое окно")},
    TEntry{1130, QT_TRANSLATE_NOOP("calorix", "Окно для следующего термостата")},
    TEntry{1131, QT_TRANSLATE_NOOP("calorix", "Все термостаты уже показаны")},
    // Alarms: 1140..1179.
    TEntry{1140, QT_TRANSLATE_NOOP("calorix", "Тревоги")},
    TEntry{1141, QT_TRANSLATE_NOOP("calorix", "Тревога: %1")},
    TEntry{1142, QT_TRANSLATE_NOOP("calorix", "%1 с %2")},
    TEntry{1143, QT_TRANSLATE_NOOP("calorix", "%1 с %2 по %3, не подтверждена")},
    TEntry{1144, QT_TRANSLATE_NOOP("calorix", "Подтвердить")},
    TEntry{1145, QT_TRANSLATE_NOOP("calorix", "защита (%1)")},
    TEntry{1146, QT_TRANSLATE_NOOP("calorix", "термостат выключен")},
    TEntry{1147, QT_TRANSLATE_NOOP("calorix", "нет связи")},
    TEntry{1148, QT_TRANSLATE_NOOP("calorix", "отклонение от уставки")},
    TEntry{1149, QT_TRANSLATE_NOOP("calorix", "выше верхнего предела")},
    TEntry{1150, QT_TRANSLATE_NOOP("calorix", "ниже нижнего предела")},
    TEntry{1151, QT_TRANSLATE_NOOP("calorix", "ТРЕВОГА - %1")},
    TEntry{1152, QT_TRANSLATE_NOOP("calorix", "Допуск от уставки, °C (0: выключен):")},
    TEntry{1153, QT_TRANSLATE_NOOP("calorix", "Задержка, с:")},
    TEntry{1154, QT_TRANSLATE_NOOP("calorix", "Верхний предел, °C (пусто: выключен):")},
    TEntry{1155, QT_TRANSLATE_NOOP("calorix", "Нижний предел, °C (пусто: выключен):")},
    TEntry{1156, QT_TRANSLATE_NOOP("calorix", "Уведомлять на рабочем столе")},
    TEntry{1157, QT_TRANSLATE_NOOP("calorix",
                                   "Тревоги: допуск от уставки должен быть числом не меньше 0")},
    TEntry{1158,
           QT_TRANSLATE_NOOP("calorix", "Тревоги: задержка должна быть числом секунд не меньше 0")},
    TEntry{1159, QT_TRANSLATE_NOOP("calorix", "Тревоги: предел должен быть числом или пустым")},
    TEntry{1160, QT_TRANSLATE_NOOP("calorix", "Тревоги: нижний предел выше верхнего")},
    TEntry{1161, QT_TRANSLATE_NOOP("calorix", "Тревога термостата %1")},
    TEntry{1162, QT_TRANSLATE_NOOP("calorix", "Подтвердить все тревоги этого термостата")},
    TEntry{1163, QT_TRANSLATE_NOOP("calorix", "Тревога подтверждена: %1")},
    TEntry{1164, QT_TRANSLATE_NOOP("calorix", "Тревога снята: %1")},
    TEntry{1180, QT_TRANSLATE_NOOP("calorix", "Не удалось записать файл данных %1: %2")},
    TEntry{1181, QT_TRANSLATE_NOOP("calorix", "Файл данных %1 снова записывается")},
    TEntry{1182,
           QT_TRANSLATE_NOOP("calorix", "Оборванная последняя строка файла %1 отрезана (%2 байт)")},
    TEntry{1183, QT_TRANSLATE_NOOP("calorix", "Не удалось проверить конец файла %1: %2")},
    TEntry{1184, QT_TRANSLATE_NOOP("calorix", "Термостат подключен, данные в %1")},
    TEntry{1185, QT_TRANSLATE_NOOP("calorix", "Термостат отключен")},
    TEntry{1186, QT_TRANSLATE_NOOP("calorix", "Получен сигнал %1, работа завершается")},
    TEntry{1187, QT_TRANSLATE_NOOP("calorix", "Не записано в файл данных измерений: %1 (%2)")},
    TEntry{1200, QT_TRANSLATE_NOOP("calorix", "Термостат %1 выбран")},
    TEntry{1201, QT_TRANSLATE_NOOP("calorix", "Термостат %1 отключен")},
    TEntry{1202, QT_TRANSLATE_NOOP("calorix", "Термостат выключен")},
    TEntry{1203, QT_TRANSLATE_NOOP("calorix", "Защита: %1")},
    TEntry{1204, QT_TRANSLATE_NOOP("calorix", "Запись начата")},
    TEntry{1205, QT_TRANSLATE_NOOP("calorix", "Запись остановлена")},
    TEntry{1206, QT_TRANSLATE_NOOP("calorix", "Запись очищена")},
    TEntry{1207, QT_TRANSLATE_NOOP("calorix", "Запись сохранена в файл %1")},
    TEntry{1208, QT_TRANSLATE_NOOP("calorix", "Открыт файл %1")},
    TEntry{1209, QT_TRANSLATE_NOOP("calorix", "Запись восстановлена из журнала %1")},
    TEntry{1210, QT_TRANSLATE_NOOP("calorix",
                                   "Файл изменен после записи: контрольная сумма не совпадает")},
    TEntry{1211, QT_TRANSLATE_NOOP("calorix", "Файл метаданных не прочитан: %1")},
    TEntry{1212, QT_TRANSLATE_NOOP("calorix", "Загружена программа %1")},
    TEntry{1213, QT_TRANSLATE_NOOP("calorix", "Программа завершена")},
    TEntry{1214, QT_TRANSLATE_NOOP("calorix", "Программа остановлена")},
    TEntry{1215, QT_TRANSLATE_NOOP("calorix", "Программа приостановлена: %1")},
    TEntry{1216, QT_TRANSLATE_NOOP("calorix", "Запущена программа %1")},
    TEntry{1217, QT_TRANSLATE_NOOP("calorix", "Программа продолжена")},
    TEntry{1218, QT_TRANSLATE_NOOP("calorix", "Шаг программы %1 из %2")},
    TEntry{1240, QT_TRANSLATE_NOOP("calorix", "События")},
    TEntry{1241, QT_TRANSLATE_NOOP("calorix", "Время")},
    TEntry{1242, QT_TRANSLATE_NOOP("calorix", "От начала записи")},
    TEntry{1243, QT_TRANSLATE_NOOP("calorix", "Источник")},
    TEntry{1244, QT_TRANSLATE_NOOP("calorix", "Событие")},
    TEntry{1245, QT_TRANSLATE_NOOP("calorix", "пользователь")},
    TEntry{1246, QT_TRANSLATE_NOOP("calorix", "программа")},
    TEntry{1247, QT_TRANSLATE_NOOP("calorix", "брокер MQTT")},
    TEntry{1248, QT_TRANSLATE_NOOP("calorix", "система")},
    TEntry{1249, QT_TRANSLATE_NOOP("calorix", "удаленный клиент %1")},
    TEntry{1260, QT_TRANSLATE_NOOP("calorix", "файл данных не записывается")},
    TEntry{1261, QT_TRANSLATE_NOOP("calorix", "%1 (источник: %2)")},
};

}  // namespace

QString LoadStr(int id) {
  for (const auto& e : kMessages) {
    if (e.Id == id)
      return QCoreApplication::translate("calorix", e.Text);
  }
  return {};
}

}  // namespace calorix
