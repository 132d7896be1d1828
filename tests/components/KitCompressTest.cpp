// labels: unit
// Block compression and compressed sections: exact block bytes, round trips,
// the position and length limits, and damaged data rejected without harm.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "components/kitclass.h"
#include "components/kitprocs.h"

using namespace vexa;
using Bytes = std::vector<uint8_t>;

namespace {

Bytes Compress(const Bytes& src) {
  Bytes out(src.size() + 6);
  uint16_t n = CompressBlock(src.data(), out.data(), uint16_t(src.size()));
  out.resize(n);
  return out;
}

Bytes Expand(const Bytes& block) {
  Bytes out(KitBlockSourceSize);
  uint16_t n = DecompressBlock(block.data(), out.data(), uint16_t(block.size()));
  out.resize(n);
  return out;
}

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

Bytes Random(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes b(n);
  for (auto& x : b) x = uint8_t(rng());
  return b;
}

Bytes SectionOf(const Bytes& payload) {
  fw::TMemoryStream src, dst;
  if (!payload.empty()) src.WriteBuffer(payload.data(), int32_t(payload.size()));
  src.SetPosition(0);
  WriteCompressedSection(&src, &dst, int32_t(payload.size()));
  return dst.Data();
}

Bytes ReadSection(const Bytes& section) {
  fw::TMemoryStream src, dst;
  if (!section.empty()) src.WriteBuffer(section.data(), int32_t(section.size()));
  src.SetPosition(0);
  ReadCompressedSection(&src, &dst);
  return dst.Data();
}

}  // namespace

TEST(KitCompressBlock, ExactBlocksOfLiteralsCopiesAndRuns) {
  EXPECT_EQ(Compress({}), Bytes{128});
  EXPECT_TRUE(Expand(Bytes{128}).empty());

  Bytes plain = Text("abcdefghij");
  Bytes stored{128};
  stored.insert(stored.end(), plain.begin(), plain.end());
  EXPECT_EQ(Compress(plain), stored);

  // Three literals and a copy of 15 bytes from distance 3.
  EXPECT_EQ(Compress(Text("abcabcabcabcabcabc")),
            (Bytes{64, 0x10, 0x00, 'a', 'b', 'c', 0x00, 0x3C}));
  // Compressed to exactly the source length: stays compressed.
  EXPECT_EQ(Compress(Text("abcdeabcde")),
            (Bytes{64, 0x04, 0x00, 'a', 'b', 'c', 'd', 'e', 0x00, 0x52}));

  EXPECT_EQ(Compress(Bytes(20, 'a')), (Bytes{64, 0x80, 0x00, 0x00, 0x00, 0x04, 'a'}));
  EXPECT_EQ(Compress(Bytes(4095, 7)), (Bytes{64, 0x80, 0x00, 0x00, 0x0F, 0xEF, 7}));
  EXPECT_EQ(Compress(Bytes(4096, 7)), (Bytes{64, 0x80, 0x00, 0x00, 0x0F, 0xEF, 7, 7}));
  // 15 equal bytes are no run: a literal, then a copy of 14 from distance 1.
  EXPECT_EQ(Compress(Bytes(15, 9)), (Bytes{64, 0x40, 0x00, 9, 0x00, 0x1B}));
}

TEST(KitCompressBlock, ControlWordsEverySixteenItems) {
  // 20 literals then a long run: the second control word sits ahead of item 17.
  Bytes src = Text("ABCDEFGHIJKLMNOPQRST");
  src.insert(src.end(), 100, 'z');
  Bytes block = Compress(src);
  ASSERT_EQ(block.size(), 1u + 2 + 16 + 2 + 4 + 4);
  EXPECT_EQ(block[1], 0x00);
  EXPECT_EQ(block[2], 0x00);
  EXPECT_EQ(block[19], 0x08);  // items 17-21: 4 literals and a run, shifted to the top
  EXPECT_EQ(block[20], 0x00);
  EXPECT_EQ(block[21], 'Q');
  EXPECT_EQ(Bytes(block.end() - 4, block.end()), (Bytes{0, 0, 84, 'z'}));
  EXPECT_EQ(Expand(block), src);
}

