#pragma once
// A request as the handler sees it and the answer it gives, free of any HTTP library type so the
// handler can be tested without a socket.

#include <memory>
#include <string>

namespace ab {

struct HttpRequest {
  std::string Method;         // "GET", "POST", "HEAD", ...
  std::string Path;           // target up to the first '?', percent-decoded
  std::string Host;           // Host header
  std::string RemoteAddress;  // peer IPv4 address in dotted form
  std::string Body;           // read in full
  std::string UserName;       // Basic credentials; empty without an Authorization header
  std::string Password;
};

struct HttpAnswer {
  int Status = 200;
  std::string ContentType;      // empty: the server default "text/html"
  std::string ContentEncoding;  // empty: no Content-Encoding header
  std::string Body;
  // When set, the body instead of Body: a text kept elsewhere, sent without a copy.
  std::shared_ptr<const std::string> SharedBody;

  const std::string& BodyText() const { return SharedBody ? *SharedBody : Body; }
};

inline constexpr char kDefaultContentType[] = "text/html";

}  // namespace ab
