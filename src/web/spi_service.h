#pragma once
// The SPI SOAP 1.1 service at /spi: requests recognised by substring, answers built from
// literal fragments in Windows-1251 and converted to UTF-8 as a whole.

#include <string>
#include <string_view>
#include <vector>

#include "web/web_context.h"
#include "web/web_table.h"

namespace ab {

inline constexpr char kSoapEnvelopeNamespace[] = "http://schemas.xmlsoap.org/soap/envelope/";
inline constexpr char kSpiTypesNamespace[] = "urn://alarm-bridge/services/spi/types/1.1";

// Every double-quoted value between <ns:{element}> and </ns:{element}>, as integers (0 when not
// numeric), in document order.
std::vector<int32_t> ReadRequestIds(std::string_view body, std::string_view element);
// The first attribute value of the first <ns:SendAckReq element, 0 when not numeric.
int32_t ReadAckId(std::string_view body);

struct SpiResult {
  std::string Answer;   // Windows-1251; empty: no answer body
  std::string Command;  // the "netwritesoobe" command queued, if any
};

// Recognises and answers one request. The caller holds the controller's Lock; nothing is
// queued or logged here.
SpiResult AnswerSpi(const WebTableSet& tables, const WebSettings& settings, std::string_view body);

// The acknowledgement message (Windows-1251) for the object at the tables' positioned row.
std::string AckMessage(WebTable& objects, std::string_view user_name);

// The whole service after the credentials check: under Lock answer, queue, log ">" + answer.
// Returns the answer body in UTF-8 (empty when the body is none of the requests).
std::string ServeSpi(WebContext& ctx, std::string_view body);

}  // namespace ab
