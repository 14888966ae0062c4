#pragma once
// Reads one HTTP/1.1 request at a time out of the bytes a connection delivers, before any handler
// sees it: the head up to its size limit, then the body by Content-Length or chunk by chunk, with
// the body cap checked as the bytes arrive, whichever way the body is framed. A finished request
// is handed on in one plain form: its request line and headers, then "Content-Length" and the
// decoded body, so that what reads it next never meets chunks. Bytes after the request stay for
// the next one (pipelining).
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace lumivale::backend {

enum class ReadState { NeedMore, Complete, Refused };

class RequestReader {
public:
    RequestReader(std::size_t maxHeadBytes, std::size_t maxBodyBytes)
        : maxHeadBytes_(maxHeadBytes), maxBodyBytes_(maxBodyBytes) {}

    // Takes the bytes that arrived and says how far the request at the front got.
    ReadState Add(std::string_view bytes);
    // After Complete: forgets that request and reads on in the bytes that came after it.
    ReadState Next();

    // Complete: the request in its plain form.
    const std::string& Request() const { return request_; }
    // Refused: the status to answer (400, 413, 431 or 501) and why, in English.
    int RefusalStatus() const { return refusalStatus_; }
    const std::string& RefusalReason() const { return refusalReason_; }
    // True once for a request whose head asked for "100 Continue" while its body is still to come.
    bool TakeContinueRequest();
    // Some byte of a request that is not complete yet has arrived.
    bool Started() const { return stage_ != Stage::Head || !head_.empty() || pos_ < buffer_.size(); }

private:
    enum class Stage { Head, LengthBody, ChunkSize, ChunkData, ChunkEnd, Trailer, Complete, Refused };

    ReadState Advance();
    // One line of the head; a state when the line ended the reading.
    std::optional<ReadState> HeadLine(std::string_view line);
    std::optional<ReadState> EndOfHead();
    ReadState Refuse(int status, std::string reason);
    // The next line from pos_ (without its line end); false when none is complete yet.
    bool TakeLine(std::string_view& line);
    void Finish();

    std::size_t maxHeadBytes_;
    std::size_t maxBodyBytes_;
    std::string buffer_;  // what arrived and is not consumed yet, from the request's first byte
    std::size_t pos_ = 0;
    Stage stage_ = Stage::Head;
    std::string head_;  // request line and the headers kept, each ending in "\r\n"
    std::string body_;
    std::size_t remaining_ = 0;  // of the length body or the current chunk
    std::size_t headBytes_ = 0;
    std::size_t trailerBytes_ = 0;
    std::size_t rawBodyBytes_ = 0;  // the body as framed, chunk lines included
    std::optional<std::size_t> contentLength_;
    bool chunked_ = false;
    bool wantsContinue_ = false;
    std::string request_;
    int refusalStatus_ = 0;
    std::string refusalReason_;
};

}  // namespace lumivale::backend
