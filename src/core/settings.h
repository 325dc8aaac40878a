#pragma once
// The values of setup.ini. Read once at start-up, before any other thread runs; never written.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace ab {

// Every key with its default. Texts are the file's bytes as they stand (Windows-1251).
struct Settings {
  // [ServerHost]
  std::string ServerAddress = "127.0.0.1";  // Address; several may be given, comma-separated
  int32_t ServerPort = 12543;               // Port; the link takes its low 16 bits
  // 512 hexadecimal digits of key table 1 as read; empty when absent. Applied by LoadSettings
  // only when valid.
  std::string KeyTable;

  // [main]
  std::string Pud = "5172904";         // PUD: registration password
  std::string Ip = "127.0.0.1";        // IP: host part of picture URLs
  std::string CompanyName;             // companyName
  std::string CompanyPhone;            // companyPhone
  std::string CompanyAddress;          // companyAddress
  std::string HttpUserName = "admin";  // UserName
  std::string HttpPassword = "qlumb";  // Password
  int32_t HttpPort = 8090;             // Port
  bool BGOn = true;                    // BGOn: integer, 0 = false
  bool MESOn = true;                   // MESOn: integer, 0 = false

  // Ip + ":" + HttpPort in decimal.
  std::string PublicAddress() const;
};

// Reads ini_file. Section and key names are matched without regard to case. A missing file or
// key gives the default; an integer or boolean that is not a whole number gives the default; an
// HTTP port outside 1..65535 gives the default; a key given twice keeps its first value.
// Applies [ServerHost] KeyTable to key table 1 when it is 512 hexadecimal digits; otherwise the
// built-in table is restored. Each problem worth the operator's eye (an invalid KeyTable, an
// unusable HTTP port) appends one Windows-1251 line to messages.
// Not thread-safe: it adjusts the INI reader's process-wide options and key table 1.
Settings LoadSettings(const std::filesystem::path& ini_file, std::vector<std::string>& messages);

}  // namespace ab
