#include "app/query.h"

namespace quorvel {

void OnQueryClick(QueryWindow&) {}

Text DeriveRegionCode(const Text&) { return Text(); }

}  // namespace quorvel
