#include "frontends/animation/gif_walker.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace wavrel {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Builds small GIFs block by block and remembers where each frame ends.
class GifBuilder {
 public:
  // tableBits < 0: no global colour table; else 3 * 2^(tableBits + 1) bytes.
  explicit GifBuilder(std::uint16_t width = 16, std::uint16_t height = 8, int tableBits = 1,
                      const char* version = "89a") {
    Append("GIF");
    Append(version);
    Word(width);
    Word(height);
    m_bytes.push_back(tableBits < 0 ? 0x00 : static_cast<std::uint8_t>(0x80 | tableBits));
    m_bytes.push_back(0);  // background colour index
    m_bytes.push_back(0);  // aspect ratio
    if (tableBits >= 0) Table(tableBits);
  }

  GifBuilder& Gce(std::uint16_t delay, std::uint8_t packed) {
    m_bytes.insert(m_bytes.end(), {0x21, 0xF9, 0x04, packed});
    Word(delay);
    m_bytes.insert(m_bytes.end(), {0x00, 0x00});  // transparent index, terminator
    return *this;
  }

  GifBuilder& Image(std::uint16_t left, std::uint16_t top, std::uint16_t width,
                    std::uint16_t height, int localBits = -1) {
    m_bytes.push_back(0x2C);
    Word(left);
    Word(top);
    Word(width);
    Word(height);
    m_bytes.push_back(localBits < 0 ? 0x00 : static_cast<std::uint8_t>(0x80 | localBits));
    if (localBits >= 0) Table(localBits);
    m_bytes.insert(m_bytes.end(), {0x02, 0x03, 0x44, 0x01, 0x05, 0x00});  // LZW data
    m_frameEnds.push_back(m_bytes.size());
    return *this;
  }

  GifBuilder& Comment(const std::string& text) {
    m_bytes.insert(m_bytes.end(), {0x21, 0xFE});
    SubBlocks(text);
    return *this;
  }

  GifBuilder& Application() {
    m_bytes.insert(m_bytes.end(), {0x21, 0xFF, 0x0B});
    Append("NETSCAPE2.0");
    m_bytes.insert(m_bytes.end(), {0x03, 0x01, 0x00, 0x00, 0x00});
    return *this;
  }

  GifBuilder& PlainText(const std::string& text) {
    m_bytes.insert(m_bytes.end(), {0x21, 0x01, 0x0C});
    for (std::uint16_t v : {2, 3, 40, 10}) Word(v);  // grid left, top, width, height
    m_bytes.insert(m_bytes.end(), {0x08, 0x08, 0x01, 0x00});
    SubBlocks(text);
    m_frameEnds.push_back(m_bytes.size());
    return *this;
  }

  GifBuilder& Trailer() {
    m_bytes.push_back(0x3B);
    return *this;
  }

  GifBuilder& Raw(const Bytes& bytes) {
    m_bytes.insert(m_bytes.end(), bytes.begin(), bytes.end());
    return *this;
  }

  std::size_t Size() const { return m_bytes.size(); }
  const Bytes& bytes() const { return m_bytes; }
  const std::vector<std::size_t>& frameEnds() const { return m_frameEnds; }

 private:
  void Append(const char* text) { m_bytes.insert(m_bytes.end(), text, text + std::strlen(text)); }
  void Word(std::uint16_t v) {
    m_bytes.push_back(static_cast<std::uint8_t>(v & 0xFF));
    m_bytes.push_back(static_cast<std::uint8_t>(v >> 8));
  }
  void Table(int bits) {
    const std::size_t size = std::size_t{3} << (bits + 1);
    for (std::size_t i = 0; i < size; ++i) m_bytes.push_back(static_cast<std::uint8_t>(i));
  }
  void SubBlocks(const std::string& text) {
    for (std::size_t at = 0; at < text.size(); at += 255) {
      const std::size_t n = std::min<std::size_t>(255, text.size() - at);
      m_bytes.push_back(static_cast<std::uint8_t>(n));
      m_bytes.insert(m_bytes.end(), text.begin() + at, text.begin() + at + n);
    }
    m_bytes.push_back(0);
  }

  Bytes m_bytes;
  std::vector<std::size_t> m_frameEnds;
};

Bytes Slice(const Bytes& bytes, std::size_t from, std::size_t to) {
  return Bytes(bytes.begin() + from, bytes.begin() + to);
}

// The stand-alone GIF expected for the frame in bytes [from, to).
Bytes FrameGif(const Bytes& file, std::size_t head, std::size_t from, std::size_t to) {
  Bytes gif = Slice(file, 0, head);
  const Bytes body = Slice(file, from, to);
  gif.insert(gif.end(), body.begin(), body.end());
  gif.push_back(0x3B);
  return gif;
}

