// The data-file reader (fuzz/reader_check.h) on files grown past its size
// limits (datafile/input_file.h) from a small input: one piece of it is
// repeated, so runs of text, markup, CDATA and comments longer than any
// input libFuzzer makes are reached.
//
// The input:
//   byte 0     the kind (its position in kKinds, modulo their number)
//   byte 1, 2  the count: byte 1 shifted left by byte 2 modulo 25
//   byte 3, 4  the length of the head, little-endian
//   byte 5, 6  the length of the piece, little-endian
//   then the head, the piece and the tail (the rest)
// The file is the head, the piece count times, the tail. Lengths past the
// end are cut; a file beyond kMaxBytes repeats the piece fewer times.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "datafile/input_file.h"
#include "fuzz/reader_check.h"

namespace {

// Past the largest limit by a quarter, so that every limit can be passed
// while one input stays quick enough to fuzz.
constexpr size_t kMaxBytes = morvent::xml::kMaxRun + morvent::xml::kMaxRun / 4;

// The limits are the reader's; writing back and reading again is what the
// reader harness checks. A file of many small records near kMaxBytes took
// over 30 s to go round under the sanitizers (about 90 µs a record, the
// three passes alike), so only files below this make the round trip.
constexpr size_t kRoundTripBytes = 1u << 20;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace morvent::fuzz;
  if (size < 7) return 0;
  const std::string_view rest(reinterpret_cast<const char*>(data) + 7, size - 7);
  const size_t headLength = std::min<size_t>(data[3] | data[4] << 8, rest.size());
  const size_t pieceLength = std::min<size_t>(data[5] | data[6] << 8, rest.size() - headLength);
  const std::string_view head = rest.substr(0, headLength), piece = rest.substr(headLength, pieceLength),
                         tail = rest.substr(headLength + pieceLength);
  size_t count = static_cast<size_t>(data[1]) << (data[2] % 25);
  if (!piece.empty()) count = rest.size() < kMaxBytes ? std::min(count, (kMaxBytes - rest.size()) / piece.size()) : 0;

  std::string file;
  file.reserve(head.size() + piece.size() * count + tail.size());
  file.append(head);
  for (size_t i = 0; i < count && !piece.empty(); ++i) file.append(piece);
  file.append(tail);
  ReadAndCheck(KindOf(data[0]), file, kRoundTripBytes);
  return 0;
}
