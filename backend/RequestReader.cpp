#include "RequestReader.h"

#include <algorithm>
#include <cctype>

namespace lumivale::backend {

namespace {

// Longest chunk-size line (with its extensions) taken.
constexpr std::size_t kMaxChunkLineBytes = 1024;
// Consumed bytes are dropped from the front of the buffer once this many piled up.
constexpr std::size_t kCompactBytes = 64 * 1024;

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

ReadState RequestReader::Add(std::string_view bytes) {
    buffer_.append(bytes);
    if (stage_ == Stage::Complete) return ReadState::Complete;
    if (stage_ == Stage::Refused) return ReadState::Refused;
    return Advance();
}

ReadState RequestReader::Next() {
    buffer_.erase(0, pos_);
    pos_ = 0;
    stage_ = Stage::Head;
    head_.clear();
    body_.clear();
    request_.clear();
    remaining_ = trailerBytes_ = headBytes_ = rawBodyBytes_ = 0;
    contentLength_.reset();
    chunked_ = wantsContinue_ = false;
    return Advance();
}

bool RequestReader::TakeContinueRequest() {
    const bool bodyPending = stage_ == Stage::LengthBody || stage_ == Stage::ChunkSize;
    if (!wantsContinue_ || !bodyPending || pos_ < buffer_.size()) return false;
    wantsContinue_ = false;
    return true;
}

ReadState RequestReader::Refuse(int status, std::string reason) {
    stage_ = Stage::Refused;
    refusalStatus_ = status;
    refusalReason_ = std::move(reason);
    return ReadState::Refused;
}

bool RequestReader::TakeLine(std::string_view& line) {
    const std::size_t end = buffer_.find('\n', pos_);
    if (end == std::string::npos) return false;
    line = std::string_view(buffer_).substr(pos_, end - pos_);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    pos_ = end + 1;
    return true;
}

ReadState RequestReader::Advance() {
    for (;;) {
        const std::size_t before = pos_;
        std::string_view line;
        switch (stage_) {
            case Stage::Complete:
                return ReadState::Complete;
            case Stage::Refused:
                return ReadState::Refused;
            case Stage::Head: {
                const bool gotLine = TakeLine(line);
                if (gotLine) headBytes_ += pos_ - before;
                const std::size_t partial = gotLine ? 0 : buffer_.size() - pos_;  // of a line still arriving
                if (headBytes_ + partial > maxHeadBytes_) return Refuse(431, "request head too large");
                if (!gotLine) return ReadState::NeedMore;
                if (const auto refused = HeadLine(line)) return *refused;
                break;
            }
            case Stage::LengthBody:
            case Stage::ChunkData: {
                const std::size_t take = std::min(remaining_, buffer_.size() - pos_);
                body_.append(buffer_, pos_, take);
                pos_ += take;
                remaining_ -= take;
                if (remaining_ > 0) return ReadState::NeedMore;
                if (stage_ == Stage::LengthBody) {
                    Finish();
                } else {
                    stage_ = Stage::ChunkEnd;
                }
                break;
            }
            case Stage::ChunkSize: {
                if (!TakeLine(line)) {
                    if (buffer_.size() - pos_ > kMaxChunkLineBytes) return Refuse(400, "malformed chunk size");
                    return ReadState::NeedMore;
                }
                const std::string_view size = Trim(line.substr(0, line.find(';')));
                std::size_t value = 0;
                if (size.empty() || line.size() > kMaxChunkLineBytes) return Refuse(400, "malformed chunk size");
                for (char c : size) {
                    const int digit = HexDigit(c);
                    if (digit < 0) return Refuse(400, "malformed chunk size");
                    if (value > maxBodyBytes_) return Refuse(413, "request body too large");
                    value = value * 16 + static_cast<std::size_t>(digit);
                }
                if (value > maxBodyBytes_ - body_.size()) return Refuse(413, "request body too large");
                remaining_ = value;
                stage_ = value == 0 ? Stage::Trailer : Stage::ChunkData;
                break;
            }
            case Stage::ChunkEnd: {
                const std::string_view rest = std::string_view(buffer_).substr(pos_);
                if (rest.empty() || rest == "\r") return ReadState::NeedMore;
                if (rest.starts_with("\r\n")) {
                    pos_ += 2;
                } else if (rest.starts_with("\n")) {
                    pos_ += 1;
                } else {
                    return Refuse(400, "malformed chunk");
                }
                stage_ = Stage::ChunkSize;
                break;
            }
            case Stage::Trailer: {
                const bool gotLine = TakeLine(line);
                if (gotLine) trailerBytes_ += pos_ - before;
                const std::size_t partial = gotLine ? 0 : buffer_.size() - pos_;
                if (trailerBytes_ + partial > maxHeadBytes_) return Refuse(431, "request trailer too large");
                if (!gotLine) return ReadState::NeedMore;
                if (line.empty()) Finish();  // trailer fields are dropped
                break;
            }
        }
        if (stage_ != Stage::Head && stage_ != Stage::Complete) {
            // Chunk framing is overhead: bounded as well, so that tiny chunks cannot stretch a body forever.
            rawBodyBytes_ += pos_ - before;
            if (rawBodyBytes_ > 2 * maxBodyBytes_ + kMaxChunkLineBytes * 4) return Refuse(413, "request body too large");
        }
        if (pos_ > kCompactBytes && stage_ != Stage::Complete) {
            buffer_.erase(0, pos_);
            pos_ = 0;
        }
    }
}

std::optional<ReadState> RequestReader::HeadLine(std::string_view line) {
    if (head_.empty()) {
        if (line.empty()) return std::nullopt;  // blank lines before a request line are skipped
        head_.append(line).append("\r\n");
        return std::nullopt;
    }
    if (line.empty()) return EndOfHead();
    if (line.front() == ' ' || line.front() == '\t') return Refuse(400, "folded header lines are not accepted");
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0) return Refuse(400, "malformed header line");
    const std::string_view name = line.substr(0, colon);
    const std::string_view value = Trim(line.substr(colon + 1));
    if (EqualsIgnoringCase(name, "Content-Length")) {
        std::size_t length = 0;
        if (value.empty() || value.size() > 18 ||
            !std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; })) {
            return Refuse(400, "malformed Content-Length");
        }
        for (char c : value) length = length * 10 + static_cast<std::size_t>(c - '0');
        if (contentLength_ && *contentLength_ != length) return Refuse(400, "conflicting Content-Length");
        contentLength_ = length;
    } else if (EqualsIgnoringCase(name, "Transfer-Encoding")) {
        if (!EqualsIgnoringCase(value, "chunked")) return Refuse(501, "transfer coding not supported");
        chunked_ = true;
    } else if (EqualsIgnoringCase(name, "Expect")) {
        wantsContinue_ = EqualsIgnoringCase(value, "100-continue");
    } else {
        head_.append(line).append("\r\n");
    }
    return std::nullopt;
}

std::optional<ReadState> RequestReader::EndOfHead() {
    // Both framings at once is how requests are smuggled past a proxy: refused.
    if (chunked_ && contentLength_) return Refuse(400, "both Content-Length and Transfer-Encoding");
    if (contentLength_ && *contentLength_ > maxBodyBytes_) return Refuse(413, "request body too large");
    if (chunked_) {
        stage_ = Stage::ChunkSize;
    } else if (contentLength_.value_or(0) > 0) {
        remaining_ = *contentLength_;
        stage_ = Stage::LengthBody;
    } else {
        Finish();
    }
    return std::nullopt;
}

void RequestReader::Finish() {
    request_ = head_ + "Content-Length: " + std::to_string(body_.size()) + "\r\n\r\n" + body_;
    stage_ = Stage::Complete;
}

}  // namespace lumivale::backend