std::vector<GifFrameData> AllFrames(GifBlockWalker& walker) {
  std::vector<GifFrameData> frames;
  walker.Rewind();
  while (auto frame = walker.NextFrameData()) frames.push_back(std::move(*frame));
  return frames;
}

TEST(GifWalkerTest, TellsGifsFromOtherDataAndReadsTheScreen) {
  for (const char* version : {"87a", "89a"}) {
    GifBuilder gif(320, 0x1234, 7, version);
    GifBlockWalker walker(gif.bytes());
    EXPECT_TRUE(walker.IsGif()) << version;
    EXPECT_TRUE(walker.HasScreen());
    EXPECT_EQ(walker.ScreenWidth(), 320u);
    EXPECT_EQ(walker.ScreenHeight(), 0x1234u);
    EXPECT_EQ(walker.GlobalTableSize(), 768u);
    EXPECT_EQ(walker.FirstBlockOffset(), 13u + 768u);
    EXPECT_EQ(walker.ReadOffset(), walker.FirstBlockOffset());
  }
  EXPECT_EQ(GifBlockWalker(GifBuilder(1, 1, 0).bytes()).GlobalTableSize(), 6u);
  EXPECT_EQ(GifBlockWalker(GifBuilder(1, 1, -1).bytes()).GlobalTableSize(), 0u);

  // Other versions, short data and other formats are not walked.
  for (const std::string text : {"GIF90a", "GIF8", "gif89a", "", "\xFF\xD8\xFF\xE0JFIF", "BM"}) {
    const Bytes bytes(text.begin(), text.end());
    GifBlockWalker walker(bytes);
    EXPECT_FALSE(walker.IsGif()) << text;
    EXPECT_EQ(walker.CountFrames(), 0u);
    EXPECT_FALSE(walker.NextFrameData());
  }
  // A GIF cut inside its screen descriptor or global colour table cannot be
  // loaded.
  const Bytes whole = GifBuilder(4, 4, 2).Gce(1, 0).Image(0, 0, 4, 4).Trailer().bytes();
  for (std::size_t n : {6, 12, 13, 13 + 23}) {
    GifBlockWalker walker(std::span(whole.data(), n));
    EXPECT_TRUE(walker.IsGif());
    EXPECT_FALSE(walker.HasScreen()) << n;
    EXPECT_EQ(walker.CountFrames(), 0u);
    EXPECT_FALSE(walker.NextFrameData());
  }
}

TEST(GifWalkerTest, KnowsEveryBlockKindAndLength) {
  GifBuilder gif(8, 8, -1);
  gif.Application().Comment("hi").Gce(5, 0).PlainText("abc").Image(0, 0, 8, 8, 1).Trailer();
  gif.Raw({0x21, 0x02, 0x00, 0x99});
  GifBlockWalker walker(gif.bytes());
  const std::pair<GifBlockKind, std::size_t> expected[] = {
      {GifBlockKind::kApplication, 19},    {GifBlockKind::kComment, 2 + 4},
      {GifBlockKind::kGraphicControl, 8},  {GifBlockKind::kPlainText, 15 + 5},
      {GifBlockKind::kImage, 11 + 12 + 5}, {GifBlockKind::kTrailer, 1}};
  for (const auto& [kind, length] : expected) {
    EXPECT_EQ(walker.BlockKindAt(), kind);
    EXPECT_EQ(walker.BlockLength(), length);
    ASSERT_TRUE(walker.SkipBlock());
  }
  // An extension of unknown label, then a byte of no block: neither passes.
  EXPECT_EQ(walker.BlockKindAt(), GifBlockKind::kUnrecognised);
  EXPECT_FALSE(walker.BlockLength());
  const std::size_t stuck = walker.ReadOffset();
  EXPECT_FALSE(walker.SkipBlock());
  EXPECT_EQ(walker.ReadOffset(), stuck);

  // Sub-block runs: sizes add up with their size bytes and the terminator;
  // a run that reaches the end has no length.
  const Bytes runs = {0x02, 0xAA, 0xBB, 0x00, 0x01, 0xCC, 0x05, 0x01};
  GifBlockWalker raw(runs);
  EXPECT_EQ(raw.SubBlocksLength(0), 4u);
  EXPECT_EQ(raw.SubBlocksLength(3), 1u);
  EXPECT_FALSE(raw.SubBlocksLength(4));
  EXPECT_FALSE(raw.SubBlocksLength(100));
}

