// qcelp_13k and its decoder: packet framing, one frame per packet, the loss
// record, and the decoded samples against FFmpeg's own decode of the file.
#include "programs/decoders/qcelp_decoder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdarg>
#include <cstring>
#include <filesystem>
#include <random>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/log.h>
}

#include "testing/child_process.h"
#include "testing/files.h"

namespace qcelp {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

void PutLe(Bytes& b, std::uint32_t v, int n) {
  for (int i = 0; i < n; ++i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

void PutChunk(Bytes& file, const char* id, const Bytes& payload) {
  file.insert(file.end(), id, id + 4);
  PutLe(file, static_cast<std::uint32_t>(payload.size()), 4);
  file.insert(file.end(), payload.begin(), payload.end());
  if (payload.size() % 2 == 1) file.push_back(0);
}

/// A QCELP-13K QCP file as phones write it: fmt (150 bytes), vrat, an
/// optional labl chunk, the data chunk, an optional text chunk.
Bytes QcelpFile(const std::vector<Bytes>& packets, const std::string& label = "",
                const std::string& text = "") {
  Bytes fmt = {1, 0};
  fmt.insert(fmt.end(), qcp::kQcelp13kGuid1.begin(), qcp::kQcelp13kGuid1.end());
  PutLe(fmt, 2, 2);
  const std::string name = "Qcelp 13K";
  fmt.insert(fmt.end(), name.begin(), name.end());
  fmt.resize(fmt.size() + 80 - name.size(), 0);
  for (std::uint32_t v : {14000u, 34u, 160u, 8000u, 16u}) PutLe(fmt, v, 2);
  PutLe(fmt, 5, 4);
  for (std::uint8_t octet = 4; octet >= 1; --octet) {
    fmt.push_back(static_cast<std::uint8_t>(DataBytesForRate(octet)));
    fmt.push_back(octet);
  }
  fmt.resize(150, 0);
  Bytes data;
  for (const Bytes& p : packets) data.insert(data.end(), p.begin(), p.end());
  Bytes vrat;
  PutLe(vrat, 1, 4);
  PutLe(vrat, static_cast<std::uint32_t>(packets.size()), 4);

  Bytes body = {'Q', 'L', 'C', 'M'};
  PutChunk(body, "fmt ", fmt);
  PutChunk(body, "vrat", vrat);
  if (!label.empty()) PutChunk(body, "labl", Bytes(label.begin(), label.end()));
  PutChunk(body, "data", data);
  if (!text.empty()) PutChunk(body, "text", Bytes(text.begin(), text.end()));
  Bytes file = {'R', 'I', 'F', 'F'};
  PutLe(file, static_cast<std::uint32_t>(body.size()), 4);
  file.insert(file.end(), body.begin(), body.end());
  return file;
}

int g_library_concealed = 0;
void CountConcealed(void*, int, const char* format, va_list) {
  if (std::strstr(format, "IFQ") != nullptr) ++g_library_concealed;  // "insufficient frame quality"
}

/// `count` packets of random rates whose random data the library decodes as
/// speech: most random bits break a rule of the codec (reserved bits, gain
/// and line spectral checks) and would only exercise its concealment, so
/// each candidate is tried alone in a fresh decoder first.
std::vector<Bytes> SpeechPackets(std::size_t count, unsigned seed) {
  av_log_set_callback(CountConcealed);
  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_QCELP);
  AVPacket* packet = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  std::mt19937 rng(seed);
  std::vector<Bytes> packets;
  while (packets.size() < count) {
    Bytes p(1, static_cast<std::uint8_t>(1 + rng() % 4));
    p.resize(1 + DataBytesForRate(p[0]));
    for (std::size_t i = 1; i < p.size(); ++i) p[i] = static_cast<std::uint8_t>(rng());
    AVCodecContext* context = avcodec_alloc_context3(codec);
    context->sample_rate = 8000;
    av_channel_layout_default(&context->ch_layout, 1);
    const int before = g_library_concealed;
    if (avcodec_open2(context, codec, nullptr) == 0 &&
        av_new_packet(packet, static_cast<int>(p.size())) == 0) {
      std::memcpy(packet->data, p.data(), p.size());
      if (avcodec_send_packet(context, packet) == 0 && avcodec_receive_frame(context, frame) == 0 &&
          g_library_concealed == before) {
        packets.push_back(p);
      }
    }
    av_packet_unref(packet);
    av_frame_unref(frame);
    avcodec_free_context(&context);
  }
  av_frame_free(&frame);
  av_packet_free(&packet);
  av_log_set_callback(av_log_default_callback);
  return packets;
}

class RecordingLoss final : public vocrate::LossSink {
 public:
  void Lost(std::uint32_t position) override { positions.push_back(position); }
  void Summary(std::uint32_t f, std::uint32_t l) override { frames = f, lost = l; }
  std::vector<std::uint32_t> positions;
  std::uint32_t frames = 0, lost = 0;
};

TEST(QcelpDecodeTest, OnePacketOneFrameAndEveryLossReported) {
  const Packet speech = NextPacket(Bytes(40, 4).data(), 40);
  EXPECT_EQ(speech.size, 35u);
  EXPECT_EQ(NextPacket(Bytes{3, 0, 0}.data(), 3).kind, PacketKind::kCutShort);
  EXPECT_EQ(NextPacket(Bytes{3, 0, 0}.data(), 3).size, 3u);

  // Speech, blank, erasure, an octet of no rate, the codec's own erasure mark
  // (eighth rate, FF FF), and a last packet cut short; a text chunk after
  // the odd data chunk's pad byte is not read as packets.
  std::vector<Bytes> packets = SpeechPackets(2, 1);
  packets.insert(packets.begin() + 1, {{0}, {14}, {5}, {1, 0xFF, 0xFF, 0x00}});
  std::size_t bytes = 0;
  for (const Bytes& p : packets) bytes += p.size();
  packets.push_back(bytes % 2 == 0 ? Bytes{4, 1, 2} : Bytes{4, 1, 2, 3});  // an odd data chunk
  const Bytes file = QcelpFile(packets, "", "a note");
  std::FILE* in = std::tmpfile();
  std::FILE* out = std::tmpfile();
  std::fwrite(file.data(), 1, file.size(), in);
  PacketRange range;
  std::string err;
  ASSERT_TRUE(LocatePackets(in, &range, &err)) << err;
  QcelpDecoder decoder;
  ASSERT_TRUE(decoder.Open(&err)) << err;
  RecordingLoss loss;
  DecodeStats stats;
  ASSERT_TRUE(decoder.DecodePackets(in, range, out, loss, &stats, &err)) << err;
  EXPECT_EQ(std::ftell(out), 7 * static_cast<long>(kPcmBytesPerFrame));
  EXPECT_EQ(loss.positions, (std::vector<std::uint32_t>{1, 2, 3, 4, 6}));
  EXPECT_EQ(loss.frames, 7u);
  EXPECT_EQ(loss.lost, 5u);
  EXPECT_EQ(stats.blank + stats.erasures + stats.unknown + stats.cutShort, 5u);
  EXPECT_EQ(stats.erasures, 2u);
  std::fclose(in);
  std::fclose(out);
}

class Qcelp13kTest : public testing::Test {
 protected:
  std::string Path(const std::string& name) const { return (m_dir / name).string(); }

  /// Runs qcelp_13k in the test's folder; keeps both outputs and the peak memory.
  int Run(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {QCELP_13K_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    wavrel::testing::ChildOptions options;
    options.workingFolder = m_dir.string();
    options.timeout = std::chrono::seconds(120);
    const wavrel::testing::ChildResult result = wavrel::testing::RunChild(argv, options);
    m_stderr = result.err;
    m_stdout = result.out;
    m_maxRssKb = result.maxRssKb;
    return result.exitCode;
  }

  /// FFmpeg's decode of a file as headerless 16-bit PCM; false when there
  /// is no ffmpeg to ask.
  bool Ffmpeg(const std::string& qcp, Bytes* pcm) {
    wavrel::testing::ChildOptions options;
    options.outputFile = Path("ffmpeg.pcm");
    const auto result = wavrel::testing::RunChild(
        {"ffmpeg", "-v", "error", "-i", qcp, "-f", "s16le", "-"}, options);
    if (result.exitCode == 127) return false;
    EXPECT_EQ(result.exitCode, 0) << result.err;
    *pcm = Read("ffmpeg.pcm");
    return true;
  }

  void Write(const std::string& name, const Bytes& bytes) {
    wavrel::testing::WriteFile(
        Path(name), std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  }
  Bytes Read(const std::string& name) {
    const std::string s = wavrel::testing::Slurp(Path(name));
    return Bytes(s.begin(), s.end());
  }
  static Bytes Frame(const Bytes& pcm, std::size_t k) {
    return Bytes(pcm.begin() + static_cast<long>(k * kPcmBytesPerFrame),
                 pcm.begin() + static_cast<long>((k + 1) * kPcmBytesPerFrame));
  }

  wavrel::testing::TempFolder m_folder{"qcelp13k"};
  const fs::path m_dir = m_folder.Path();
  std::string m_stderr, m_stdout;
  long m_maxRssKb = 0;
};

TEST_F(Qcelp13kTest, SamplesEqualFfmpegsForARecordingWithoutErasures) {
  const std::vector<Bytes> packets = SpeechPackets(400, 7);
  Write("plain.qcp", QcelpFile(packets));
  Write("tagged.qcp", QcelpFile(packets, "Meeting 2009-03-01", "Voice memo"));
  Bytes reference;
  if (!Ffmpeg(Path("plain.qcp"), &reference)) GTEST_SKIP() << "ffmpeg is not installed";
  ASSERT_EQ(reference.size(), 400 * kPcmBytesPerFrame);
  for (const char* name : {"plain.qcp", "tagged.qcp"}) {
    ASSERT_EQ(Run({"-i", name, "-o", "out.pcm", "-d"}), 0) << m_stderr;
    EXPECT_EQ(m_stderr, "");
    EXPECT_TRUE(Read("out.pcm") == reference) << name << " differs from FFmpeg's decode";
  }
  const std::string summary =
      "\r\n TOTAL FRAMES = 400, TOTAL LOSS PACKAGE = 0, loss rate = 0.000000 \r\n\r\n ";
  EXPECT_EQ(wavrel::testing::Slurp(Path("loss_stat.txt")),
            "FILE : plain.qcp is opened. LOSS PACKAGE POS:\r\n " + summary +
                "FILE : tagged.qcp is opened. LOSS PACKAGE POS:\r\n " + summary);
}

TEST_F(Qcelp13kTest, LostFramesKeepTheirTimeWhereFfmpegDropsThem) {
  // An erasure at 100, a blank packet at 200, a stray octet before 300.
  std::vector<Bytes> packets = SpeechPackets(400, 9);
  packets[100] = {kRateErasure};
  packets[200] = {kRateBlank};
  packets.insert(packets.begin() + 300, Bytes{5});
  Write("lossy.qcp", QcelpFile(packets));
  Bytes reference;
  if (!Ffmpeg(Path("lossy.qcp"), &reference)) GTEST_SKIP() << "ffmpeg is not installed";
  ASSERT_EQ(Run({"-i", "lossy.qcp", "-o", "out.pcm", "-d", "-v"}), 0) << m_stderr;
  const Bytes ours = Read("out.pcm");
  ASSERT_EQ(ours.size(), 401 * kPcmBytesPerFrame);
  ASSERT_EQ(reference.size(), 398 * kPcmBytesPerFrame);  // FFmpeg drops all three
  EXPECT_NE(wavrel::testing::Slurp(Path("loss_stat.txt")).find("POS:\r\n 100, 200, 300, \r\n"),
            std::string::npos);
  EXPECT_NE(m_stderr.find("3 lost and concealed"), std::string::npos) << m_stderr;
  // Before the first loss the frames are FFmpeg's. After each, the decoder
  // conceals in step with the recording's time and is back on FFmpeg's
  // samples once the concealment has died away (here within 35 frames; one
  // second is allowed), so the speech after it is where it was spoken.
  std::size_t in_step = 0;
  for (std::size_t k = 0, f = 0; k < 401; ++k) {
    if (k == 100 || k == 200 || k == 300) continue;
    const bool settled = k < 100 || k % 100 >= 50;
    if (settled) {
      EXPECT_EQ(Frame(ours, k), Frame(reference, f)) << k;
      ++in_step;
    }
    ++f;
  }
  EXPECT_EQ(in_step, 100u + 3 * 50u);
}

TEST_F(Qcelp13kTest, RefusesWhatItCannotDecodeBeforeWritingAnything) {
  Bytes evrc = QcelpFile(SpeechPackets(3, 2));
  std::copy(qcp::kEvrcCodecGuid.begin(), qcp::kEvrcCodecGuid.end(),
            evrc.begin() + qcp::kCodecGuidOffset);
  Write("evrc.qcp", evrc);
  Write("notes.txt", Bytes(300, 'x'));
  Write("out.pcm", {1, 2, 3});
  const std::vector<std::pair<std::vector<std::string>, std::string>> failing = {
      {{"-i", "evrc.qcp", "-o", "out.pcm", "-d"}, "holds EVRC speech, not QCELP-13K"},
      {{"-i", "notes.txt", "-o", "out.pcm", "-d"}, "not a QCP file"},
      {{"-i", "missing.qcp", "-o", "out.pcm", "-d"}, "cannot open the input"},
      {{"-i", ".", "-o", "out.pcm", "-d"}, "not a file"},
  };
  for (const auto& [args, reason] : failing) {
    EXPECT_EQ(Run(args), 1);
    EXPECT_NE(m_stderr.find(reason), std::string::npos) << m_stderr;
    EXPECT_EQ(m_stderr.find('\n'), m_stderr.size() - 1) << "one line: " << m_stderr;
  }
  EXPECT_EQ(Read("out.pcm"), (Bytes{1, 2, 3}));
  EXPECT_FALSE(fs::exists(Path("loss_stat.txt")));
  EXPECT_EQ(Run({"-i", "evrc.qcp", "-o", "out.pcm", "-d", "-p", "1"}), 2);  // no postfilter here

  // loss_stat.txt cannot be opened: the output is not touched either.
  Write("qcelp.qcp", QcelpFile(SpeechPackets(3, 3)));
  fs::create_directory(Path("loss_stat.txt"));
  EXPECT_EQ(Run({"-i", "qcelp.qcp", "-o", "out.pcm", "-d"}), 1);
  EXPECT_NE(m_stderr.find("loss_stat.txt"), std::string::npos) << m_stderr;
  EXPECT_EQ(Read("out.pcm"), (Bytes{1, 2, 3}));
  fs::remove(Path("loss_stat.txt"));
  EXPECT_EQ(Run({"-i", "qcelp.qcp", "-o", "/dev/full", "-d"}), 1);
  EXPECT_NE(m_stderr.find("cannot write the output"), std::string::npos) << m_stderr;

  EXPECT_EQ(Run({"--version"}), 0);
  EXPECT_NE(m_stdout.find("\nlibavcodec "), std::string::npos) << m_stdout;
}

TEST_F(Qcelp13kTest, ALongRecordingKeepsMemoryFlat) {
  // The same packets over and over; the output goes to /dev/null. A reader
  // that kept the input or a writer that kept the output would grow by
  // megabytes.
#ifdef __SANITIZE_ADDRESS__
  GTEST_SKIP() << "AddressSanitizer keeps freed memory in quarantine: no flat memory to see";
#endif
  constexpr std::size_t kRepeats = 500;
  const std::vector<Bytes> some = SpeechPackets(400, 5);
  std::vector<Bytes> many;
  for (std::size_t i = 0; i < kRepeats; ++i) many.insert(many.end(), some.begin(), some.end());
  Write("short.qcp", QcelpFile(some));
  Write("long.qcp", QcelpFile(many));
  ASSERT_EQ(Run({"-i", "short.qcp", "-o", "/dev/null", "-d"}), 0) << m_stderr;
  const long baseline = m_maxRssKb;
  ASSERT_EQ(Run({"-i", "long.qcp", "-o", "/dev/null", "-d"}), 0) << m_stderr;
  EXPECT_LT(m_maxRssKb - baseline, 1024)
      << "input " << fs::file_size(Path("long.qcp")) / 1024 << " KiB, output "
      << 400 * kRepeats * 320 / 1024 << " KiB";
}

}  // namespace
}  // namespace qcelp
