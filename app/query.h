// The query: what the window's button does, from reading the inputs to the message box.
#pragma once

#include "text/text.h"

namespace quorvel {

class QueryWindow;

// The address of the rank-lookup page, fixed when the program is built.
Text RankUrl();

// Runs one query for the window's current region and player ID against RankUrl(), and ends
// in exactly one message box (or none when a query is already running).
void OnQueryClick(QueryWindow& window);
// The same against another address of the page.
void OnQueryClick(QueryWindow& window, const Text& rankUrl);

// The region code ("daqu" form field, not yet encoded) for a region item text: its last 6
// bytes; "教育一" when it holds "教育网"; its last 8 bytes when "电信十" is followed by more.
Text DeriveRegionCode(const Text& itemText);

// "daqu=" + region code + "&nickname=" + trimmed player ID, both percent-encoded UTF-8 with
// every byte encoded.
Text QueryFormBody(const Text& itemText, const Text& playerId);

// The pattern that reads the six values out of the page's result table (320 GBK bytes).
const Text& ResultPagePattern();

// The message box a response body ends in.
struct QueryAnswer {
  Text message;
  Text title;
};
QueryAnswer ReadQueryResult(const Bytes& body);

}  // namespace quorvel
