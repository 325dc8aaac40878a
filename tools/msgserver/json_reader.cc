#include "msgserver/json_reader.h"

#include <charconv>
#include <cmath>

namespace ab::sim {

namespace {

constexpr int kMaxDepth = 64;

class Parser {
 public:
  explicit Parser(std::string_view text) : text_(text) {}

  bool Document(JsonValue& out) {
    Skip();
    if (!Value(out, 0)) return false;
    Skip();
    if (at_ < text_.size()) return Fail("unexpected text after the document");
    return true;
  }
  std::string Error() const { return error_; }

 private:
  bool Fail(const std::string& what) {
    if (error_.empty()) {
      error_ =
          "line " + std::to_string(line_) + ", column " + std::to_string(Column()) + ": " + what;
    }
    return false;
  }
  int Column() const { return static_cast<int>(at_ - line_start_) + 1; }
  void Skip() {
    while (at_ < text_.size()) {
      const char c = text_[at_];
      if (c == '\n') {
        ++line_;
        line_start_ = at_ + 1;
      } else if (c != ' ' && c != '\t' && c != '\r') {
        break;
      }
      ++at_;
    }
  }
  bool Literal(std::string_view word) {
    if (text_.substr(at_, word.size()) != word) return Fail("unknown word");
    at_ += word.size();
    return true;
  }

  bool Value(JsonValue& out, int depth) {
    if (depth > kMaxDepth) return Fail("nested too deeply");
    out.Line = line_;
    out.Column = Column();
    if (at_ >= text_.size()) return Fail("a value is missing");
    const char c = text_[at_];
    switch (c) {
      case '{':
        return Object(out, depth);
      case '[':
        return Array(out, depth);
      case '"':
        out.Type = JsonValue::Kind::kString;
        return String(out.Text);
      case 't':
        out.Type = JsonValue::Kind::kBool;
        out.Bool = true;
        return Literal("true");
      case 'f':
        out.Type = JsonValue::Kind::kBool;
        return Literal("false");
      case 'n':
        return Literal("null");
      default:
        if (c == '-' || (c >= '0' && c <= '9')) return Number(out);
        return Fail(std::string("unexpected character '") + c + "'");
    }
  }

  bool Object(JsonValue& out, int depth) {
    out.Type = JsonValue::Kind::kObject;
    ++at_;
    Skip();
    if (at_ < text_.size() && text_[at_] == '}') {
      ++at_;
      return true;
    }
    for (;;) {
      Skip();
      if (at_ >= text_.size() || text_[at_] != '"') return Fail("a member name in quotes expected");
      std::string key;
      if (!String(key)) return false;
      for (const auto& m : out.Members) {
        if (m.first == key) return Fail("member \"" + key + "\" given twice");
      }
      Skip();
      if (at_ >= text_.size() || text_[at_] != ':') return Fail("':' expected");
      ++at_;
      Skip();
      JsonValue v;
      if (!Value(v, depth + 1)) return false;
      out.Members.emplace_back(std::move(key), std::move(v));
      Skip();
      if (at_ < text_.size() && text_[at_] == ',') {
        ++at_;
        continue;
      }
      if (at_ < text_.size() && text_[at_] == '}') {
        ++at_;
        return true;
      }
      return Fail("',' or '}' expected");
    }
  }

  bool Array(JsonValue& out, int depth) {
    out.Type = JsonValue::Kind::kArray;
    ++at_;
    Skip();
    if (at_ < text_.size() && text_[at_] == ']') {
      ++at_;
      return true;
    }
    for (;;) {
      Skip();
      JsonValue v;
      if (!Value(v, depth + 1)) return false;
      out.Items.push_back(std::move(v));
      Skip();
      if (at_ < text_.size() && text_[at_] == ',') {
        ++at_;
        continue;
      }
      if (at_ < text_.size() && text_[at_] == ']') {
        ++at_;
        return true;
      }
      return Fail("',' or ']' expected");
    }
  }

