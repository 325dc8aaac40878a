#pragma once
// The program's own Cyrillic texts, kept here as UTF-8 source and handed out once converted to
// Windows-1251, the encoding every text has inside the program.

#include <string>

namespace ab::texts {

const std::string& Work();            // "Работа"
const std::string& Loading();         // "Загрузка данных - "
const std::string& Connecting();      // "Соединение..."
const std::string& TableLoaded();     // " Загружена таблица "
const std::string& SizePrefix();      // " Размер-"
const std::string& CountPrefix();     // " Кол. записей-"
const std::string& Connected();       // " Соединение установлено"
const std::string& Disconnected();    // " Потеря соединения"
const std::string& AccessDenied();    // " Доступ запрещен"
const std::string& FileReceived();    // " Получен файл "
const std::string& RatesIn();         // "Вх.-"
const std::string& RatesOut();        // " Мб/с Исх.-"
const std::string& RatesRepeat();     // " Мб/с Повт.-"
const std::string& CaptionBg();       // "Запросы БГ"
const std::string& CaptionMes();      // "Запросы МЧС"

}  // namespace ab::texts
