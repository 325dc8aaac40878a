#pragma once
// Loopback HTTP clients for the server tests: Beast's client for well-formed requests, a raw
// socket for what a well-behaved client never sends.

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <map>
#include <string>

namespace ab::test {

struct Reply {
  bool Answered = false;  // a complete response arrived
  int Status = 0;
  std::map<std::string, std::string> Headers;
  std::string Body;
};

inline Reply Fetch(uint16_t port, boost::beast::http::verb verb, const std::string& target,
                   const std::string& body = "",
                   const std::map<std::string, std::string>& headers = {}) {
  namespace asio = boost::asio;
  namespace http = boost::beast::http;
  asio::io_context ioc;
  asio::ip::tcp::socket socket(ioc);
  socket.connect({asio::ip::make_address_v4("127.0.0.1"), port});
  http::request<http::string_body> req{verb, target, 11};
  req.set(http::field::host, "bridge:" + std::to_string(port));
  for (const auto& [k, v] : headers) req.set(k, v);
  req.body() = body;
  if (!body.empty() || verb == http::verb::post) req.prepare_payload();
  boost::system::error_code ec;
  http::write(socket, req, ec);
  Reply reply;
  if (ec) return reply;
  boost::beast::flat_buffer buffer;
  http::response_parser<http::string_body> parser;
  parser.body_limit(64 * 1024 * 1024);
  if (verb == http::verb::head) parser.skip(true);
  http::read(socket, buffer, parser, ec);
  if (ec) return reply;
  reply.Answered = true;
  auto& res = parser.get();
  reply.Status = static_cast<int>(res.result_int());
  for (const auto& f : res) reply.Headers[std::string(f.name_string())] = std::string(f.value());
  reply.Body = res.body();
  // One request per connection: the server closes after the answer.
  char extra;
  socket.read_some(asio::buffer(&extra, 1), ec);
  if (ec != asio::error::eof) reply.Answered = false;
  return reply;
}

// Sends raw bytes (optionally closing the sending side), then reads until the server closes.
inline std::string RawExchange(uint16_t port, const std::string& bytes, bool close_send) {
  namespace asio = boost::asio;
  asio::io_context ioc;
  asio::ip::tcp::socket socket(ioc);
  socket.connect({asio::ip::make_address_v4("127.0.0.1"), port});
  boost::system::error_code ec;
  if (!bytes.empty()) asio::write(socket, asio::buffer(bytes), ec);
  if (close_send) socket.shutdown(asio::ip::tcp::socket::shutdown_send, ec);
  std::string out;
  char buf[4096];
  for (;;) {
    size_t n = socket.read_some(asio::buffer(buf), ec);
    out.append(buf, n);
    if (ec) break;
  }
  return out;
}

}  // namespace ab::test
