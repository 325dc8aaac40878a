#include "core/settings.h"

#include <INIReader.h>
#include <ini.h>

#include <charconv>
#include <limits>
#include <string_view>

#include "util/codepage.h"
#include "util/func.h"

namespace ab {

namespace {

// Lines of setup.ini are read as the Windows INI functions read them: a KeyTable line is over
// 500 characters (the reader's default limit of 200 would cut it and misread the rest), and
// ';' or an indented line inside a value are part of the value, not a comment or a
// continuation.
void ConfigureIniReader() {
  ini_use_stack = false;
  ini_allow_realloc = true;
  ini_max_line = 1 << 20;
  ini_allow_inline_comments = false;
  ini_allow_multiline = false;
}

// The reader joins repeated keys with line breaks; the first occurrence is the one that counts.
std::string FirstValue(const INIReader& ini, const char* section, const char* key,
                       const std::string& fallback) {
  std::string value = ini.Get(section, key, fallback);
  const size_t line_end = value.find('\n');
  if (line_end != std::string::npos) value.resize(line_end);
  return value;
}

// A whole decimal number, or hexadecimal after "$" or "0x", within int32; nothing else.
bool ParseInt32(std::string_view text, int32_t& out) {
  bool negative = false;
  if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  int base = 10;
  if (text.starts_with('$')) {
    base = 16;
    text.remove_prefix(1);
  } else if (text.starts_with("0x") || text.starts_with("0X")) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty() || text.front() == '-' || text.front() == '+') return false;
  int64_t magnitude = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), magnitude, base);
  if (ec != std::errc() || end != text.data() + text.size()) return false;
  const int64_t value = negative ? -magnitude : magnitude;
  if (value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<int32_t>::max()) {
    return false;
  }
  out = static_cast<int32_t>(value);
  return true;
}

int32_t ReadInt(const INIReader& ini, const char* section, const char* key, int32_t fallback) {
  int32_t value = fallback;
  return ParseInt32(FirstValue(ini, section, key, ""), value) ? value : fallback;
}

bool ReadBool(const INIReader& ini, const char* section, const char* key, bool fallback) {
  return ReadInt(ini, section, key, fallback ? 1 : 0) != 0;
}

}  // namespace

std::string Settings::PublicAddress() const { return Ip + ":" + std::to_string(HttpPort); }

Settings LoadSettings(const std::filesystem::path& ini_file, std::vector<std::string>& messages) {
  ConfigureIniReader();
  // A file that cannot be opened leaves every key at its default; lines the reader cannot
  // parse are skipped and the rest is still read.
  const INIReader ini(ini_file.string());
  Settings s;

  s.ServerAddress = FirstValue(ini, "ServerHost", "Address", s.ServerAddress);
  s.ServerPort = ReadInt(ini, "ServerHost", "Port", s.ServerPort);
  s.KeyTable = FirstValue(ini, "ServerHost", "KeyTable", "");

  s.Pud = FirstValue(ini, "main", "PUD", s.Pud);
  s.Ip = FirstValue(ini, "main", "IP", s.Ip);
  s.CompanyName = FirstValue(ini, "main", "companyName", s.CompanyName);
  s.CompanyPhone = FirstValue(ini, "main", "companyPhone", s.CompanyPhone);
  s.CompanyAddress = FirstValue(ini, "main", "companyAddress", s.CompanyAddress);
  s.HttpUserName = FirstValue(ini, "main", "UserName", s.HttpUserName);
  s.HttpPassword = FirstValue(ini, "main", "Password", s.HttpPassword);

  const Settings defaults;
  const int32_t http_port = ReadInt(ini, "main", "Port", defaults.HttpPort);
  if (http_port >= 1 && http_port <= 65535) {
    s.HttpPort = http_port;
  } else {
    // A listener cannot take it, and picture URLs would name a port nobody serves.
    messages.push_back(Utf8ToCp1251("setup.ini: [main] Port " + std::to_string(http_port) +
                                    " вне диапазона 1-65535, используется " +
                                    std::to_string(defaults.HttpPort)));
  }
  s.BGOn = ReadBool(ini, "main", "BGOn", s.BGOn);
  s.MESOn = ReadBool(ini, "main", "MESOn", s.MESOn);

  if (!s.KeyTable.empty() && SetKeyTable1FromHex(s.KeyTable)) return s;
  ResetKeyTable1();
  if (!s.KeyTable.empty()) {
    messages.push_back(Utf8ToCp1251(
        "setup.ini: [ServerHost] KeyTable должен состоять из 512 шестнадцатеричных цифр (прочитано "
        "символов: " +
        std::to_string(s.KeyTable.size()) + "), используется встроенная таблица ключей"));
  }
  return s;
}

}  // namespace ab
