// The header section of an HTTP response as the request layer reports it: lines arrive one by
// one (as the transfer delivers them) and are gathered into the raw block InetQueryRawHeaders
// hands out: the status line and each header line ended by CR LF, then an empty line (CR LF).
//
// Only the first line of a block is its status line: a later line that begins with "HTTP/" is
// an ordinary header line and keeps what came before it. A block whose status is 1xx is an
// interim answer; it is dropped and the next line starts a new block. No system header is
// needed, so every backend (and a fuzzer) can use it.
#pragma once

#include <string>
#include <string_view>

namespace quorvel::platform {

class HeaderBlockReader {
 public:
  enum class Step {
    kLine,     // a status or header line was added to the block
    kInterim,  // the empty line ending a 1xx block: the block was dropped, a new one follows
    kEnd,      // the empty line ending the final block: raw() is complete
    kIgnored,  // the block had already ended (trailers after the body)
  };

  // Takes one received line; its line end (LF, CR LF, any run of CR and LF) may be included
  // and is not part of the line. Any bytes are accepted.
  Step Take(std::string_view line);

  // Forgets everything and starts over (the next line is a status line again).
  void Reset();

  // The block so far: lines ended by CR LF, and the final empty line once ended() holds.
  const std::string& raw() const { return raw_; }
  // The status code of the status line (its three bytes after the first blank), 0 if none.
  int status() const { return status_; }
  // The value of the block's last "Location" line, blanks around it removed.
  const std::string& location() const { return location_; }
  bool ended() const { return ended_; }

 private:
  std::string raw_;
  std::string location_;
  int status_ = 0;
  bool atStart_ = true;
  bool ended_ = false;
};

// The raw block the layer would report for these received bytes: they are split into lines at
// each LF, 1xx blocks are skipped, and the first final block is returned (bytes after its empty
// line are the body and are not looked at). Empty when no final block ends in the bytes.
std::string RawHeaderBlock(std::string_view received);

}  // namespace quorvel::platform
