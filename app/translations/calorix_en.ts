<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="ru_RU">
<context>
    <name>calorix</name>
    <message>
        <source>Файлы приложения (*.csv);;Все файлы (*.*)</source>
        <translation>Data files (*.csv);;All files (*.*)</translation>
    </message>
    <message>
        <source>Программы (*.json);;Все файлы (*.*)</source>
        <translation>Programs (*.json);;All files (*.*)</translation>
    </message>
    <message>
        <source>Термостат: </source>
        <translation>Thermostat: </translation>
    </message>
    <message>
        <source>Термостат: не выбран</source>
        <translation>Thermostat: none selected</translation>
    </message>
    <message>
        <source>Запись</source>
        <translation>Record</translation>
    </message>
    <message>
        <source>Стоп</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>Все измеренные значения будут удалены.
Продолжить?</source>
        <translation>All measured values will be deleted.
Continue?</translation>
    </message>
    <message>
        <source>Нет</source>
        <translation>None</translation>
    </message>
    <message>
        <source>Пустой</source>
        <translation>Empty</translation>
    </message>
    <message>
        <source>Клик по графику:
 - левая кнопка для координат</source>
        <translation>Click on the chart:
 - left button for coordinates</translation>
    </message>
    <message>
        <source>Введенное значение уставки не является числом</source>
        <translation>The setpoint entered is not a number</translation>
    </message>
    <message>
        <source>: неверный формат запроса</source>
        <translation>: malformed request</translation>
    </message>
    <message>
        <source>: неверный формат значения</source>
        <translation>: malformed value</translation>
    </message>
    <message>
        <source>: неизвестный адресат</source>
        <translation>: unknown target</translation>
    </message>
    <message>
        <source>: неизвестная операция</source>
        <translation>: unknown operation</translation>
    </message>
    <message>
        <source>: значение вне диапазона</source>
        <translation>: value out of range</translation>
    </message>
    <message>
        <source>: команда не доступна в состоянии &quot;выключено&quot;</source>
        <translation>: command not available in the &quot;off&quot; state</translation>
    </message>
    <message>
        <source>норма</source>
        <translation>normal</translation>
    </message>
    <message>
        <source>перегрев</source>
        <translation>overheating</translation>
    </message>
    <message>
        <source>уровень</source>
        <translation>level</translation>
    </message>
    <message>
        <source>насос</source>
        <translation>pump</translation>
    </message>
    <message>
        <source>ТЭНы</source>
        <translation>heaters</translation>
    </message>
    <message>
        <source>АЦП</source>
        <translation>ADC</translation>
    </message>
    <message>
        <source>датчик</source>
        <translation>sensor</translation>
    </message>
    <message>
        <source>Не сохраненные данные будут потеряны. Все равно открыть файл?</source>
        <translation>Unsaved data will be lost. Open the file anyway?</translation>
    </message>
    <message>
        <source>Днные были изменены. Сохранить изменения?</source>
        <translation>The data have been changed. Save the changes?</translation>
    </message>
    <message>
        <source>Не удалось записать файл настроек %1</source>
        <translation>Cannot write the settings file %1</translation>
    </message>
    <message>
        <source>Неожиданный ответ термостата</source>
        <translation>Unexpected answer from the thermostat</translation>
    </message>
    <message>
        <source>Ошибочный запрос. Код статуса </source>
        <translation>Bad request. Status code </translation>
    </message>
    <message>
        <source>Термостат выключен</source>
        <translation>Thermostat switched off</translation>
    </message>
    <message>
        <source>Термостат %1 не может принимать команды: слишком короткий отчет</source>
        <translation>Thermostat %1 cannot take commands: report too short</translation>
    </message>
    <message>
        <source>Найдена незавершенная запись, но прочитать ее не удалось (поврежденных измерений: %1)</source>
        <translation>An unfinished record was found but could not be read (damaged samples: %1)</translation>
    </message>
    <message>
        <source>Не удалось прочитать незавершенную запись %1: %2</source>
        <translation>Cannot read the unfinished record %1: %2</translation>
    </message>
    <message>
        <source>уставка</source>
        <translation>setpoint</translation>
    </message>
    <message>
        <source>плавное изменение</source>
        <translation>ramp</translation>
    </message>
    <message>
        <source>выдержка</source>
        <translation>hold</translation>
    </message>
    <message>
        <source>ожидание стабильности</source>
        <translation>stability wait</translation>
    </message>
    <message>
        <source>повтор</source>
        <translation>repeat</translation>
    </message>
    <message>
        <source>Шаг %1 из %2: </source>
        <translation>Step %1 of %2: </translation>
    </message>
    <message>
        <source>изменение уставки до %1: %2, %3 из %4</source>
        <translation>ramp to %1: %2, %3 of %4</translation>
    </message>
    <message>
        <source>выдержка %1 из %2</source>
        <translation>hold %1 of %2</translation>
    </message>
    <message>
        <source>выдержка %1 из %2 в пределах ±%3</source>
        <translation>hold %1 of %2 within ±%3</translation>
    </message>
    <message>
        <source>ожидание стабильности ±%1: %2 из %3</source>
        <translation>stability wait ±%1: %2 of %3</translation>
    </message>
    <message>
        <source>Программа приостановлена на шаге %1 из %2: %3</source>
        <translation>Program paused at step %1 of %2: %3</translation>
    </message>
    <message>
        <source>защита термостата: %1</source>
        <translation>thermostat protection: %1</translation>
    </message>
    <message>
        <source>термостат выключен</source>
        <translation>thermostat switched off</translation>
    </message>
    <message>
        <source>термостат отключен или выбран другой</source>
        <translation>thermostat unplugged or another one selected</translation>
    </message>
    <message>
        <source>три записи уставки подряд не удались</source>
        <translation>three setpoint writes in a row failed</translation>
    </message>
    <message>
        <source>записана уставка %1, а прочитана %2</source>
        <translation>setpoint %1 written, %2 read back</translation>
    </message>
    <message>
        <source>температура не стабилизировалась за %1</source>
        <translation>temperature not stable within %1</translation>
    </message>
    <message>
        <source>пауза по команде пользователя</source>
        <translation>paused by the user</translation>
    </message>
    <message>
        <source>Программа не может быть запущена: %1</source>
        <translation>The program cannot be started: %1</translation>
    </message>
    <message>
        <source>программа не загружена</source>
        <translation>no program loaded</translation>
    </message>
    <message>
        <source>термостат не выбран</source>
        <translation>no thermostat selected</translation>
    </message>
    <message>
        <source>Выполняется программа. Приостановить ее перед изменением уставки?</source>
        <translation>A program is running. Pause it before changing the setpoint?</translation>
    </message>
    <message>
        <source>Программа &quot;%1&quot; была прервана на шаге %2 из %3. Термостат держит последнюю записанную уставку; программа не будет продолжена сама.</source>
        <translation>Program &quot;%1&quot; was interrupted at step %2 of %3. The thermostat holds the last setpoint written; the program will not continue by itself.</translation>
    </message>
    <message>
        <source>Программа &quot;%1&quot; завершена</source>
        <translation>Program &quot;%1&quot; finished</translation>
    </message>
    <message>
        <source>Расчетная длительность: %1</source>
        <translation>Estimated duration: %1</translation>
    </message>
    <message>
        <source>Выполняется программа: сначала остановите ее</source>
        <translation>A program is running: stop it first</translation>
    </message>
    <message>
        <source>Программа остановлена</source>
        <translation>Program stopped</translation>
    </message>
    <message>
        <source>Удаленное управление: %1, клиентов: %2</source>
        <translation>Remote control: %1, clients: %2</translation>
    </message>
    <message>
        <source>Внимание: удаленное управление открыто для сети: %1, клиентов: %2</source>
        <translation>Warning: remote control open to the network: %1, clients: %2</translation>
    </message>
    <message>
        <source>Удаленное управление: не удалось открыть %1: %2</source>
        <translation>Remote control: cannot open %1: %2</translation>
    </message>
    <message>
        <source>Удаленное управление</source>
        <translation>Remote control</translation>
    </message>
    <message>
        <source>Включить</source>
        <translation>Enable</translation>
    </message>
    <message>
        <source>Адрес:</source>
        <translation>Address:</translation>
    </message>
    <message>
        <source>Порт:</source>
        <translation>Port:</translation>
    </message>
    <message>
        <source>Неверный адрес удаленного управления</source>
        <translation>Invalid remote control address</translation>
    </message>
    <message>
        <source>Неверный порт удаленного управления (1..65535)</source>
        <translation>Invalid remote control port (1..65535)</translation>
    </message>
    <message>
        <source>MQTT: подключено к %1:%2</source>
        <translation>MQTT: connected to %1:%2</translation>
    </message>
    <message>
        <source>MQTT: нет связи, повтор через %1 с</source>
        <translation>MQTT: no connection, retry in %1 s</translation>
    </message>
    <message>
        <source>MQTT: узел %1 не найден, повтор через %2 с</source>
        <translation>MQTT: host %1 not found, retry in %2 s</translation>
    </message>
    <message>
        <source>MQTT: брокер отклонил имя или пароль, повтор через %1 с</source>
        <translation>MQTT: the broker refused the user name or password, retry in %1 s</translation>
    </message>
    <message>
        <source>MQTT: брокер отклонил подключение (код %1), повтор через %2 с</source>
        <translation>MQTT: the broker refused the connection (code %1), retry in %2 s</translation>
    </message>
    <message>
        <source>MQTT: ошибка TLS, проверьте файл CA, повтор через %1 с</source>
        <translation>MQTT: TLS error, check the CA file, retry in %1 s</translation>
    </message>
    <message>
        <source>MQTT: брокер не отвечает, повтор через %1 с</source>
        <translation>MQTT: the broker does not answer, retry in %1 s</translation>
    </message>
    <message>
        <source>MQTT: не удалось прочитать файл CA %1</source>
        <translation>MQTT: cannot read the CA file %1</translation>
    </message>
    <message>
        <source>MQTT: не удалось прочитать файл пароля %1</source>
        <translation>MQTT: cannot read the password file %1</translation>
    </message>
    <message>
        <source>MQTT: подключение к %1:%2</source>
        <translation>MQTT: connecting to %1:%2</translation>
    </message>
    <message>
        <source>MQTT: укажите узел брокера</source>
        <translation>MQTT: enter the broker host</translation>
    </message>
    <message>
        <source>MQTT: префикс не может быть пустым и не может содержать символы + и #</source>
        <translation>MQTT: the prefix must not be empty or contain + or #</translation>
    </message>
    <message>
        <source>свой</source>
        <translation>custom</translation>
    </message>
    <message>
        <source>%1, поле &quot;%2&quot;: %3</source>
        <translation>%1, field &quot;%2&quot;: %3</translation>
    </message>
    <message>
        <source>Шаг %1</source>
        <translation>Step %1</translation>
    </message>
    <message>
        <source>Конечная уставка</source>
        <translation>End setpoint</translation>
    </message>
    <message>
        <source>значение не является конечным числом</source>
        <translation>the value is not a finite number</translation>
    </message>
    <message>
        <source>уставка вне допустимых пределов</source>
        <translation>the setpoint is outside the allowed limits</translation>
    </message>
    <message>
        <source>значение не может быть отрицательным</source>
        <translation>the value cannot be negative</translation>
    </message>
    <message>
        <source>нужно задать либо скорость (rate), либо длительность (seconds)</source>
        <translation>give either a rate (rate) or a duration (seconds)</translation>
    </message>
    <message>
        <source>значение должно быть больше нуля</source>
        <translation>the value must be above zero</translation>
    </message>
    <message>
        <source>повтор может ссылаться только на один из предыдущих шагов</source>
        <translation>a repeat can only refer to an earlier step</translation>
    </message>
    <message>
        <source>цикл пересекается с другим циклом</source>
        <translation>the loop crosses another loop</translation>
    </message>
    <message>
        <source>поле отсутствует</source>
        <translation>the field is missing</translation>
    </message>
    <message>
        <source>значение должно быть целым числом</source>
        <translation>the value must be an integer</translation>
    </message>
    <message>
        <source>Файл программы не является файлом JSON (позиция %1: %2)</source>
        <translation>The program file is not a JSON file (offset %1: %2)</translation>
    </message>
    <message>
        <source>Файл не является файлом программы</source>
        <translation>The file is not a program file</translation>
    </message>
    <message>
        <source>Неподдерживаемая версия файла программы: %1</source>
        <translation>Unsupported program file version: %1</translation>
    </message>
    <message>
        <source>Неверное поле &quot;%1&quot; файла программы</source>
        <translation>Invalid field &quot;%1&quot; in the program file</translation>
    </message>
    <message>
        <source>%1: шаг должен быть объектом JSON</source>
        <translation>%1: a step must be a JSON object</translation>
    </message>
    <message>
        <source>неизвестный тип шага</source>
        <translation>unknown step type</translation>
    </message>
    <message>
        <source>Не удалось открыть файл %1: %2</source>
        <translation>Cannot open the file %1: %2</translation>
    </message>
    <message>
        <source>Не удалось записать файл %1: %2</source>
        <translation>Cannot write the file %1: %2</translation>
    </message>
    <message>
        <source>Шаг</source>
        <translation>Step</translation>
    </message>
    <message>
        <source>Уставка, °C</source>
        <translation>Setpoint, °C</translation>
    </message>
    <message>
        <source>°C/мин</source>
        <translation>°C/min</translation>
    </message>
    <message>
        <source>Время, с</source>
        <translation>Time, s</translation>
    </message>
    <message>
        <source>Полоса, °C</source>
        <translation>Band, °C</translation>
    </message>
    <message>
        <source>Предел, с</source>
        <translation>Limit, s</translation>
    </message>
    <message>
        <source>С шага</source>
        <translation>From step</translation>
    </message>
    <message>
        <source>Повторов</source>
        <translation>Repeats</translation>
    </message>
    <message>
        <source>нет места на диске</source>
        <translation>no space left on the disk</translation>
    </message>
    <message>
        <source>превышена дисковая квота</source>
        <translation>disk quota exceeded</translation>
    </message>
    <message>
        <source>нет доступа к папке</source>
        <translation>no access to the folder</translation>
    </message>
    <message>
        <source>слишком большой файл</source>
        <translation>file too large</translation>
    </message>
    <message>
        <source>ошибка ввода-вывода</source>
        <translation>input/output error</translation>
    </message>
    <message>
        <source>не обычный файл</source>
        <translation>not a regular file</translation>
    </message>
    <message>
        <source>Не удалось записать журнал записи: </source>
        <translation>Cannot write the record journal: </translation>
    </message>
    <message numerus="yes">
        <source>измерений</source>
        <translation>
            <numerusform>sample</numerusform>
            <numerusform>samples</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>измерение</source>
        <translation>
            <numerusform>sample</numerusform>
            <numerusform>samples</numerusform>
        </translation>
    </message>
    <message numerus="yes">
        <source>измерения</source>
        <translation>
            <numerusform>sample</numerusform>
            <numerusform>samples</numerusform>
        </translation>
    </message>
    <message>
        <source>Найдена незавершенная запись: %1 %2 за %3. Восстановить?</source>
        <translation>An unfinished record was found: %1 %2 over %3. Restore it?</translation>
    </message>
    <message>
        <source> Не удалось прочитать: %1.</source>
        <translation> Could not read: %1.</translation>
    </message>
    <message>
        <source>Длительность</source>
        <translation>Duration</translation>
    </message>
    <message>
        <source>Измерений</source>
        <translation>Samples</translation>
    </message>
    <message>
        <source>Изменение</source>
        <translation>Change</translation>
    </message>
    <message>
        <source>Скорость</source>
        <translation>Rate</translation>
    </message>
    <message>
        <source> °C/мин</source>
        <translation> °C/min</translation>
    </message>
    <message>
        <source>Минимум</source>
        <translation>Minimum</translation>
    </message>
    <message>
        <source>Максимум</source>
        <translation>Maximum</translation>
    </message>
    <message>
        <source>Среднее</source>
        <translation>Mean</translation>
    </message>
    <message>
        <source>Стандартное отклонение</source>
        <translation>Standard deviation</translation>
    </message>
    <message>
        <source>В участке нет измерений</source>
        <translation>No samples in the range</translation>
    </message>
    <message>
        <source>Участок %1, %2 изм.: изменение %3, %4, мин. %5, макс. %6, среднее %7, ско %8</source>
        <translation>Range %1, %2 samples: change %3, %4, min %5, max %6, mean %7, SD %8</translation>
    </message>
    <message>
        <source> (пропущено: %1)</source>
        <translation> (skipped: %1)</translation>
    </message>
    <message>
        <source>Пропущено</source>
        <translation>Skipped</translation>
    </message>
    <message>
        <source>В допуске: %1</source>
        <translation>In band: %1</translation>
    </message>
    <message>
        <source>Вне допуска</source>
        <translation>Out of band</translation>
    </message>
    <message>
        <source>5 минут</source>
        <translation>5 minutes</translation>
    </message>
    <message>
        <source>15 минут</source>
        <translation>15 minutes</translation>
    </message>
    <message>
        <source>30 минут</source>
        <translation>30 minutes</translation>
    </message>
    <message>
        <source>1 час</source>
        <translation>1 hour</translation>
    </message>
    <message>
        <source>2 часа</source>
        <translation>2 hours</translation>
    </message>
    <message>
        <source>Команда содержит символы, которые нельзя передать термостату: допустимы только латинские буквы, цифры, пробел и знаки ASCII</source>
        <translation>The command contains characters that cannot be sent to the thermostat: only Latin letters, digits, spaces and ASCII signs are allowed</translation>
    </message>
    <message>
        <source>Вставляемый текст содержит несколько строк: в консоль вводится одна команда за раз</source>
        <translation>The pasted text has several lines: the console takes one command at a time</translation>
    </message>
    <message>
        <source>clr - очищает консоль</source>
        <translation>clr - clears the console</translation>
    </message>
    <message>
        <source>Эмулятор устройств недоступен: %1: %2</source>
        <translation>Device emulator unavailable: %1: %2</translation>
    </message>
    <message>
        <source>путь не задан</source>
        <translation>no path given</translation>
    </message>
    <message>
        <source>путь слишком длинный</source>
        <translation>path too long</translation>
    </message>
    <message>
        <source>Эмулятор устройств подключён: %1</source>
        <translation>Device emulator connected: %1</translation>
    </message>
    <message>
        <source>соединение закрыто</source>
        <translation>connection closed</translation>
    </message>
    <message>
        <source>Эмулятор устройств отключился: %1: %2</source>
        <translation>Device emulator gone: %1: %2</translation>
    </message>
    <message>
        <source>устройство %1 отключено</source>
        <translation>device %1 unplugged</translation>
    </message>
    <message>
        <source>устройство %1 не открывается: %2</source>
        <translation>device %1 cannot be opened: %2</translation>
    </message>
    <message>
        <source>нет доступа к устройству %1: см. правило udev в README</source>
        <translation>no access to the device %1: see the udev rule in the README</translation>
    </message>
    <message>
        <source>нет доступа к устройству %1</source>
        <translation>no access to the device %1</translation>
    </message>
    <message>
        <source>уставка %1 вне допустимых пределов</source>
        <translation>the setpoint %1 is outside the allowed limits</translation>
    </message>
    <message>
        <source>MQTT: файл пароля %1 могут читать другие пользователи, нужен режим 600</source>
        <translation>MQTT: other users may read the password file %1, mode 600 is needed</translation>
    </message>
    <message>
        <source>%1; команды от брокера выключены: нужен вход (пользователь и файл пароля)</source>
        <translation>%1; commands from the broker are off: a login is needed (user and password file)</translation>
    </message>
    <message>
        <source>Ожидание термостата %1</source>
        <translation>Waiting for thermostat %1</translation>
    </message>
    <message>
        <source>Обзор</source>
        <translation>Overview</translation>
    </message>
    <message>
        <source>Термостат</source>
        <translation>Thermostat</translation>
    </message>
    <message>
        <source>Изделие</source>
        <translation>Product</translation>
    </message>
    <message>
        <source>Окно</source>
        <translation>Window</translation>
    </message>
    <message>
        <source>Температура, °C</source>
        <translation>Temperature, °C</translation>
    </message>
    <message>
        <source>Защита</source>
        <translation>Protection</translation>
    </message>
    <message>
        <source>Шаг программы</source>
        <translation>Program step</translation>
    </message>
    <message>
        <source>это окно</source>
        <translation>this window</translation>
    </message>
    <message>
        <source>окно %1</source>
        <translation>window %1</translation>
    </message>
    <message>
        <source>нет</source>
        <translation>no</translation>
    </message>
    <message>
        <source>идет</source>
        <translation>on</translation>
    </message>
    <message>
        <source>%1 из %2</source>
        <translation>%1 of %2</translation>
    </message>
    <message>
        <source>%1 из %2, пауза</source>
        <translation>%1 of %2, paused</translation>
    </message>
    <message>
        <source>Открыть в новом окне</source>
        <translation>Open in a new window</translation>
    </message>
    <message>
        <source>Правая кнопка мыши: открыть в новом окне</source>
        <translation>Right mouse button: open in a new window</translation>
    </message>
    <message>
        <source>Новое окно</source>
        <translation>New window</translation>
    </message>
    <message>
        <source>Окно для следующего термостата</source>
        <translation>A window for the next thermostat</translation>
    </message>
    <message>
        <source>Все термостаты уже показаны</source>
        <translation>Every thermostat is shown already</translation>
    </message>
    <message>
        <source>Найдена незавершенная запись термостата %4: %1 %2 за %3. Восстановить?</source>
        <translation>An unfinished record of thermostat %4 was found: %1 %2 over %3. Restore it?</translation>
    </message>
    <message>
        <source>Не удалось записать файл данных %1: %2</source>
        <translation>Could not write the data file %1: %2</translation>
    </message>
    <message>
        <source>Файл данных %1 снова записывается</source>
        <translation>The data file %1 is written again</translation>
    </message>
    <message>
        <source>Оборванная последняя строка файла %1 отрезана (%2 байт)</source>
        <translation>The torn last line of file %1 was cut off (%2 bytes)</translation>
    </message>
    <message>
        <source>Не удалось проверить конец файла %1: %2</source>
        <translation>Could not check the end of file %1: %2</translation>
    </message>
    <message>
        <source>Термостат подключен, данные в %1</source>
        <translation>Thermostat connected, data in %1</translation>
    </message>
    <message>
        <source>Термостат отключен</source>
        <translation>Thermostat disconnected</translation>
    </message>
    <message>
        <source>Получен сигнал %1, работа завершается</source>
        <translation>Signal %1 received, shutting down</translation>
    </message>
    <message>
        <source>Термостат %1 выбран</source>
        <translation>Thermostat %1 selected</translation>
    </message>
    <message>
        <source>Термостат %1 отключен</source>
        <translation>Thermostat %1 removed</translation>
    </message>
    <message>
        <source>Защита: %1</source>
        <translation>Protection: %1</translation>
    </message>
    <message>
        <source>Запись начата</source>
        <translation>Recording started</translation>
    </message>
    <message>
        <source>Запись остановлена</source>
        <translation>Recording stopped</translation>
    </message>
    <message>
        <source>Запись очищена</source>
        <translation>Record cleared</translation>
    </message>
    <message>
        <source>Запись сохранена в файл %1</source>
        <translation>Record saved to file %1</translation>
    </message>
    <message>
        <source>Открыт файл %1</source>
        <translation>File %1 opened</translation>
    </message>
    <message>
        <source>Запись восстановлена из журнала %1</source>
        <translation>Record restored from journal %1</translation>
    </message>
    <message>
        <source>Файл изменен после записи: контрольная сумма не совпадает</source>
        <translation>The file was changed after it was written: the checksum does not match</translation>
    </message>
    <message>
        <source>Файл метаданных не прочитан: %1</source>
        <translation>The metadata file was not read: %1</translation>
    </message>
    <message>
        <source>Не записано в файл данных измерений: %1 (%2)</source>
        <translation>Samples not written to the data file: %1 (%2)</translation>
    </message>
    <message>
        <source>Тревоги</source>
        <translation>Alarms</translation>
    </message>
    <message>
        <source>Тревога: %1</source>
        <translation>Alarm: %1</translation>
    </message>
    <message>
        <source>%1 с %2</source>
        <translation>%1 since %2</translation>
    </message>
    <message>
        <source>%1 с %2 по %3, не подтверждена</source>
        <translation>%1 from %2 to %3, not acknowledged</translation>
    </message>
    <message>
        <source>Подтвердить</source>
        <translation>Acknowledge</translation>
    </message>
    <message>
        <source>защита (%1)</source>
        <translation>protection (%1)</translation>
    </message>
    <message>
        <source>нет связи</source>
        <translation>no link</translation>
    </message>
    <message>
        <source>отклонение от уставки</source>
        <translation>deviation from the setpoint</translation>
    </message>
    <message>
        <source>выше верхнего предела</source>
        <translation>above the high limit</translation>
    </message>
    <message>
        <source>ниже нижнего предела</source>
        <translation>below the low limit</translation>
    </message>
    <message>
        <source>ТРЕВОГА - %1</source>
        <translation>ALARM - %1</translation>
    </message>
    <message>
        <source>Допуск от уставки, °C (0: выключен):</source>
        <translation>Band around the setpoint, °C (0: off):</translation>
    </message>
    <message>
        <source>Задержка, с:</source>
        <translation>Delay, s:</translation>
    </message>
    <message>
        <source>Верхний предел, °C (пусто: выключен):</source>
        <translation>High limit, °C (empty: off):</translation>
    </message>
    <message>
        <source>Нижний предел, °C (пусто: выключен):</source>
        <translation>Low limit, °C (empty: off):</translation>
    </message>
    <message>
        <source>Уведомлять на рабочем столе</source>
        <translation>Desktop notifications</translation>
    </message>
    <message>
        <source>Тревоги: допуск от уставки должен быть числом не меньше 0</source>
        <translation>Alarms: the band around the setpoint must be a number not below 0</translation>
    </message>
    <message>
        <source>Тревоги: задержка должна быть числом секунд не меньше 0</source>
        <translation>Alarms: the delay must be a number of seconds not below 0</translation>
    </message>
    <message>
        <source>Тревоги: предел должен быть числом или пустым</source>
        <translation>Alarms: a limit must be a number or empty</translation>
    </message>
    <message>
        <source>Тревоги: нижний предел выше верхнего</source>
        <translation>Alarms: the low limit is above the high limit</translation>
    </message>
    <message>
        <source>Тревога термостата %1</source>
        <translation>Alarm of thermostat %1</translation>
    </message>
    <message>
        <source>Подтвердить все тревоги этого термостата</source>
        <translation>Acknowledge every alarm of this thermostat</translation>
    </message>
    <message>
        <source>Тревога подтверждена: %1</source>
        <translation>Alarm acknowledged: %1</translation>
    </message>
    <message>
        <source>Тревога снята: %1</source>
        <translation>Alarm cleared: %1</translation>
    </message>
    <message>
        <source>Загружена программа %1</source>
        <translation>Program %1 loaded</translation>
    </message>
    <message>
        <source>Программа завершена</source>
        <translation>The program finished</translation>
    </message>
    <message>
        <source>Программа приостановлена: %1</source>
        <translation>The program paused: %1</translation>
    </message>
    <message>
        <source>Запущена программа %1</source>
        <translation>Program %1 started</translation>
    </message>
    <message>
        <source>Программа продолжена</source>
        <translation>The program resumed</translation>
    </message>
    <message>
        <source>Шаг программы %1 из %2</source>
        <translation>Program step %1 of %2</translation>
    </message>
    <message>
        <source>События</source>
        <translation>Events</translation>
    </message>
    <message>
        <source>Время</source>
        <translation>Time</translation>
    </message>
    <message>
        <source>От начала записи</source>
        <translation>Since record start</translation>
    </message>
    <message>
        <source>Источник</source>
        <translation>Source</translation>
    </message>
    <message>
        <source>Событие</source>
        <translation>Event</translation>
    </message>
    <message>
        <source>пользователь</source>
        <translation>user</translation>
    </message>
    <message>
        <source>программа</source>
        <translation>program</translation>
    </message>
    <message>
        <source>брокер MQTT</source>
        <translation>MQTT broker</translation>
    </message>
    <message>
        <source>система</source>
        <translation>system</translation>
    </message>
    <message>
        <source>удаленный клиент %1</source>
        <translation>remote client %1</translation>
    </message>
    <message>
        <source>файл данных не записывается</source>
        <translation>the data file cannot be written</translation>
    </message>
    <message>
        <source>%1 (источник: %2)</source>
        <translation>%1 (source: %2)</translation>
    </message>
    <message>
        <source>Уставка %1 °C записана, прочитано %2 °C (было %3 °C)</source>
        <translation>Setpoint %1 °C written, read back %2 °C (was %3 °C)</translation>
    </message>
    <message>
        <source>Уставка %1 °C не записана: %2</source>
        <translation>Setpoint %1 °C not written: %2</translation>
    </message>
    <message>
        <source>нет ответа</source>
        <translation>no answer</translation>
    </message>
    <message>
        <source>запрос снят</source>
        <translation>request dropped</translation>
    </message>
    <message>
        <source>Настройка %1 изменена: %2 -&gt; %3</source>
        <translation>Setting %1 changed: %2 -&gt; %3</translation>
    </message>
    <message>
        <source>Подключен термостат %1</source>
        <translation>Thermostat %1 plugged in</translation>
    </message>
