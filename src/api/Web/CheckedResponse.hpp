#pragma once

#include <functional>
#include <utility>

#include "platform/Result.hpp"
#include "platform/web/URLSession.hpp"

namespace qz {

// A URL session completion for a request whose answer must have a status of 200 to 299: a
// transport error reaches `completion` as transportError(error), any other status as
// statusError(response), and a successful response goes through decode(response), whose
// result reaches `completion`.
template <class T, class E, class TransportError, class StatusError, class Decode>
URLSession::Completion checkedResponse(std::function<void(Result<T, E>)> completion,
                                       TransportError transportError, StatusError statusError,
                                       Decode decode) {
    return [completion = std::move(completion), transportError = std::move(transportError),
            statusError = std::move(statusError),
            decode = std::move(decode)](Result<URLResponse, URLError> result) {
        if (!result) return completion(std::unexpected(transportError(result.error())));
        if (!result->isSuccess()) return completion(std::unexpected(statusError(*result)));
        completion(decode(*result));
    };
}

}  // namespace qz
