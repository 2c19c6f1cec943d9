// The common tests' own main: started with "--volok-child" the binary plays a
// child program for the process tests (as libuv's and LevelDB's tests do),
// otherwise it runs the tests.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "common/process_utils.h"
#include "platform/runtime.h"

namespace {

// "sleep": waits a minute, long enough to be ended by a test.
// "write <file> <delay ms> [args...]": after the delay writes its current
// folder and arguments, one per line, and exits with code 3.
// "end-self <file>": ends the processes of its own path, then writes.
int RunChild(int argc, char** argv) {
  std::string role = argc > 0 ? argv[0] : "";
  if (role == "sleep") {
    std::this_thread::sleep_for(std::chrono::seconds(60));
    return 0;
  }
  if (role == "write" && argc >= 3) {
    std::this_thread::sleep_for(std::chrono::milliseconds(std::stoi(argv[2])));
    std::ofstream out(std::filesystem::path(argv[1]), std::ios::binary);
    out << std::filesystem::current_path().string() << "\n";
    for (int i = 3; i < argc; ++i) out << argv[i] << "\n";
    return 3;
  }
  if (role == "end-self" && argc >= 2) {
    // Asked to end every process of its own file, it must survive to write.
    bool ended = volok::TerminateProcessesByPath(volok::platform::ExecutablePath(), 10000);
    std::ofstream out(std::filesystem::path(argv[1]), std::ios::binary);
    out << (ended ? "alive, others ended" : "alive, others left") << "\n";
    return 3;
  }
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::string(argv[1]) == "--volok-child") return RunChild(argc - 2, argv + 2);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
