// The rules' table and the raw-count packing table, for the rest of the
// library: which rule judges an entry and which bits of its raw bytes count.
#pragma once

#include "watch/watch.h"

#include <cstdint>
#include <string>

namespace zentrova::watch {

// The bits of an ATA attribute's six raw bytes (least significant first)
// that make its count.
enum class Bits { Low16, Low32, Low48 };

// The packing for attribute `id` on drive `model`: the packing table's, else
// the low 32 bits.
Bits PackingFor(const std::string& model, const std::string& firmware, std::uint8_t id);

// The rule that judges entry `id` of a drive of `kind`; null when none does.
const Rule* RuleFor(history::Kind kind, std::uint8_t id);

// The count `bits` of `raw` give.
std::uint64_t CountOf(const std::vector<std::uint8_t>& raw, Bits bits);

} // namespace zentrova::watch
