// Log lines, the process-wide paths and the main-thread call queue.
#include "common/log_writer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

#include "common/app_paths.h"
#include "common/main_thread.h"
#include "temp_folder.h"

namespace volok {
namespace {

TEST(LogWriterTest, LineFormats) {
  std::tm when{};
  when.tm_year = 2026 - 1900;
  when.tm_mon = 0;
  when.tm_mday = 5;
  when.tm_hour = 7;
  when.tm_min = 8;
  when.tm_sec = 9;
  EXPECT_EQ(LogFileLine("Fatal x", when), "2026.01.05;07:08:09;Fatal x");
  EXPECT_EQ(LogViewLine("[Install] y", when), "2026.01.05 07:08:09 [Install] y");
}

TEST(LogWriterTest, NewFileGetsOneByteOrderMarkAndLinesAppend) {
  testing::TempFolder folder;
  std::string saved = LogFileName();
  SetLogFileName(folder.File("setup.log"));
  WriteLogLine("первая", nullptr, 0, 65001, true);
  WriteLogLine("second", nullptr, 0, 65001, true);
  WriteLogLine("not in file", nullptr, 0, 65001, false);
  SetLogFileName(folder.File("missing\\setup.log"));
  WriteLogLine("lost quietly", nullptr, 0, 65001, true);  // folder missing: no error
  SetLogFileName(saved);

  std::string bytes = testing::ReadNative(folder.Native("setup.log"));
  ASSERT_GE(bytes.size(), 3u);
  EXPECT_EQ(bytes.substr(0, 3), "\xEF\xBB\xBF");
  EXPECT_EQ(bytes.find("\xEF\xBB\xBF", 3), std::string::npos);
  size_t first = bytes.find("\r\n");
  ASSERT_NE(first, std::string::npos);
  EXPECT_EQ(bytes.substr(3 + 20, first - 23), "первая");
  EXPECT_EQ(bytes[3 + 4], '.');
  EXPECT_EQ(bytes[3 + 10], ';');
  EXPECT_EQ(bytes[3 + 19], ';');
  EXPECT_NE(bytes.find(";second\r\n"), std::string::npos);
  EXPECT_EQ(bytes.find("not in file"), std::string::npos);
}

struct RecordingView : TLogView {
  void AppendLine(const std::string& line, std::uint32_t color) override {
    Lines += line + "|" + std::to_string(color) + "\n";
  }
  std::string Lines;
};

TEST(LogWriterTest, ViewGetsColouredLine) {
  RecordingView view;
  WriteLogLine("text", &view, 0xFF0000, 65001, false);
  EXPECT_NE(view.Lines.find(" text|16711680\n"), std::string::npos);
}

TEST(AppPathsTest, DerivedNames) {
  EXPECT_EQ(ChangeFileExt("C:\\a.b\\setup.exe", ".xml"), "C:\\a.b\\setup.xml");
  EXPECT_EQ(ChangeFileExt("C:\\a.b\\setup", ".bat"), "C:\\a.b\\setup.bat");
  EXPECT_EQ(ExtractFilePath("C:\\x\\y.exe"), "C:\\x\\");
  EXPECT_EQ(ExtractFileName("C:\\x\\y.exe"), "y.exe");
  std::string saved = ExeFileName();
  SetExeFileName("Z:\\pkg\\setup.exe");
  EXPECT_EQ(ExeFolder(), "Z:\\pkg\\");
  EXPECT_EQ(LogFileName(), "Z:\\pkg\\setup.log");
  SetExeFileName(saved);
}

TEST(MainThreadQueueTest, WorkerCallsRunOnTheMainThreadInOrderAndRethrow) {
  MainThreadQueue& queue = MainThreadQueue::Instance();
  queue.BindToCurrentThread();
  std::thread::id main_id = std::this_thread::get_id();
  std::vector<int> order;
  std::atomic<bool> done{false};
  std::string caught;
  std::thread worker([&] {
    for (int i = 0; i < 3; ++i)
      queue.Call([&, i] {
        EXPECT_EQ(std::this_thread::get_id(), main_id);
        order.push_back(i);
      });
    try {
      queue.Call([] { throw std::runtime_error("from handler"); });
    } catch (const std::exception& e) {
      caught = e.what();
    }
    done = true;
    queue.Notify();
  });
  queue.ServeUntil([&] { return done.load(); });
  worker.join();
  EXPECT_EQ(order, (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(caught, "from handler");
  // On the main thread itself a call runs at once.
  int direct = 0;
  queue.Call([&] { direct = 1; });
  EXPECT_EQ(direct, 1);
}

}  // namespace
}  // namespace volok