  bool Hex4(uint32_t& v) {
    if (at_ + 4 > text_.size()) return Fail("short \\u escape");
    v = 0;
    for (int i = 0; i < 4; ++i) {
      const char h = text_[at_++];
      v <<= 4;
      if (h >= '0' && h <= '9') {
        v |= static_cast<uint32_t>(h - '0');
      } else if (h >= 'a' && h <= 'f') {
        v |= static_cast<uint32_t>(h - 'a' + 10);
      } else if (h >= 'A' && h <= 'F') {
        v |= static_cast<uint32_t>(h - 'A' + 10);
      } else {
        return Fail("bad \\u escape");
      }
    }
    return true;
  }

  static void PutUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }

  bool String(std::string& out) {
    ++at_;  // the opening quote
    for (;;) {
      if (at_ >= text_.size()) return Fail("unterminated string");
      const char c = text_[at_];
      if (c == '"') {
        ++at_;
        return true;
      }
      if (static_cast<unsigned char>(c) < 0x20) return Fail("control character in a string");
      if (c != '\\') {
        out.push_back(c);
        ++at_;
        continue;
      }
      if (++at_ >= text_.size()) return Fail("unterminated string");
      const char e = text_[at_++];
      switch (e) {
        case '"':
        case '\\':
        case '/':
          out.push_back(e);
          break;
        case 'b':
          out.push_back('\b');
          break;
        case 'f':
          out.push_back('\f');
          break;
        case 'n':
          out.push_back('\n');
          break;
        case 'r':
          out.push_back('\r');
          break;
        case 't':
          out.push_back('\t');
          break;
        case 'u': {
          uint32_t cp = 0;
          if (!Hex4(cp)) return false;
          if (cp >= 0xD800 && cp < 0xDC00) {
            uint32_t low = 0;
            if (text_.substr(at_, 2) != "\\u") return Fail("lone surrogate in \\u escape");
            at_ += 2;
            if (!Hex4(low)) return false;
            if (low < 0xDC00 || low >= 0xE000) return Fail("bad surrogate pair");
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
          } else if (cp >= 0xDC00 && cp < 0xE000) {
            return Fail("lone surrogate in \\u escape");
          }
          PutUtf8(out, cp);
          break;
        }
        default:
          return Fail(std::string("unknown escape '\\") + e + "'");
      }
    }
  }

  bool Number(JsonValue& out) {
    const size_t start = at_;
    if (text_[at_] == '-') ++at_;
    auto digits = [&] {
      const size_t from = at_;
      while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') ++at_;
      return at_ > from;
    };
    if (at_ < text_.size() && text_[at_] == '0') {
      ++at_;
    } else if (!digits()) {
      return Fail("bad number");
    }
    if (at_ < text_.size() && text_[at_] == '.') {
      ++at_;
      if (!digits()) return Fail("bad number");
    }
    if (at_ < text_.size() && (text_[at_] == 'e' || text_[at_] == 'E')) {
      ++at_;
      if (at_ < text_.size() && (text_[at_] == '+' || text_[at_] == '-')) ++at_;
      if (!digits()) return Fail("bad number");
    }
    out.Type = JsonValue::Kind::kNumber;
    out.Text = std::string(text_.substr(start, at_ - start));
    const auto [p, ec] =
        std::from_chars(out.Text.data(), out.Text.data() + out.Text.size(), out.Number);
    if (ec != std::errc() || !std::isfinite(out.Number)) return Fail("number out of range");
    return true;
  }

  std::string_view text_;
  size_t at_ = 0;
  int line_ = 1;
  size_t line_start_ = 0;
  std::string error_;
};

}  // namespace

const JsonValue* JsonValue::Find(std::string_view key) const {
  for (const auto& m : Members) {
    if (m.first == key) return &m.second;
  }
  return nullptr;
}

std::string JsonValue::Where() const {
  return "line " + std::to_string(Line) + ", column " + std::to_string(Column);
}

JsonParse ParseJson(std::string_view text) {
  JsonParse r;
  Parser p(text);
  if (!p.Document(r.Value)) r.Error = p.Error();
  return r;
}

}  // namespace ab::sim
