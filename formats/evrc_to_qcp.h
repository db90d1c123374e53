// Raw EVRC packet file (24-byte records) to QCP file.
#pragma once

#include <cstdio>

#include "formats/conversion.h"
#include "formats/loss_stat.h"

namespace vocrate {

/// Converts the raw EVRC records of `source` (binary, not owned) into a QCP
/// file written to `dest` (binary, at its start, not owned). The source's
/// whole 24-byte records are read from its start, as many as it holds when
/// the run begins; a final fragment is ignored. A record of an unknown rate
/// becomes the erasure packet 01 FF FF. Erasures, whether written as such or
/// made from an unknown rate, are reported to `loss` as they are found, and
/// the totals at the end.
ConversionResult ConvertEvrcToQcp(std::FILE* source, std::FILE* dest, LossSink& loss);

}  // namespace vocrate
