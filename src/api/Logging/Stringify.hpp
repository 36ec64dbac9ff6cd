#pragma once

#include <optional>
#include <string>

#include "platform/Result.hpp"
#include "platform/web/URLRequest.hpp"
#include "platform/web/URLResponse.hpp"

namespace qz {

// A request as a multi-line text block for the log: banner, URL, request line,
// host, header fields, body (or "Can't render body; not utf8 encoded"), banner.
std::string stringify(const URLRequest& request);

// A response as a multi-line text block for the log; "Not a HTTP response" when
// there is no response.
std::string stringify(const std::optional<Data>& data, const std::optional<URLResponse>& response,
                      const std::optional<URLError>& error);

}  // namespace qz
