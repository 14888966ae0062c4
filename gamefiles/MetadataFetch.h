#pragma once
// Small metadata documents (version lists, loader lists, loader profiles) read whole into memory:
// each address of a list in turn, once each, redirects followed, until one answers 200. A source
// that is down costs one attempt, so that a list never waits long on a host that is gone.
#include <chrono>
#include <string>
#include <vector>

namespace lumivale {

struct MetadataAnswer {
    bool ok = false;
    std::string body;
    std::string url;    // the address that answered (the last one tried when none did)
    std::string error;  // why the last address failed, for the console and reasons
};

inline constexpr std::chrono::milliseconds kMetadataTimeout{15000};

MetadataAnswer FetchMetadata(const std::vector<std::string>& urls,
                             std::chrono::milliseconds timeout = kMetadataTimeout);

// A path segment with everything but unreserved characters percent-encoded ("1.14 Pre-Release 5"
// becomes "1.14%20Pre-Release%205").
std::string EncodePathSegment(const std::string& text);

}  // namespace lumivale
