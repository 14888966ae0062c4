#include "MetadataFetch.h"

#include <cctype>
#include <cstdio>

#include "HttpTransport.h"

namespace lumivale {

namespace {

constexpr int kMostRedirects = 5;
constexpr std::size_t kLargestDocument = 64u << 20;

// `location` read against the address it came from.
std::string Resolve(const std::string& from, const std::string& location) {
    if (location.starts_with("http://") || location.starts_with("https://")) return location;
    const auto scheme = from.find("://");
    const auto pathStart = from.find('/', scheme == std::string::npos ? 0 : scheme + 3);
    return from.substr(0, pathStart) + (location.starts_with("/") ? "" : "/") + location;
}

bool FetchOne(std::string url, std::chrono::milliseconds timeout, MetadataAnswer& answer) {
    for (int hop = 0; hop <= kMostRedirects; ++hop) {
        HttpRequest request;
        request.url = url;
        request.connectTimeout = timeout;
        request.receiveTimeout = timeout;
        std::string body;
        const HttpResponse response = SendHttpRequest(request, [&body](std::string_view piece) {
            body.append(piece);
            return body.size() <= kLargestDocument;
        });
        if (!response.ok()) {
            answer.error = "无法连接 " + url + "（" + response.error + "）";
            return false;
        }
        if (response.status == 200) {
            answer.body = std::move(body);
            return true;
        }
        const auto location = response.Header("Location");
        if (response.status < 300 || response.status > 399 || !location || location->empty()) {
            answer.error = "服务器返回状态 " + std::to_string(response.status) + "：" + url;
            return false;
        }
        url = Resolve(url, *location);
    }
    answer.error = "重定向次数过多：" + url;
    return false;
}

}  // namespace

MetadataAnswer FetchMetadata(const std::vector<std::string>& urls, std::chrono::milliseconds timeout) {
    MetadataAnswer answer;
    for (const std::string& url : urls) {
        answer.url = url;
        if (FetchOne(url, timeout, answer)) {
            answer.ok = true;
            answer.error.clear();
            return answer;
        }
    }
    return answer;
}

std::string EncodePathSegment(const std::string& text) {
    std::string encoded;
    for (const unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
            encoded += static_cast<char>(c);
        } else {
            char escape[4];
            std::snprintf(escape, sizeof escape, "%%%02X", c);
            encoded += escape;
        }
    }
    return encoded;
}

}  // namespace lumivale
