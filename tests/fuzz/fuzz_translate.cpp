// The block translator against the byte-at-a-time model, with the stream cut
// into blocks whose sizes come from the input, and FindEither against a plain
// scan. Every block, and every output buffer, sits in an allocation of its
// exact size, so a read or write past either is caught.
//
// Input: one control byte, then the block sizes, then the stream.
//   control bit 0       direction: 0 LF to CR-LF, 1 CR-LF to LF
//   control bits 1-2    encoding: 1 UTF-16 little-endian, 2 big-endian, else bytes
//   control bits 3-7    how many block-size bytes follow (0: one block)
//   each size byte      a block of that many bytes (0: an empty call),
//                       255 the rest of the stream; the sizes repeat.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "convert/translate.h"
#include "fuzz_check.h"
#include "translate_model.h"

namespace {

std::string TranslateInBlocks(LinebreakTranslator& translator, bool units,
                              const std::string& stream, const std::vector<uint8_t>& sizes) {
  std::string result;
  size_t at = 0;
  for (size_t i = 0; at < stream.size(); ++i) {
    size_t n = stream.size() - at;
    if (!sizes.empty() && sizes[i % sizes.size()] != 255) {
      n = std::min<size_t>(n, sizes[i % sizes.size()]);
    }
    std::vector<unsigned char> block(stream.begin() + at, stream.begin() + at + n);
    std::vector<unsigned char> out(LinebreakTranslator::OutputCapacity(n));
    size_t produced = translator.Translate(block.data(), n, out.data());
    FUZZ_CHECK(produced <= 2 * n + (units ? 4 : 1));
    result.append(reinterpret_cast<const char*>(out.data()), produced);
    at += n;
  }
  std::vector<unsigned char> out(LinebreakTranslator::OutputCapacity(0));
  size_t produced = translator.Finish(out.data());
  FUZZ_CHECK(produced <= (units ? 3u : 1u));
  result.append(reinterpret_cast<const char*>(out.data()), produced);
  return result;
}

// Every match of FindEither in block, one after the other, against a scan.
void CheckFindEither(const std::vector<unsigned char>& block, unsigned char a, unsigned char b) {
  const unsigned char* const begin = block.data();
  const unsigned char* const end = begin + block.size();
  const unsigned char* p = begin;
  for (;;) {
    const unsigned char* expected = p;
    while (expected < end && *expected != a && *expected != b) ++expected;
    const unsigned char* found = FindEither(p, end, a, b);
    FUZZ_CHECK(found == expected);
    if (found == end) break;
    p = found + 1;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const Direction direction = (data[0] & 1) != 0 ? DirectionCrLfToLf : DirectionLfToCrLf;
  const unsigned encodingBits = (data[0] >> 1) & 3;
  const Encoding encoding = encodingBits == 1   ? EncodingUtf16Le
                            : encodingBits == 2 ? EncodingUtf16Be
                                                : EncodingBytes;
  const bool units = encoding != EncodingBytes;
  size_t count = data[0] >> 3;
  if (count > size - 1) count = size - 1;
  std::vector<uint8_t> sizes(data + 1, data + 1 + count);
  bool progresses = false;
  for (uint8_t s : sizes) progresses = progresses || s != 0;
  if (!progresses) sizes.clear();
  const std::string stream(reinterpret_cast<const char*>(data) + 1 + count, size - 1 - count);

  const std::string expected = TranslateModel(stream, direction, encoding);
  LinebreakTranslator translator(direction, encoding);
  FUZZ_CHECK(TranslateInBlocks(translator, units, stream, sizes) == expected);
  // After Finish the same translator takes a new stream, here in one block.
  FUZZ_CHECK(TranslateInBlocks(translator, units, stream, {}) == expected);

  std::vector<unsigned char> bytes(stream.begin(), stream.end());
  CheckFindEither(bytes, kCR, kLF);
  CheckFindEither(bytes, kCR, kEndOfText);
  if (!bytes.empty()) CheckFindEither(bytes, bytes[0], bytes[0]);
  return 0;
}
