// msgserver-sim started as a process: its exit codes, what it says on bad input, and a clean
// stop on SIGINT and SIGTERM.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "support/temp_dir.h"

namespace {

using namespace std::chrono_literals;

class Sim {
 public:
  Sim(const std::filesystem::path& dir, std::vector<std::string> args) : log_(dir / "out.txt") {
    args.insert(args.begin(), AB_SIM_BINARY);
    pid_ = fork();
    if (pid_ == 0) {
      const int out = open(log_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int in = open("/dev/null", O_RDONLY);
      dup2(in, 0);
      dup2(out, 1);
      dup2(out, 2);
      std::vector<char*> argv;
      for (auto& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
  }
  ~Sim() {
    if (pid_ > 0 && !reaped_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  std::string Output() const {
    std::ifstream f(log_);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
  }
  bool WaitFor(const std::string& text, std::chrono::seconds limit) const {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (Output().find(text) == std::string::npos) {
      if (std::chrono::steady_clock::now() > end) return false;
      std::this_thread::sleep_for(20ms);
    }
    return true;
  }
  // The exit status, or -1 when the process did not end in time.
  int Wait(std::chrono::seconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        reaped_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      std::this_thread::sleep_for(10ms);
    }
    return -1;
  }
  void Signal(int sig) const { kill(pid_, sig); }

 private:
  std::filesystem::path log_;
  pid_t pid_ = -1;
  bool reaped_ = false;
};

TEST(SimBinaryTest, ExitCodesAndMessages) {
  ab::test::TempDir dir;
  std::ofstream(dir.path() / "bad.json") << "{\"objects\":[{\"id\":1,\"nmae\":\"x\"}]}";
  const struct {
    std::vector<std::string> Args;
    int Code;
    std::string Says;
  } cases[] = {
      {{"--help"}, 0, "Usage: msgserver-sim"},
      {{"--version"}, 0, "msgserver-sim 1."},
      {{"--port", "70000"}, 2, "msgserver-sim: --port needs a port number"},
      {{"--what"}, 2, "unknown option '--what'"},
      {{"--data", (dir.path() / "bad.json").string(), "--port", "0"},
       1,
       "bad data set: " + (dir.path() / "bad.json").string() +
           ": line 1, column 28: unknown member \"nmae\""},
      {{"--data", (dir.path() / "none.json").string()}, 1, "cannot open the data file"},
      {{"--bind", "192.0.2.1", "--port", "0"}, 1, "cannot listen on 192.0.2.1"},
  };
  for (const auto& c : cases) {
    Sim sim(dir.path(), c.Args);
    EXPECT_EQ(sim.Wait(20s), c.Code) << c.Args[0];
    EXPECT_NE(sim.Output().find(c.Says), std::string::npos) << c.Args[0] << ": " << sim.Output();
  }
}

TEST(SimBinaryTest, StopsCleanlyOnSigintAndSigterm) {
  for (const int sig : {SIGINT, SIGTERM}) {
    ab::test::TempDir dir;
    Sim sim(dir.path(), {"--port", "0", "--event-every", "0.2"});
    ASSERT_TRUE(sim.WaitFor(" queued: object ", 20s)) << sim.Output();
    // Without --data: the demo set built into the program, wherever it runs.
    EXPECT_NE(sim.Output().find("with the built-in demo data set: 36 objects"), std::string::npos)
        << sim.Output();
    sim.Signal(sig);
    EXPECT_EQ(sim.Wait(20s), 0) << sig;
    EXPECT_NE(sim.Output().find("msgserver-sim stopped"), std::string::npos) << sim.Output();
  }
}

}  // namespace
