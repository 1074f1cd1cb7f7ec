#pragma once
// The clock history as a small SVG chart: how far ahead of the GPS the PC clock was at each
// update, over time. One mark per update (a dot when set, a ring when only shown, a cross when
// refused), each with its row as a tooltip; axes in seconds or milliseconds as the range asks.
#include <string>
#include <string_view>
#include <vector>

#include "app/clock_history.h"

namespace tidewell {

std::string historySvg(const std::vector<HistoryRow>& rows);

// Text safe in XML character data and attribute values: the markup characters as entities,
// control characters and bytes that are not UTF-8 as '?'.
std::string xmlEscaped(std::string_view text);

}  // namespace tidewell