TEST(GifWalkerTest, CutsFramesWithTheirDelaysAndDisposals) {
  // One frame: the cut-out frame is the file itself.
  GifBuilder one;
  one.Gce(7, 0x04).Image(0, 0, 16, 8).Trailer();
  GifBlockWalker single(one.bytes());
  EXPECT_EQ(single.CountFrames(), 1u);
  std::vector<GifFrameData> frames = AllFrames(single);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].gif, one.bytes());

  // Three frames; the last has no graphic control extension and a local
  // colour table.
  GifBuilder three(100, 50, 1);
  three.Application().Gce(10, 0x08).Image(1, 2, 30, 40);
  const std::size_t second = three.Size();
  three.Comment("between frames").Gce(20, 0x1C | 0x01).Image(5, 6, 7, 8);
  const std::size_t third = three.Size();
  three.Image(0x0102, 0x0304, 0x0506, 0x0708, 2).Trailer();
  GifBlockWalker walker(three.bytes());
  EXPECT_EQ(walker.CountFrames(), 3u);
  EXPECT_EQ(walker.ReadOffset(), walker.FirstBlockOffset());
  frames = AllFrames(walker);
  ASSERT_EQ(frames.size(), 3u);
  const std::size_t head = 13 + 12;
  const std::size_t firstStart = head + 19;  // after the application extension

  EXPECT_EQ(frames[0].delay, 10u);
  EXPECT_EQ(frames[0].disposal, 2u);
  EXPECT_EQ(frames[0].left, 1u);
  EXPECT_EQ(frames[0].top, 2u);
  EXPECT_EQ(frames[0].width, 30u);
  EXPECT_EQ(frames[0].height, 40u);
  EXPECT_EQ(frames[0].gif, FrameGif(three.bytes(), head, firstStart, second));

  EXPECT_EQ(frames[1].delay, 20u);
  EXPECT_EQ(frames[1].disposal, 7u);
  EXPECT_EQ(frames[1].gif, FrameGif(three.bytes(), head, second + 2 + 16, third));

  EXPECT_EQ(frames[2].delay, kGifNoDelay);
  EXPECT_EQ(frames[2].disposal, 0u);
  EXPECT_EQ(frames[2].left, 0x0102u);
  EXPECT_EQ(frames[2].top, 0x0304u);
  EXPECT_EQ(frames[2].width, 0x0506u);
  EXPECT_EQ(frames[2].height, 0x0708u);
  EXPECT_EQ(frames[2].gif, FrameGif(three.bytes(), head, third, three.Size() - 1));
  EXPECT_FALSE(walker.NextFrameData());  // at the trailer
  EXPECT_EQ(walker.BlockKindAt(), GifBlockKind::kTrailer);
}

TEST(GifWalkerTest, KeepsExtensionsBetweenControlAndImageInTheFrame) {
  GifBuilder gif(4, 4, -1);
  gif.Gce(3, 0x08);
  const std::size_t start = 13;
  gif.Comment("inside").Application().Gce(99, 0x0C).Image(0, 0, 4, 4);
  const std::size_t end = gif.Size();
  gif.Comment("after").Trailer();
  GifBlockWalker walker(gif.bytes());
  const std::vector<GifFrameData> frames = AllFrames(walker);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(frames[0].gif, FrameGif(gif.bytes(), 13, start, end));
  EXPECT_EQ(frames[0].delay, 3u);  // the first control extension holds
  EXPECT_EQ(frames[0].disposal, 2u);

  // A plain text frame takes its text grid as geometry.
  GifBuilder text(64, 64, -1);
  text.Gce(1, 0).PlainText("hello").Trailer();
  GifBlockWalker textWalker(text.bytes());
  const std::vector<GifFrameData> textFrames = AllFrames(textWalker);
  ASSERT_EQ(textFrames.size(), 1u);
  EXPECT_EQ(textFrames[0].left, 2u);
  EXPECT_EQ(textFrames[0].top, 3u);
  EXPECT_EQ(textFrames[0].width, 40u);
  EXPECT_EQ(textFrames[0].height, 10u);
}

