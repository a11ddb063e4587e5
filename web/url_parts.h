// Pieces of addresses and header text that an HTTP request needs.
//
// Addresses are scheme "://" host [":" port] path...; only http and https are recognised and
// the scheme and everything behind the host may be missing. Positions are 1-based bytes.
#pragma once

#include <optional>

#include "text/text.h"

namespace quorvel {

// The bytes between the first startMarker found from startPos (below 1 counts as 1) and the
// next endMarker behind it; empty when either is missing. In both markers the GBK text
// "#引号" stands for one double quote.
Text TextBetween(const Text& text, const Text& startMarker, const Text& endMarker, int startPos = 0,
                 bool ignoreCase = false);

// The trimmed text behind the first ":" of a header line; empty without a colon.
Text HeaderValue(const Text& line);

// The host of an address, in lower case, without its port unless keepPort.
// Without suffixDots: the host itself, or with domainOnly its last two labels.
// With suffixDots = n (any value, 0 included): n is the number of labels of the domain suffix;
// the result is one label in front of the suffix plus the suffix with domainOnly, one label
// more without it; a host with too few labels comes back whole.
Text UrlHost(const Text& address, bool domainOnly = false, bool keepPort = false,
             std::optional<int> suffixDots = std::nullopt);

// The port of an address: the number behind the port colon (0 when it is empty), else 443 for
// https and 80 otherwise.
int UrlPort(const Text& address);

// Everything from the first "/" behind the host, query and fragment included, in the letter
// case of the address; "/" when there is none.
Text UrlPath(const Text& address);

}  // namespace quorvel
