// What a conversion run reports back to the command line.
#pragma once

#include <cstdint>

namespace vocrate {

struct ConversionResult {
  std::uint32_t frames = 0;   ///< frames read (records or packets)
  std::uint32_t lost = 0;     ///< frames counted as lost
  bool read_failed = false;   ///< a read of the source failed before its end
  bool write_failed = false;  ///< a seek or write of the destination failed
};

}  // namespace vocrate
