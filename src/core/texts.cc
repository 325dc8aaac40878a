#include "core/texts.h"

#include "util/codepage.h"

namespace ab::texts {

#define AB_TEXT(name, utf8)                                   \
  const std::string& name() {                                 \
    static const std::string text = Utf8ToCp1251(utf8);       \
    return text;                                              \
  }

AB_TEXT(Work, "Работа")
AB_TEXT(Loading, "Загрузка данных - ")
AB_TEXT(Connecting, "Соединение...")
AB_TEXT(TableLoaded, " Загружена таблица ")
AB_TEXT(SizePrefix, " Размер-")
AB_TEXT(CountPrefix, " Кол. записей-")
AB_TEXT(Connected, " Соединение установлено")
AB_TEXT(Disconnected, " Потеря соединения")
AB_TEXT(AccessDenied, " Доступ запрещен")
AB_TEXT(FileReceived, " Получен файл ")
AB_TEXT(RatesIn, "Вх.-")
AB_TEXT(RatesOut, " Мб/с Исх.-")
AB_TEXT(RatesRepeat, " Мб/с Повт.-")
AB_TEXT(CaptionBg, "Запросы БГ")
AB_TEXT(CaptionMes, "Запросы МЧС")

#undef AB_TEXT

}  // namespace ab::texts