</context>
<context>
    <name>calorix::TMainFrm</name>
    <message>
        <source>Calorix v3.0 - Норвик</source>
        <translation>Calorix v3.0 - Norvik</translation>
    </message>
    <message>
        <source>Открыть</source>
        <translation>Open</translation>
    </message>
    <message>
        <source>Открыть графики</source>
        <translation>Open charts</translation>
    </message>
    <message>
        <source>Сохранить</source>
        <translation>Save</translation>
    </message>
    <message>
        <source>Сохранить графики</source>
        <translation>Save charts</translation>
    </message>
    <message>
        <source>Печать</source>
        <translation>Print</translation>
    </message>
    <message>
        <source>Печать графиков</source>
        <translation>Print charts</translation>
    </message>
    <message>
        <source>Копировать</source>
        <translation>Copy</translation>
    </message>
    <message>
        <source>Копировать графики в буфер обмена</source>
        <translation>Copy charts to the clipboard</translation>
    </message>
    <message>
        <source>Настройки</source>
        <translation>Settings</translation>
    </message>
    <message>
        <source>Настройки программы</source>
        <translation>Application settings</translation>
    </message>
    <message>
        <source>Термостаты</source>
        <translation>Thermostats</translation>
    </message>
    <message>
        <source>Список подключенных термостатов</source>
        <translation>Connected thermostats</translation>
    </message>
    <message>
        <source>Графики</source>
        <translation>Chart</translation>
    </message>
    <message>
        <source>Значения</source>
        <translation>Values</translation>
    </message>
    <message>
        <source>Консоль</source>
        <translation>Console</translation>
    </message>
    <message>
        <source>Температура, °C</source>
        <translation>Temperature, °C</translation>
    </message>
    <message>
        <source>Уставка, °C</source>
        <translation>Setpoint, °C</translation>
    </message>
    <message>
        <source>Изменить</source>
        <translation>Change</translation>
    </message>
    <message>
        <source>Задать новую уставку</source>
        <translation>Set a new setpoint</translation>
    </message>
    <message>
        <source>Прочитать</source>
        <translation>Read</translation>
    </message>
    <message>
        <source>Прочитать из термостата текущую уставку</source>
        <translation>Read the current setpoint from the thermostat</translation>
    </message>
    <message>
        <source>Защита:</source>
        <translation>Protection:</translation>
    </message>
    <message>
        <source>Коэффициент масштаба</source>
        <translation>Scale factor</translation>
    </message>
    <message>
        <source>Авто</source>
        <translation>Auto</translation>
    </message>
    <message>
        <source>Автомасштаб</source>
        <translation>Auto scale</translation>
    </message>
    <message>
        <source>Масштаб</source>
        <translation>Scale</translation>
    </message>
    <message>
        <source>Очистить</source>
        <translation>Clear</translation>
    </message>
    <message>
        <source>Фрейм</source>
        <translation>Frame</translation>
    </message>
    <message>
        <source>Захват</source>
        <translation>Track</translation>
    </message>
    <message>
        <source>Вся запись</source>
        <translation>Whole record</translation>
    </message>
    <message>
        <source>Показать всю запись</source>
        <translation>Show the whole record</translation>
    </message>
    <message>
        <source>Сохранение данных в файл</source>
        <translation>Save data to a file</translation>
    </message>
    <message>
        <source>Открытие файла данных</source>
        <translation>Open a data file</translation>
    </message>
    <message>
        <source>Язык</source>
        <translation>Language</translation>
    </message>
    <message>
        <source>Язык сменится при следующем запуске программы.</source>
        <translation>The language changes at the next start of the program.</translation>
    </message>
    <message>
        <source>Программа</source>
        <translation>Program</translation>
    </message>
    <message>
        <source>Публикация MQTT</source>
        <translation>MQTT publishing</translation>
    </message>
    <message>
        <source>Публиковать показания на брокере MQTT</source>
        <translation>Publish readings to an MQTT broker</translation>
    </message>
    <message>
        <source>calorix-&lt;имя компьютера&gt;-&lt;номер процесса&gt;</source>
        <translation>calorix-&lt;host name&gt;-&lt;process id&gt;</translation>
    </message>
    <message>
        <source>Принимать уставку от брокера (только с авторизацией)</source>
        <translation>Take setpoints from the broker (with authentication only)</translation>
    </message>
    <message>
        <source>Брокер:</source>
        <translation>Broker:</translation>
    </message>
    <message>
        <source>Порт:</source>
        <translation>Port:</translation>
    </message>
    <message>
        <source>Префикс тем:</source>
        <translation>Topic prefix:</translation>
    </message>
    <message>
        <source>Идентификатор клиента:</source>
        <translation>Client ID:</translation>
    </message>
    <message>
        <source>Пользователь:</source>
        <translation>User:</translation>
    </message>
    <message>
        <source>Файл пароля:</source>
        <translation>Password file:</translation>
    </message>
    <message>
        <source>Файл CA (TLS):</source>
        <translation>CA file (TLS):</translation>
    </message>
    <message>
        <source>QoS:</source>
        <translation>QoS:</translation>
    </message>
