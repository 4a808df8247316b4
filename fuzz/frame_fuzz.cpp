// Feeds arbitrary bytes to the frame decoder in pieces whose sizes the input also chooses.
// Any crash, out-of-bounds read or hang is a finding, and so is a frame that the decoder
// hands out although its bytes, encoded again, do not stand in the input, or one that a
// different split of the same bytes does not give.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "link/frame.hpp"

namespace {

std::vector<kiv::Frame> Decode(std::span<const uint8_t> bytes, std::span<const uint8_t> splits) {
  kiv::FrameDecoder decoder(4096);
  std::vector<kiv::Frame> frames;
  std::size_t at = 0, next = 0;
  while (at < bytes.size()) {
    std::size_t n = splits.empty() ? bytes.size() : 1 + splits[next++ % splits.size()];
    n = std::min(n, bytes.size() - at);
    decoder.Feed(bytes.subspan(at, n));
    at += n;
    while (auto frame = decoder.Next()) frames.push_back(std::move(*frame));
  }
  return frames;
}

bool Contains(std::span<const uint8_t> haystack, const std::vector<uint8_t>& needle) {
  if (needle.size() > haystack.size()) return false;
  for (std::size_t i = 0; i + needle.size() <= haystack.size(); ++i) {
    if (std::equal(needle.begin(), needle.end(), haystack.begin() + static_cast<std::ptrdiff_t>(i))) return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  // The first byte says how many of the following bytes choose the piece sizes.
  const std::size_t splitCount = std::min<std::size_t>(data[0] % 16, size - 1);
  std::span<const uint8_t> splits(data + 1, splitCount);
  std::span<const uint8_t> bytes(data + 1 + splitCount, size - 1 - splitCount);

  const auto pieces = Decode(bytes, splits);
  const auto whole = Decode(bytes, {});
  if (pieces.size() != whole.size()) std::abort();
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    const kiv::Frame& f = pieces[i];
    std::vector<uint8_t> again;
    if (!kiv::EncodeFrame(f.kind, f.answer, f.header, f.body, again)) std::abort();
    if (!Contains(bytes, again)) std::abort();
    if (f.body != whole[i].body || f.header.seq != whole[i].header.seq) std::abort();
  }
  return 0;
}
