// The query: what the window's button does, from reading the inputs to the message box.
#pragma once

#include "text/text.h"

namespace quorvel {

class QueryWindow;

// Runs one query for the window's current region and player ID.
void OnQueryClick(QueryWindow& window);

// The region code ("daqu" form field, not yet encoded) for a region item text.
Text DeriveRegionCode(const Text& itemText);

}  // namespace quorvel
