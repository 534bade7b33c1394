// What the Watch judgement says: one sentence per finding for a non-expert,
// the wear projection's texts and the Raw column's text. English, C locale.
#pragma once

#include "watch/watch.h"

#include <cstdint>
#include <string>

namespace zentrova::watch {

// "2 Dec": the local day and the month's English abbreviation.
std::string ShortDate(std::int64_t ms);
// "Dec 2026".
std::string MonthYear(std::int64_t ms);

// The finding's sentence: what happened, counted right, and what to do.
std::string Sentence(const Finding& finding);

// "about 14 months of life left at this rate (around Feb 2028)"; "about 1
// month ...", "less than a month ..." below half a month.
std::string LifeLeftText(double monthsLeft, std::int64_t endMs);
std::string NotEnoughHistoryText();
std::string LifeUsedText(std::uint64_t percentUsed);

// The six raw bytes in hex, most significant first: "00 00 00 12 00 08".
std::string HexBytes(const std::vector<std::uint8_t>& raw);
// The Raw column without the judgement's memory: the count of the counters
// the rules read, the temperature, power-on time and power cycles decoded,
// an NVMe field as its number, anything else as HexBytes.
std::string DecodedRaw(const history::Identity& drive, history::Kind kind,
                       const history::Entry& entry);

} // namespace zentrova::watch
