// Internet, connection and request handles for HTTP and HTTPS: the request layer that the web
// routines stand on. Two backends keep this contract: libcurl (curl/, Linux) and WinInet
// (wininet/, Windows; wininet.dll is loaded and its functions looked up by name). No type of
// either appears here. Where WinInet cannot keep a clause, the section "Over WinInet" at the
// end says what holds instead.
//
// Handles open in the order internet -> connection -> request and are closed with
// InetCloseHandle in any order (each handle keeps what it needs of its parents); a null handle
// is accepted everywhere and makes the call fail (or do nothing, for close). A handle is used
// by one thread at a time; different handles may be used from different threads.
//
// Contract of the operations:
// - InetOpen: agent is the User-Agent sent unless the request's own header lines carry one;
//   it ends at its first line break (CR, LF or zero byte), so it cannot add lines.
//   kInetOpenDirect connects straight to the server and ignores the proxy environment
//   variables (http_proxy, https_proxy, all_proxy, no_proxy). kInetOpenProxy takes a proxy
//   text: entries separated by blanks or ";", each "[scheme=][http://]host[:port]" (port 80
//   when missing); an entry without "scheme=" serves every scheme, "http=" only http and
//   "https=" only https; entries for other schemes are ignored. A scheme no entry serves is
//   reached directly. The bypass list (separated by blanks or ";", "*" matches any run of
//   characters, "<local>" matches host names without a dot) names hosts reached directly.
//   Null for an unknown access type or an unreadable proxy text.
// - InetConnect: host is a name, an IPv4 address or an IPv6 address (with or without
//   brackets); port 1..65535. Null for anything else. No network traffic yet.
// - InetOpenRequest: verb is an HTTP method token, objectPath the path and query (bytes
//   outside the printable ASCII set, and blanks, are percent-encoded; "/" when empty),
//   version "HTTP/1.0" or "HTTP/1.1" (anything else counts as 1.1). The request handle opens
//   the TCP connection to the server, or to the proxy that serves its scheme: it is null
//   when the name does not resolve or the connection is refused or times out.
// - InetSendRequest: the header block is split at line ends (CR LF; a lone CR or LF ends a
//   line too, so no line can smuggle another) and each line with a name and a colon is sent as
//   given (other lines are not header lines and are left out); a line with a name and an
//   empty value goes out as "Name:". Host, Content-Length and (over a proxy) the proxy's own
//   lines are added as HTTP requires; nothing else is added except the agent. No "Expect:
//   100-continue", no compression is asked for or undone. A body is sent when it is not
//   empty, and always for POST, PUT and PATCH (then "Content-Length: 0" when empty). Returns
//   once the final response's headers have arrived (true) or the request has failed (false):
//   TLS errors, an untrusted certificate, a server that closes or stalls, a request or
//   response head beyond the size limits below.
// - InetReadFile: copies at most maxBytes of the response body into buffer and returns the
//   count; 0 at the end of the body and after any failure (bytes that arrived before a
//   failure are still handed out first). The body is streamed: only what the network has
//   delivered and the reader has not yet taken is held, never the whole body.
// - InetQueryRawHeaders: the final response's status line and header lines, each ended by
//   CR LF, then an empty line (CR LF), never those of a 1xx response, of a followed redirect
//   or of a proxy's tunnel answer. Only the first line of a block is its status line: a later
//   line that begins with "HTTP/" is a header line like any other. *length is the buffer
//   size on entry. When they fit with a terminating zero they are copied, *length becomes
//   their size without the zero and the result is true. Otherwise nothing is written, *length
//   becomes the size needed including the zero and the result is false; *length is 0 when
//   there are no headers (no response). buffer may be null to ask for the size.
// - Flags of InetOpenRequest:
//     kInetFlagReload, kInetFlagNeedFile: accepted; there is no cache, every request goes to
//       the server.
//     kInetFlagNoCookies: the process-wide cookie store is left out both ways (no Cookie line
//       is added from it and Set-Cookie lines are not stored). Without it, every request uses
//       that store: one in-memory store for the whole process, never written to disk.
//     kInetFlagNoAutoRedirect: a 3xx response comes back as the response, with its body.
//       Without it, 301, 302, 303, 307 and 308 responses with a Location are followed, at most
//       kInetMaxRedirects times (303, and 301/302 after POST, continue as a GET without body;
//       the caller's Cookie and Authorization lines are not sent to another origin). A
//       redirect from https to http is never followed, one from http to https only with
//       kInetFlagIgnoreRedirectToHttps; a redirect not followed comes back as the response.
//     kInetFlagSecure: TLS. Certificates and host names are verified against the system's
//       trusted authorities, or against the PEM file named by the environment variable
//       SSL_CERT_FILE when it is set (that is how tests trust their own authority).
// - Size limits of the libcurl backend (libcurl's own, fixed when it is built; no option
//   raises them):
//     A response header line may hold kInetMaxHeaderLineBytes bytes, its line end (CR LF or
//     LF) included. The responses of one exchange may hold kInetMaxHeaderBytes bytes of
//     header section together: every status and header line with its line end and the empty
//     line ending each block, interim 1xx blocks and a proxy's answer to the tunnel request
//     included (each followed redirect counts anew). A response beyond either limit is lost
//     whole: InetSendRequest returns false, no body byte is read and InetQueryRawHeaders
//     reports no headers, as for a server that closes before its headers end. Up to the
//     limits, headers come back whole.
//     The request head as it goes out (request line, every header line with its CR LF, the
//     empty line) together with a body shorter than kInetBodyOutsideHeadBytes may hold
//     kInetMaxRequestBytes bytes; a longer one is not sent at all and InetSendRequest returns
//     false. A body of kInetBodyOutsideHeadBytes or more does not count. Header lines are
//     taken in time linear in their number and size.
// - Time limits: opening the connection (name lookup, TCP, and TLS and proxy tunnel set-up)
//   may take kInetConnectSeconds. After that the request fails once no byte has come in (a
//   header line, body data) and none of the request has gone out for kInetStallSeconds in a
//   row (the environment variable QUORVEL_INET_STALL_SECONDS, 1 to 86400, overrides it),
//   wherever the stall begins: before the answer, inside the headers or mid-body. The time
//   counts from the send and from each byte, also while the caller does not read. A server
//   that keeps trickling bytes slower than one a second is given up as well, once libcurl's
//   speed (averaged over its last five or six seconds) has stayed below one byte a second for
//   that time: after about the limit plus up to six seconds. So a server that stopped
//   answering cannot freeze the caller (the user-interface thread) for good, while a slow
//   page can still be generated and sent; the connect limit is generous for a slow link yet
//   ends a dead address in reasonable time. The body as a whole has no time limit.
//
// Over WinInet (the backend follows redirects itself, with the rules above, and chooses each
// hop's proxy itself, so redirects, the proxy text, the bypass list and the Cookie and
// Authorization rule hold as stated; so do the flags' meanings, with these differences):
// - Opening a request: WinInet connects only when the request is sent, so InetOpenRequest
//   checks the server (or the proxy serving the scheme) with a TCP connection of its own,
//   within the connect limit, and closes it at once; the request then goes over WinInet's
//   own connection. The server thus sees one more connection, without a request.
// - Header lines: WinInet writes each as "Name: value" with the blanks around the value
//   dropped (an empty value goes out as "Name: "), places its own lines (Host, User-Agent,
//   Content-Length) before or after the caller's, and adds "Connection: Keep-Alive" and, for
//   a POST, "Cache-Control: no-cache". Lines of the same name all go out, in order. The
//   request target has its dot segments ("/x/../y") resolved. Through a proxy the absolute
//   target names the port even when it is the default ("http://host:80/..."), and a tunnel's
//   CONNECT request carries the request's own User-Agent line when it has one.
// - Raw headers are rebuilt by WinInet: the status line as received, each header line as
//   "Name: value" with the value's outer blanks dropped. Wine's WinInet also cuts a header
//   line longer than about 4 KB. The size limits above are the libcurl backend's; WinInet
//   has its own.
// - Reload and need-file: every request is a reload and none is written to WinInet's cache
//   (need-file is passed on as no-cache-write); automatic authentication and any dialog are
//   off.
// - Cookies: the process-wide store is WinInet's own (shared with anything else in the
//   process that uses WinInet); the backend has WinInet keep cookies the server marks
//   persistent in memory too, so nothing is written to disk, and InetClearCookieStore ends
//   WinInet's browsing session, which forgets them. Domain and default-path rules are
//   WinInet's (Wine's gives a cookie without Path the whole request path).
// - Certificates are verified against the system's certificate stores (the Root store);
//   SSL_CERT_FILE is not read. Tests trust their authority by adding it to the Root store.
// - Time limits: kInetConnectSeconds limits each connection attempt. The stall limit (and
//   its variable) is WinInet's send and receive time-out, so a single wait for data longer
//   than the limit fails the request; while the body is read the backend also gives up a
//   body that comes slower than a byte per second over the limit's length of waiting. Until
//   the response's headers have arrived only the single-wait rule holds: a server that
//   trickles its headers a byte every few seconds is not given up.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace quorvel::platform {

