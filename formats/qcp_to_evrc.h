// QCP file to raw EVRC packet file (24-byte records).
#pragma once

#include <cstdio>
#include <functional>
#include <string>

#include "formats/conversion.h"
#include "formats/loss_stat.h"

namespace vocrate {

/// Moves `source` (binary, not owned) to byte 194 and calls `on_position`
/// with the read position there (194, also for a shorter file). Then reads
/// packets to the end of the file as it stands when the run begins; nothing
/// of the header is read or checked (files in the field carry other chunk
/// layouts and are still read from byte 194). Each packet becomes one
/// 24-byte record in `dest` (binary, at its start, not owned). Erasure
/// packets 01 FF FF and packets of unknown rate octets are reported to
/// `loss`, then the totals.
///
/// A packet cut short by the end of the file still becomes a record, the
/// bytes that are there in file order, and makes no erasure test. A blank
/// packet (octet 0) or an octet other than 0 to 4 (vocrate never writes one)
/// has no data bytes: it occupies its octet alone and counts as a lost frame,
/// whose record carries the octet in word 0 and zeros after it (a record the
/// decoder conceals). Such an octet with nothing after it (the pad byte of an
/// odd data chunk) counts as a frame, is not lost and writes nothing.
ConversionResult ConvertQcpToEvrc(std::FILE* source, std::FILE* dest, LossSink& loss,
                                  const std::function<void(long)>& on_position = {});

/// True when `source` (binary, not owned) is a QCP file whose header is a
/// well-formed chunk list (the one qcp::LocateData walks) and whose codec is
/// not EVRC; *codec then names it ("QCELP-13K", "SMV", the header's codec
/// name, or "unknown codec"). False for EVRC files and for files whose header
/// is not a well-formed chunk list, which are read from byte 194 as always.
/// Leaves the read position at the start of the file.
bool IsOtherCodec(std::FILE* source, std::string* codec);

}  // namespace vocrate