TEST(GifWalkerTest, WalksDamagedGifsAsFarAsTheirBlocksGo) {
  // Without a trailer the frames before the end are still found.
  GifBuilder open;
  open.Gce(1, 0).Image(0, 0, 1, 1).Gce(2, 0).Image(0, 0, 1, 1);
  GifBlockWalker openWalker(open.bytes());
  EXPECT_EQ(openWalker.CountFrames(), 2u);
  EXPECT_EQ(AllFrames(openWalker).size(), 2u);

  // An unrecognised block stops the walk; so do a control extension followed
  // by the trailer and a sub-block size that runs past the end.
  GifBuilder junk;
  junk.Image(0, 0, 1, 1).Raw({0x00}).Image(0, 0, 1, 1).Trailer();
  EXPECT_EQ(GifBlockWalker(junk.bytes()).CountFrames(), 1u);
  GifBuilder lonely;
  lonely.Image(0, 0, 1, 1).Gce(1, 0).Trailer();
  GifBlockWalker lonelyWalker(lonely.bytes());
  EXPECT_EQ(lonelyWalker.CountFrames(), 1u);
  ASSERT_TRUE(lonelyWalker.NextFrameData());
  const std::size_t at = lonelyWalker.ReadOffset();
  EXPECT_FALSE(lonelyWalker.NextFrameData());
  EXPECT_EQ(lonelyWalker.ReadOffset(), at);  // a failed call does not move
  GifBuilder ended;
  ended.Image(0, 0, 1, 1).Gce(1, 0).Trailer().Image(0, 0, 1, 1);
  EXPECT_EQ(GifBlockWalker(ended.bytes()).CountFrames(), 1u);
  GifBuilder overrun;
  overrun.Image(0, 0, 1, 1).Comment("x").Raw({0x21, 0xFE, 0xF0, 0x01});
  EXPECT_EQ(GifBlockWalker(overrun.bytes()).CountFrames(), 1u);

  // Every prefix of a three-frame GIF: exactly the frames that end inside it,
  // and never a read past its end (each prefix is its own allocation, so the
  // address sanitizer sees any overrun).
  GifBuilder full(10, 10, 0);
  full.Application().Gce(10, 0x08).Image(0, 0, 10, 10).Comment("c");
  full.Gce(20, 0x04).Image(1, 1, 5, 5, 0).Image(2, 2, 3, 3).Trailer();
  ASSERT_EQ(full.frameEnds().size(), 3u);
  for (std::size_t n = 0; n <= full.Size(); ++n) {
    auto copy = std::make_unique<std::uint8_t[]>(n == 0 ? 1 : n);
    std::memcpy(copy.get(), full.bytes().data(), n);
    GifBlockWalker walker(std::span<const std::uint8_t>(copy.get(), n));
    std::size_t expected = 0;
    for (std::size_t end : full.frameEnds()) expected += end <= n ? 1 : 0;
    EXPECT_EQ(walker.CountFrames(), expected) << "prefix " << n;
    const std::vector<GifFrameData> frames = AllFrames(walker);
    EXPECT_EQ(frames.size(), expected) << "prefix " << n;
    for (const GifFrameData& frame : frames) EXPECT_EQ(frame.gif.back(), 0x3B);
  }
}

TEST(GifWalkerTest, SurvivesRandomBlocks) {
  std::mt19937 random(8122026);
  for (int round = 0; round < 3000; ++round) {
    Bytes bytes = GifBuilder(8, 8, static_cast<int>(random() % 9) - 1).bytes();
    const std::size_t extra = random() % 300;
    for (std::size_t i = 0; i < extra; ++i) {
      // Mostly block bytes, so that walks get somewhere.
      static constexpr std::uint8_t kLikely[] = {0x21, 0xF9, 0xFE, 0xFF, 0x01, 0x2C,
                                                 0x3B, 0x00, 0x01, 0x02, 0x87};
      bytes.push_back(random() % 2 ? kLikely[random() % sizeof(kLikely)]
                                   : static_cast<std::uint8_t>(random()));
    }
    auto copy = std::make_unique<std::uint8_t[]>(bytes.size());
    std::memcpy(copy.get(), bytes.data(), bytes.size());
    GifBlockWalker walker(std::span<const std::uint8_t>(copy.get(), bytes.size()));
    const std::size_t count = walker.CountFrames();
    const std::vector<GifFrameData> frames = AllFrames(walker);
    EXPECT_EQ(frames.size(), count);
    for (const GifFrameData& frame : frames) {
      EXPECT_LE(frame.gif.size(), walker.FirstBlockOffset() + bytes.size() + 1);
    }
  }
}

Bytes ReadResource(const char* name) {
  std::ifstream file(std::string(WAVREL_RESOURCES_DIR) + "/" + name, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// The dialog's pictures: process.gif must animate over the whole strip,
// static.gif is one still frame.
TEST(GifWalkerTest, WalksTheShippedPictures) {
  const Bytes process = ReadResource("process.gif");
  GifBlockWalker walker(process);
  ASSERT_TRUE(walker.HasScreen());
  EXPECT_GE(walker.CountFrames(), 2u);
  const std::vector<GifFrameData> frames = AllFrames(walker);
  EXPECT_EQ(frames.size(), walker.CountFrames());
  for (const GifFrameData& frame : frames) {
    EXPECT_EQ(frame.width, walker.ScreenWidth());
    EXPECT_EQ(frame.height, walker.ScreenHeight());
    EXPECT_GT(frame.delay, 0u);
    EXPECT_NE(frame.delay, kGifNoDelay);
  }
  const Bytes still = ReadResource("static.gif");
  GifBlockWalker stillWalker(still);
  ASSERT_TRUE(stillWalker.IsGif());
  EXPECT_EQ(stillWalker.CountFrames(), 1u);
}

}  // namespace
}  // namespace wavrel