TEST(KitCompressBlock, OverlappingCopiesRepeatThePattern) {
  EXPECT_EQ(Expand(Bytes{64, 0x40, 0x00, 'x', 0x00, 0x1F}), Bytes(19, 'x'));
  Bytes want;
  for (int i = 0; i < 10; ++i) want.insert(want.end(), {'a', 'b'});
  EXPECT_EQ(Expand(Bytes{64, 0x20, 0x00, 'a', 'b', 0x00, 0x2F}), want);
}

TEST(KitCompressBlock, RoundTripsOfAssortedData) {
  std::vector<Bytes> cases{{1},       {1, 2},          {1, 2, 3},        Bytes(3, 0),
                           Bytes(16, 0), Random(17, 1), Random(1000, 2), Random(32781, 3)};
  Bytes text;
  for (int i = 0; i < 2000; ++i) text.push_back(uint8_t("the quick brown fox "[i % 20] + i / 500));
  cases.push_back(text);
  Bytes mixed = Random(5000, 4);
  mixed.insert(mixed.begin() + 2000, 5000, 0xEE);
  mixed.resize(KitBlockSourceSize);
  cases.push_back(mixed);
  EXPECT_LT(Compress(text).size(), text.size() / 4);
  Bytes tooBig(KitBlockSourceSize + 1), out(tooBig.size() + 6);
  EXPECT_THROW(CompressBlock(tooBig.data(), out.data(), uint16_t(tooBig.size())),
               fw::EInvalidOperation);
  for (const Bytes& c : cases) {
    Bytes block = Compress(c);
    EXPECT_LE(block.size(), c.size() + 1);
    EXPECT_EQ(Expand(block), c) << "size " << c.size();
  }
}

TEST(KitCompressBlock, NoCopyFromPositionsAtOrAbove32768) {
  uint16_t table[KitHashTableEntries];
  std::fill(std::begin(table), std::end(table), 0xFFFF);
  Bytes src = Random(KitBlockSourceSize, 5);
  const uint8_t pat[5] = {'P', 'Q', 'R', 'S', 'T'};
  std::copy(pat, pat + 5, src.begin() + 100);
  std::copy(pat, pat + 5, src.begin() + 110);
  std::copy(pat, pat + 5, src.begin() + 32768);
  std::copy(pat, pat + 5, src.begin() + 32774);
  uint32_t mp = 0, ml = 0;
  EXPECT_FALSE(FindBlockMatch(src.data(), 100, KitBlockSourceSize, mp, ml, table));
  EXPECT_TRUE(FindBlockMatch(src.data(), 110, KitBlockSourceSize, mp, ml, table));
  EXPECT_EQ(mp, 100u);
  EXPECT_EQ(ml, 5u);
  EXPECT_FALSE(FindBlockMatch(src.data(), 32768, KitBlockSourceSize, mp, ml, table));
  EXPECT_FALSE(FindBlockMatch(src.data(), 32774, KitBlockSourceSize, mp, ml, table));

  // A full block ending in a repeating pattern from position 32768: every byte of
  // it stays a literal, and no copy anywhere reads from 32768 or above.
  Bytes rep(32768, 0);
  for (int i = 0; i < 13; ++i) rep.push_back(uint8_t("abc"[i % 3]));
  ASSERT_EQ(rep.size(), size_t(KitBlockSourceSize));
  Bytes block = Compress(rep);
  ASSERT_EQ(block[0], 64);
  size_t in = 3, out = 0, lateLiterals = 0;
  uint32_t ctrl = (block[1] << 8) | block[2], left = 16;
  while (in < block.size()) {
    if (left == 0) {
      ctrl = (block[in] << 8) | block[in + 1];
      in += 2;
      left = 16;
    }
    if (ctrl & 0x8000) {
      uint32_t dist = (block[in] << 4) | (block[in + 1] >> 4);
      if (dist == 0) {
        out += ((block[in + 1] << 8) | block[in + 2]) + 16;
        in += 4;
      } else {
        EXPECT_LT(out - dist, 32768u) << "copy at " << out;
        out += (block[in + 1] & 15) + 3;
        in += 2;
      }
    } else {
      if (out >= 32768) ++lateLiterals;
      ++out;
      ++in;
    }
    ctrl = (ctrl << 1) & 0xFFFF;
    --left;
  }
  EXPECT_EQ(out, rep.size());
  EXPECT_EQ(lateLiterals, 13u);
  EXPECT_EQ(Expand(block), rep);
}