</context>
<context>
    <name>calorix::TProgramControl</name>
    <message>
        <source>Название программы</source>
        <translation>Program name</translation>
    </message>
    <message>
        <source>Название:</source>
        <translation>Name:</translation>
    </message>
    <message>
        <source>Конечная уставка</source>
        <translation>End setpoint</translation>
    </message>
    <message>
        <source>не задана</source>
        <translation>none</translation>
    </message>
    <message>
        <source>Уставка по окончании, °C:</source>
        <translation>Setpoint at the end, °C:</translation>
    </message>
    <message>
        <source>Добавить шаг</source>
        <translation>Add step</translation>
    </message>
    <message>
        <source>Удалить шаг</source>
        <translation>Remove step</translation>
    </message>
    <message>
        <source>Вверх</source>
        <translation>Up</translation>
    </message>
    <message>
        <source>Вниз</source>
        <translation>Down</translation>
    </message>
    <message>
        <source>Открыть программу...</source>
        <translation>Open program...</translation>
    </message>
    <message>
        <source>Сохранить программу...</source>
        <translation>Save program...</translation>
    </message>
    <message>
        <source>Запустить</source>
        <translation>Start</translation>
    </message>
    <message>
        <source>Приостановить</source>
        <translation>Pause</translation>
    </message>
    <message>
        <source>Остановить</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>Продолжить</source>
        <translation>Resume</translation>
    </message>
    <message>
        <source>Открытие программы</source>
        <translation>Open a program</translation>
    </message>
    <message>
        <source>Сохранение программы</source>
        <translation>Save the program</translation>
    </message>
    <message>
        <source>Наименьшая уставка, °C:</source>
        <translation>Lowest setpoint, °C:</translation>
    </message>
    <message>
        <source>Наибольшая уставка, °C:</source>
        <translation>Highest setpoint, °C:</translation>
    </message>
    <message>
        <source>Пределы уставки программы должны быть числами</source>
        <translation>The program&apos;s setpoint limits must be numbers</translation>
    </message>
    <message>
        <source>Наименьшая уставка программы больше наибольшей</source>
        <translation>The program&apos;s lowest setpoint is above its highest</translation>
    </message>
    <message>
        <source>Пределы уставки программ, сценариев и брокера</source>
        <translation>Setpoint limits of programs, scripts and the broker</translation>
    </message>
</context>
<context>
    <name>calorix::TSettingsFrm</name>
    <message>
        <source>Настройки программы</source>
        <translation>Application settings</translation>
    </message>
    <message>
        <source>Период опроса термостата, мс</source>
        <translation>Thermostat poll period, ms</translation>
    </message>
    <message>
        <source>Отмена</source>
        <translation>Cancel</translation>
    </message>
</context>
<context>
    <name>calorix::TStation</name>
    <message>
        <source>%1 (занят другой программой)</source>
        <translation>%1 (in use by another program)</translation>
    </message>
    <message>
        <source>Термостат %1 занят другой программой</source>
        <translation>Thermostat %1 is in use by another program</translation>
    </message>
    <message>
        <source>Термостат %1 показан в другом окне</source>
        <translation>Thermostat %1 is shown in another window</translation>
    </message>
</context>
<context>
    <name>calorix::TThermostatSession</name>
    <message>
        <source>выбран термостат %1, а программа запущена на %2</source>
        <translation>thermostat %1 is selected, but the program was started on %2</translation>
    </message>
    <message>
        <source>Программа не может быть продолжена: %1</source>
        <translation>The program cannot be continued: %1</translation>
    </message>
</context>
</TS>
