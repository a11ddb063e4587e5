// What the request layer of this build writes by itself, where its backends differ (the
// differences are stated in platform/inet/inet.h), so that request tests can hold on both.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "tests/support/recorded_request.h"

namespace quorvel::test {

// True in the Windows build, whose request layer stands on WinInet (request_layer_win32.cpp;
// request_layer_posix.cpp says false).
bool OverWinInet();

// True when the header line is one the layer writes by itself: Host, User-Agent and
// Content-Length, and over WinInet also Connection and Cache-Control.
bool IsLayerLine(std::string_view line);

// The request's header lines without the layer's own (IsLayerLine), in the order received.
std::vector<std::string> CallerLines(const RecordedRequest& request);

// A header line as the layer sends it: over libcurl exactly as given; over WinInet with the
// blanks around the value dropped and one blank after the colon ("Name: value", "Name: ").
std::string AsSent(std::string_view line);

// True when the CONNECT request of a proxy tunnel carries the request's own User-Agent line
// (WinInet) instead of the agent.
bool TunnelCarriesTheRequestsAgentLine();

// True when the layer has the libcurl backend's header size limits, which inet.h states
// exactly; the WinInet backend has limits of its own.
bool HasLibcurlSizeLimits();

}  // namespace quorvel::test
