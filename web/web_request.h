// One HTTP or HTTPS request, synchronously, with default headers, proxy choice, cookie
// collection and cookie merging. The body of the response is the result.
#pragma once

#include <cstdint>

#include "text/text.h"

namespace quorvel {

// The agent used when the caller's header lines name none.
inline constexpr char kDefaultUserAgent[] = "Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)";

// Performs the request and returns the response body as read (empty when nothing was read or
// the request could not be opened).
//
// url: "https" as its first five bytes (any case) selects TLS and port 443 by default; any
//   other address is plain http (port 80 by default).
// method: 0 GET without body; 1 POST with the body; anything else GET with the body.
// postText: the body when postBytes is empty.
// cookies (in/out, null when not given): when given, even empty, the process-wide cookie
//   store is left out, a non-empty text is sent as a "Cookie: " line, and the cookies the
//   response sets are merged into it (MergeCookies).
// receivedCookies (out): the response's cookies, "name=value" entries joined by "; " (by ";"
//   when cookies was given, as merging leaves them).
// headers (in/out): extra header lines joined by CR LF; on return the whole block sent:
//   the caller's lines, then each of "Accept: */*", "Referer: " + url, "Accept-Language:
//   zh-cn" and "Content-Type: application/x-www-form-urlencoded" whose name is missing,
//   then "Cookie: " + cookies when cookies is not empty.
// responseHeaders (out): the final response's status line and header lines, CR LF after each,
//   then an empty line, whatever their size; every "Set-Cookie" spelled in that case.
// noRedirect: a redirect comes back as the response instead of being followed.
// postBytes (in/out): the body; when it is empty and a body is sent it receives the bytes of
//   postText.
// proxy: "host:port" (a proxy for https, and for http too) or empty for a direct
//   connection; for an http address only the http part of the text applies.
//
// When the request cannot be opened (unreachable server or proxy, unresolvable name, bad
// address) the result is empty and every parameter keeps what the caller had in it. When no
// response comes (refused TLS, a server that closes or stalls), the result is empty, headers
// holds the block, responseHeaders holds 5000 blanks, receivedCookies is empty and a given
// cookie text is still merged (with nothing). A response cut off in its body gives the bytes
// read before the cut, with its headers and cookies as usual.
Bytes WebRequest(const Text& url, int method = 0, const Text& postText = Text(),
                 Text* cookies = nullptr, Text* receivedCookies = nullptr, Text* headers = nullptr,
                 Text* responseHeaders = nullptr, bool noRedirect = false,
                 Bytes* postBytes = nullptr, const Text& proxy = Text());

// The cookies of a raw response header block as WebRequest reports them in receivedCookies:
// for every CR LF line holding "Set-Cookie", its "name=value" (the text after "Set-Cookie:" up
// to the first ";", blanks trimmed), joined by "; ". Any text is accepted.
Text CollectCookies(const Text& responseHeaders);

// The request flags WebRequest opens its request with for this address and these options
// (reload and need-file always; no-cookies when a cookie text is given; no-auto-redirect on
// request; secure for https, ignore-redirect-to-https otherwise).
std::uint32_t WebRequestFlags(const Text& url, bool cookiesGiven, bool noRedirect);

}  // namespace quorvel
