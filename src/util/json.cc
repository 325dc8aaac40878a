#include "util/json.h"

#include <algorithm>
#include <cstddef>

namespace ab {

namespace {

bool IsNumberChar(char c) { return c == '-' || c == '.' || (c >= '0' && c <= '9'); }

bool StartsWith(std::string_view s, size_t pos, std::string_view word) {
  return pos <= s.size() && s.substr(pos).starts_with(word);
}

// Index just past the bracket that balances the one at `open_pos`, or npos when the text ends
// first. Every bracket of the kind counts, including those inside strings: callers rely on it.
size_t BalancedEnd(std::string_view s, size_t open_pos) {
  const char open = s[open_pos];
  const char close = open == '{' ? '}' : ']';
  int depth = 0;
  for (size_t i = open_pos; i < s.size(); ++i) {
    if (s[i] == open) {
      ++depth;
    } else if (s[i] == close && --depth == 0) {
      return i + 1;
    }
  }
  return std::string_view::npos;
}

size_t NumberRunEnd(std::string_view s, size_t pos) {
  while (pos < s.size() && IsNumberChar(s[pos])) ++pos;
  return pos;
}

}  // namespace

std::string JsonEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '"' || c == '\\' || c == '/') out.push_back('\\');
    out.push_back(c);
  }
  return out;
}

std::string XmlEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '&':
        out += "&amp;";
        break;
      default:
        out.push_back(c);
    }
  }
  return out;
}

std::string JsonGetValue(std::string_view json, std::string_view key) {
  std::string pattern;
  pattern.reserve(key.size() + 4);
  pattern.push_back('"');
  pattern.append(key);
  pattern += "\":";
  size_t pos = json.find(pattern);
  if (pos == std::string_view::npos) {
    pattern.insert(pattern.size() - 1, 1, ' ');
    pos = json.find(pattern);
    if (pos == std::string_view::npos) return {};
  }
  pos += pattern.size();
  if (pos < json.size() && json[pos] == ' ') ++pos;
  if (pos < json.size() && json[pos] == ':') ++pos;
  if (pos < json.size() && json[pos] == ' ') ++pos;
  if (pos >= json.size()) return {};

  const char c = json[pos];
  if (c == '"') {
    std::string out;
    for (size_t i = pos + 1; i < json.size(); ++i) {
      const char ch = json[i];
      if (ch == '"') break;
      if (ch == '\\' && i + 1 < json.size()) {
        const char next = json[i + 1];
        if (next == '\\' || next == '"' || next == '/') {
          out.push_back(next);
          ++i;
          continue;
        }
      }
      out.push_back(ch);
    }
    return out;
  }
  if (c == '{' || c == '[') {
    const size_t end = BalancedEnd(json, pos);
    if (end == std::string_view::npos) return {};
    return std::string(json.substr(pos + 1, end - pos - 2));
  }
  if (StartsWith(json, pos, "true")) return "true";
  if (StartsWith(json, pos, "false")) return "false";
  if (IsNumberChar(c)) return std::string(json.substr(pos, NumberRunEnd(json, pos) - pos));
  return {};
}

std::string JsonNextElement(std::string& text) {
  if (text.empty()) return {};
  const size_t start = text.find_first_of("{[");
  if (start == std::string::npos) {
    text.clear();
    return {};
  }
  const size_t end = BalancedEnd(text, start);
  if (end == std::string::npos) {
    // Unbalanced tail: a partial element, but only when something was dropped in front of it;
    // the tail itself stays in the text.
    if (start == 0) return {};
    text.erase(0, start);
    return text;
  }
  std::string element = text.substr(start, end - start);
  text.erase(0, end);
  return element;
}

bool JsonNextPair(std::string& text, std::string& key, std::string& value) {
  key.clear();
  value.clear();
  std::string_view rest = text;

  const size_t first_quote = rest.find('"');
  if (first_quote != std::string_view::npos) rest.remove_prefix(first_quote + 1);
  const size_t key_end = rest.find('"');
  bool found = false;
  if (key_end != std::string_view::npos) {
    key.assign(rest.substr(0, key_end));
    // The closing quote and the one character after it: the colon of a compact pair.
    rest.remove_prefix(std::min(key_end + 2, rest.size()));

    const char c = rest.empty() ? '\0' : rest.front();
    if (c == '"') {
      size_t i = 1;
      bool closed = false;
      while (i < rest.size()) {
        const char ch = rest[i];
        if (ch == '"') {
          closed = true;
          break;
        }
        if (ch == '\\') {
          if (i + 1 >= rest.size()) break;
          ++i;
        }
        value.push_back(rest[i]);
        ++i;
      }
      if (!closed) {
        // Cut short by the end of the text: keep what was consumed before the value.
        rest.remove_prefix(1);
        text.erase(0, text.size() - rest.size());
        return false;
      }
      rest.remove_prefix(i + 1);
      found = true;
    } else if (c == '{' || c == '[') {
      const size_t end = BalancedEnd(rest, 0);
      if (end != std::string_view::npos) {
        value.assign(rest.substr(1, end - 2));
        rest.remove_prefix(end);
        found = true;
      }
    } else if (rest.starts_with("true")) {
      value = "true";
      rest.remove_prefix(4);
      found = true;
    } else if (rest.starts_with("false")) {
      value = "false";
      rest.remove_prefix(5);
      found = true;
    } else if (IsNumberChar(c)) {
      const size_t end = NumberRunEnd(rest, 0);
      value.assign(rest.substr(0, end));
      rest.remove_prefix(end);
      found = true;
    }
  }
  if (!rest.empty() && rest.front() == ',') rest.remove_prefix(1);
  // rest views the tail of text, so cutting the front is the whole update.
  text.erase(0, text.size() - rest.size());
  return found;
}

}  // namespace ab
