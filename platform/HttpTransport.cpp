// The parts of HttpTransport.h that are the same for every transport (libcurl, WinHTTP).
#include "HttpTransport.h"

#include <algorithm>
#include <cctype>

namespace lumivale {

std::optional<std::string> HttpResponse::Header(std::string_view name) const {
    for (const HttpHeader& header : headers) {
        const bool same = header.name.size() == name.size() &&
                          std::equal(name.begin(), name.end(), header.name.begin(), [](char x, char y) {
                              return std::tolower(static_cast<unsigned char>(x)) ==
                                     std::tolower(static_cast<unsigned char>(y));
                          });
        if (same) return header.value;
    }
    return std::nullopt;
}

HttpResponse SendHttpRequest(const HttpRequest& request, std::string& body) {
    body.clear();
    return SendHttpRequest(request, [&body](std::string_view piece) {
        body.append(piece);
        return true;
    });
}

}  // namespace lumivale