TEST(KitCompressBlock, DamagedBlocksAreRejected) {
  const std::vector<Bytes> bad{
      {7, 0, 0, 1},                        // unknown method
      {64, 0x80},                          // no control word
      {64, 0x80, 0x00, 0x00},              // copy cut short
      {64, 0x80, 0x00, 0x00, 0x00, 0x05},  // run cut short
      {64, 0x80, 0x00, 0x00, 0x13},        // copy from before the start
      {64, 0x40, 0x00, 'a', 0x00, 0x2F},   // distance 2 with one byte written
  };
  for (const Bytes& b : bad) {
    Bytes out(KitBlockSourceSize);
    EXPECT_THROW(DecompressBlock(b.data(), out.data(), uint16_t(b.size())), fw::EReadError);
  }
  // Runs past the end of the block buffer.
  Bytes runs{64, 0xFF, 0xFF};
  for (int i = 0; i < 9; ++i) runs.insert(runs.end(), {0x00, 0x0F, 0xEF, 1});
  Bytes out(KitBlockSourceSize);
  EXPECT_THROW(DecompressBlock(runs.data(), out.data(), uint16_t(runs.size())), fw::EReadError);
  // A stored block longer than the buffer.
  Bytes big(KitBlockMaxLength + 1, 0);
  big[0] = 128;
  EXPECT_THROW(DecompressBlock(big.data(), out.data(), uint16_t(big.size())), fw::EReadError);
}

TEST(KitCompressedSection, LayoutAndRoundTrips) {
  EXPECT_EQ(SectionOf({}), (Bytes{0, 0, 0, 0}));
  EXPECT_TRUE(ReadSection({0, 0, 0, 0}).empty());

  Bytes small = SectionOf(Bytes(20, 'a'));
  EXPECT_EQ(small, (Bytes{11, 0, 0, 0, 7, 0, 0, 0, 64, 0x80, 0x00, 0x00, 0x00, 0x04, 'a'}));

  Bytes payload = Random(KitBlockSourceSize + 1, 6);
  Bytes section = SectionOf(payload);
  // Two stored blocks: 32782 and 2 bytes long.
  ASSERT_EQ(section.size(), 4u + 4 + 32782 + 4 + 2);
  EXPECT_EQ(Bytes(section.begin(), section.begin() + 8),
            (Bytes{0x18, 0x80, 0, 0, 0x0E, 0x80, 0, 0}));
  EXPECT_EQ(section[8 + 32782], 2);
  EXPECT_EQ(ReadSection(section), payload);

  Bytes large = Random(70000, 7);
  for (size_t i = 0; i < large.size(); i += 3) large[i] = 0;
  EXPECT_EQ(ReadSection(SectionOf(large)), large);

  // Appends to what the destination already holds and leaves the source after the section.
  fw::TMemoryStream src, dst;
  src.WriteBuffer(small.data(), int32_t(small.size()));
  src.WriteBuffer("rest", 4);
  src.SetPosition(0);
  dst.WriteBuffer("xy", 2);
  ReadCompressedSection(&src, &dst);
  EXPECT_EQ(dst.Data(), Text("xyaaaaaaaaaaaaaaaaaaaa"));
  EXPECT_EQ(src.Position(), int64_t(small.size()));

  // Writing appends at the stream position and the total is patched in place.
  fw::TMemoryStream out, in;
  out.WriteBuffer("HEAD", 4);
  in.WriteBuffer("aaaaaaaaaaaaaaaaaaaa", 20);
  in.SetPosition(0);
  WriteCompressedSection(&in, &out, 20);
  Bytes want = Text("HEAD");
  want.insert(want.end(), small.begin(), small.end());
  EXPECT_EQ(out.Data(), want);
  EXPECT_EQ(out.Position(), int64_t(want.size()));
}

