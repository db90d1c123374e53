#include "frontends/console/console_progress.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace wavrel::host {
namespace {

using std::chrono::seconds;

class ProgressLineTest : public ::testing::Test {
 protected:
  void SetUp() override { m_stream = open_memstream(&m_buffer, &m_size); }
  void TearDown() override {
    std::fclose(m_stream);
    std::free(m_buffer);
  }
  std::string Written() {
    std::fflush(m_stream);
    return std::string(m_buffer, m_size);
  }
  ProgressLine Line(bool enabled, std::size_t columns = 80) {
    return ProgressLine(m_stream, enabled, columns, [this] { return m_time; });
  }

  std::FILE* m_stream = nullptr;
  char* m_buffer = nullptr;
  std::size_t m_size = 0;
  ProgressLine::Clock::time_point m_time{};
};

TEST_F(ProgressLineTest, RewritesOneLineInPlaceAndErasesIt) {
  ProgressLine line = Line(true);
  line.FileStarted("a.qcp", 0, 4);
  EXPECT_EQ(Written(), "\r[0/4] 0%  0:00 elapsed, --:-- left  a.qcp\033[K");
  m_time += seconds(10);
  line.FileFinished(0);
  line.FileStarted("b\n.qcp", 1, 4);
  EXPECT_EQ(Written().substr(Written().rfind('\r')),
            "\r[1/4] 25%  0:10 elapsed, 0:30 left  b\\n.qcp\033[K");
  const std::size_t before = Written().size();
  line.Tick();  // less than a second later: nothing new
  EXPECT_EQ(Written().size(), before);
  line.Erase();
  EXPECT_EQ(Written().substr(before), "\r\033[K");
  line.Erase();  // already off the screen
  m_time += seconds(5);
  line.Tick();  // stays off until someone redraws it: others may be printing
  EXPECT_EQ(Written().size(), before + 4);
}

TEST_F(ProgressLineTest, CountsFilesAsTheyFinishWhateverOrderTheyStart) {
  // Two jobs: the second file starts before the first has finished.
  ProgressLine line = Line(true);
  line.FileStarted("a.qcp", 0, 2);
  line.FileStarted("b.qcp", 1, 2);
  line.FileFinished(0);
  line.Redraw();
  EXPECT_EQ(Written().substr(Written().rfind('\r')),
            "\r[1/2] 50%  0:00 elapsed, 0:00 left  b.qcp\033[K");
  line.FileFinished(1);
  line.FileFinished(1);  // told twice, counted once
  line.Redraw();
  EXPECT_EQ(Written().substr(Written().rfind('\r')), "\r[2/2] 100%  0:00 elapsed, 0:00 left\033[K");
}

TEST_F(ProgressLineTest, DisabledWritesNothing) {
  ProgressLine line = Line(false);
  line.FileStarted("a.qcp", 0, 2);
  line.FileFinished(0);
  line.Redraw();
  line.Erase();
  EXPECT_EQ(Written(), "");
}

TEST(ProgressFormatTest, FitsTheTerminalWithoutWrapping) {
  EXPECT_EQ(ProgressLine::Format(3, 4, seconds(3725), "x", 80),
            "[3/4] 75%  1:02:05 elapsed, 20:41 left  x");
  const std::string cut = ProgressLine::Format(1, 2, seconds(5), std::string(100, 'n'), 50);
  EXPECT_EQ(cut.size(), 49u);
  EXPECT_EQ(cut.substr(cut.size() - 4), "n...");
  // Wide characters count twice and are never cut in half.
  const std::string wide = ProgressLine::Format(0, 1, seconds(0), "录音录音录音录音", 42);
  EXPECT_EQ(wide, "[0/1] 0%  0:00 elapsed, --:-- left  录...");
}

}  // namespace
}  // namespace wavrel::host
