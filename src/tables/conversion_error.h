#pragma once
// The one error a table lets reach its caller: a text that had to be a number was not one
// (AsFloat of a type-2 text, AsInteger of a type-24 text, a "tablefields" number). The HTTP layer
// turns it into status 500 with what() as the message.

#include <stdexcept>
#include <string>

namespace ab {

class ConversionError : public std::runtime_error {
 public:
  explicit ConversionError(const std::string& text)
      : std::runtime_error("'" + text + "' is not a valid number") {}
};

}  // namespace ab