struct InetHandle;

inline constexpr int kInetOpenDirect = 1;
inline constexpr int kInetOpenProxy = 3;

inline constexpr std::uint32_t kInetFlagReload = 0x80000000u;
inline constexpr std::uint32_t kInetFlagNeedFile = 0x00000010u;
inline constexpr std::uint32_t kInetFlagNoCookies = 0x00080000u;
inline constexpr std::uint32_t kInetFlagNoAutoRedirect = 0x00200000u;
inline constexpr std::uint32_t kInetFlagSecure = 0x00800000u;
inline constexpr std::uint32_t kInetFlagIgnoreRedirectToHttps = 0x00004000u;

inline constexpr int kInetConnectSeconds = 15;
inline constexpr int kInetStallSeconds = 30;
inline constexpr int kInetMaxRedirects = 10;
inline constexpr char kInetStallSecondsVariable[] = "QUORVEL_INET_STALL_SECONDS";

// The size limits above, in bytes.
inline constexpr std::size_t kInetMaxHeaderLineBytes = 102399;
inline constexpr std::size_t kInetMaxHeaderBytes = 307200;
inline constexpr std::size_t kInetMaxRequestBytes = 1048575;
inline constexpr std::size_t kInetBodyOutsideHeadBytes = 65536;

InetHandle* InetOpen(std::string_view agent, int accessType, std::string_view proxy = {},
                     std::string_view bypass = {});
InetHandle* InetConnect(InetHandle* internet, std::string_view host, int port);
InetHandle* InetOpenRequest(InetHandle* connection, std::string_view verb,
                            std::string_view objectPath, std::string_view version,
                            std::uint32_t flags);
bool InetSendRequest(InetHandle* request, std::string_view headerBlock, std::string_view body = {});
std::size_t InetReadFile(InetHandle* request, void* buffer, std::size_t maxBytes);
bool InetQueryRawHeaders(InetHandle* request, char* buffer, std::size_t* length);
void InetCloseHandle(InetHandle* handle);

// Forgets every cookie of the process-wide store (the end of a browsing session).
void InetClearCookieStore();

}  // namespace quorvel::platform