TEST(KitCompressedSection, DamagedSectionsRaiseReadErrors) {
  const std::vector<Bytes> bad{
      {0xFF, 0xFF, 0xFF, 0xFF},                                   // negative total
      {8, 0, 0, 0, 0, 0, 0, 0},                                   // block length 0
      {0x10, 0x80, 0, 0, 0x0F, 0x80, 0, 0},                       // block longer than allowed
      {5, 0, 0, 0, 2, 0, 0, 0, 128, 1},                           // block beyond the total
      {9, 0, 0, 0, 5, 0, 0, 0, 128, 1},                           // stream ends early
      {7, 0, 0, 0, 3, 0, 0, 0, 64, 0x80},                         // damaged block
      {2, 0, 0},                                                  // total cut short
  };
  for (const Bytes& b : bad) EXPECT_THROW(ReadSection(b), fw::EReadError);

  // Random damage of a valid section: either a read error or some bytes, never more
  // than a block's worth per stored block.
  Bytes good = SectionOf(Random(3000, 8));
  std::mt19937 rng(9);
  for (int i = 0; i < 3000; ++i) {
    Bytes b = good;
    for (int k = 0; k < 3; ++k) b[rng() % b.size()] = uint8_t(rng());
    try {
      Bytes got = ReadSection(b);
      EXPECT_LE(got.size(), size_t(KitBlockSourceSize));
    } catch (const fw::EReadError&) {
    }
  }
}

namespace {

// A bitmap file made by hand with the given depth, compression, colour table
// (entries as 0x00RRGGBB, the file's byte order) and pixel data.
Bytes BitmapFile(int32_t w, int32_t h, uint16_t bpp, uint32_t compression,
                 const std::vector<uint32_t>& table, const Bytes& bits) {
  Bytes f;
  auto u32 = [&](uint32_t v) {
    for (int i = 0; i < 4; ++i) f.push_back(uint8_t(v >> (8 * i)));
  };
  auto u16 = [&](uint16_t v) {
    f.push_back(uint8_t(v));
    f.push_back(uint8_t(v >> 8));
  };
  uint32_t off = uint32_t(54 + 4 * table.size());
  f.push_back('B');
  f.push_back('M');
  u32(off + uint32_t(bits.size()));
  u32(0);
  u32(off);
  u32(40);
  u32(uint32_t(w));
  u32(uint32_t(h));
  u16(1);
  u16(bpp);
  u32(compression);
  u32(compression ? uint32_t(bits.size()) : 0);
  u32(0);
  u32(0);
  u32(uint32_t(table.size()));
  u32(0);
  for (uint32_t c : table) u32(c);
  f.insert(f.end(), bits.begin(), bits.end());
  return f;
}

}  // namespace

TEST(KitBitmapSection, RunLengthAndSixteenBitPayloadsLoadThroughTheBitmap) {
  // Compressed section: 8-bit runs, 3 x 2: green, green, blue over three red.
  const Bytes rle = {0x03, 0x01, 0x00, 0x00, 0x02, 0x02, 0x01, 0x03, 0x00, 0x01};
  const Bytes file = BitmapFile(3, 2, 8, 1, {0x000000, 0xFF0000, 0x00FF00, 0x0000FF}, rle);
  fw::TMemoryStream packed;
  Bytes section = SectionOf(file);
  packed.WriteBuffer(section.data(), int32_t(section.size()));
  packed.SetPosition(0);
  fw::TBitmap bitmap;
  ReadBitmapSection(&packed, &bitmap, true);
  ASSERT_EQ(bitmap.Width(), 3);
  ASSERT_EQ(bitmap.Height(), 2);
  EXPECT_EQ(bitmap.Canvas()->Pixels(0, 0), fw::clLime);
  EXPECT_EQ(bitmap.Canvas()->Pixels(1, 0), fw::clLime);
  EXPECT_EQ(bitmap.Canvas()->Pixels(2, 0), fw::clBlue);
  for (int x = 0; x < 3; ++x) EXPECT_EQ(bitmap.Canvas()->Pixels(x, 1), fw::clRed) << x;

  // Plain section: 16-bit pixels, 2 x 1, white and blue.
  const Bytes rgb16 = BitmapFile(2, 1, 16, 0, {}, {0xFF, 0x7F, 0x1F, 0x00});
  fw::TMemoryStream plain;
  int32_t n = int32_t(rgb16.size());
  plain.WriteBuffer(&n, 4);
  plain.WriteBuffer(rgb16.data(), n);
  plain.SetPosition(0);
  ReadBitmapSection(&plain, &bitmap, false);
  ASSERT_EQ(bitmap.Width(), 2);
  EXPECT_EQ(bitmap.Canvas()->Pixels(0, 0), fw::clWhite);
  EXPECT_EQ(bitmap.Canvas()->Pixels(1, 0), fw::clBlue);
}
