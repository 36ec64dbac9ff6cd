#include "api/Logging/Stringify.hpp"

#include <gtest/gtest.h>

using namespace qz;

TEST(StringifyTest, EmptyRequest) {
    URLRequest request;
    request.httpMethod = "";
    EXPECT_EQ(stringify(request),
              "\n---------- REQUEST ---------->\n\n\n ? HTTP/1.1\nHost: "
              "\n\n------------------------->\n");
}

TEST(StringifyTest, FullRequest) {
    URLRequest request("https://api.example.com:8443/v1/vin?vin=1FA&x=2", "POST");
    request.setValue("application/json", "Content-Type");
    request.setValue("abc", "X-Key");
    request.setBody("{\"a\":1}");
    EXPECT_EQ(stringify(request),
              "\n---------- REQUEST ---------->\n"
              "https://api.example.com:8443/v1/vin?vin=1FA&x=2\n\n"
              "POST /v1/vin?vin=1FA&x=2 HTTP/1.1\n"
              "Host: api.example.com\n"
              "Content-Type: application/json\n"
              "X-Key: abc\n"
              "\n{\"a\":1}\n"
              "\n------------------------->\n");

    request.httpBody = {0xC3, 0x28};
    EXPECT_NE(stringify(request).find("\nCan't render body; not utf8 encoded\n"),
              std::string::npos);
}

TEST(StringifyTest, Responses) {
    URLError error{URLError::Code::timedOut, 28, "The request timed out."};
    EXPECT_EQ(stringify(Data{'x'}, std::nullopt, error), "Not a HTTP response");

    URLResponse response;
    response.url = "https://h.example/p";
    response.statusCode = 404;
    response.allHeaderFields = {{"Server", "s"}};
    EXPECT_EQ(stringify(Data{'o', 'k'}, response, error),
              "\n<---------- RESPONSE ----------\n"
              "https://h.example/p\n\n"
              "HTTP 404 /p?\n"
              "Host: h.example\n"
              "Server: s\n"
              "\nok\n"
              "\nError: The request timed out.\n"
              "<------------------------\n");

    URLResponse bare;
    EXPECT_EQ(
        stringify(std::nullopt, bare, std::nullopt),
        "\n<---------- RESPONSE ----------\nHTTP 0 ?\nHost: n/a\n<------------------------\n");
}
