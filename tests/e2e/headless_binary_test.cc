// alarm-bridge --headless started as a process in a fresh folder, against the message-server
// double on loopback: it registers, loads the four tables, prints their status lines in UTF-8,
// and on SIGTERM says goodbye to the server and exits 0.

#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "link/udp_socket.h"
#include "msgserver/msg_server.h"
#include "support/temp_dir.h"
#include "tables/table_file_writer.h"

namespace ab {
namespace {

using namespace std::chrono_literals;

TableData Table(const std::string& name, int rows) {
  TableData t;
  t.Name = name;
  t.RowCount = rows;
  FieldData n;
  n.Name = "n_abs";
  FieldData pd;
  pd.Name = "p_d";
  pd.Type = 3;
  for (int i = 1; i <= rows; ++i) {
    n.Numbers.push_back(i);
    pd.Numbers.push_back(0);
  }
  t.Fields = {n, pd};
  return t;
}

class Process {
 public:
  Process(const std::filesystem::path& dir, const std::vector<std::string>& args) {
    int fds[2];
    if (pipe(fds) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(fds[1], 1);
      close(fds[0]);
      close(fds[1]);
      if (chdir(dir.c_str()) != 0) _exit(127);
      std::vector<char*> argv;
      for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(fds[1]);
    out_ = fds[0];
  }
  ~Process() {
    if (pid_ > 0 && !reaped_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
  }

  // Reads stdout until done(text) holds or the limit passes.
  template <typename F>
  bool ReadUntil(F done, std::chrono::seconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done(text_)) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          end - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      pollfd p{out_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
      char buf[4096];
      const ssize_t n = read(out_, buf, sizeof buf);
      if (n <= 0) return done(text_);
      text_.append(buf, static_cast<size_t>(n));
    }
    return true;
  }

  // Sends the signal and waits for the exit status (-1 if it did not end in time).
  int Stop(int sig, std::chrono::seconds limit) {
    kill(pid_, sig);
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

  const std::string& Text() const { return text_; }
  bool Started() const { return pid_ > 0; }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  bool reaped_ = false;
  std::string text_;
};

size_t Occurrences(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(HeadlessBinaryTest, RegistersLoadsTablesAndSaysGoodbyeOnSigterm) {
  test::TempDir dir;
  auto socket = OpenUdpSocket("127.0.0.1", 0);
  ASSERT_NE(socket, nullptr);
  MsgServer server(std::move(socket), SystemClock::Instance());
  server.SetTables({Table("mesmaps", 2), Table("otvl", 3), Table("otvls", 4), Table("object", 5)},
                   /*compressed=*/true);
  server.Start();
  const int http_port = 20000 + static_cast<int>(getpid() % 20000);
  {
    std::ofstream ini(dir.path() / "setup.ini");
    ini << "[ServerHost]\nAddress=127.0.0.1\nPort=" << server.LocalEndpoint().Port
        << "\n[main]\nPort=" << http_port << "\n";
  }

  Process bridge(dir.path(), {AB_BINARY, "--headless"});
  ASSERT_TRUE(bridge.Started());
  const std::string connected = "Соединение установлено";
  const std::string loaded = "Загружена таблица";
  const bool ready = bridge.ReadUntil(
      [&](const std::string& t) {
        return t.find(connected) != std::string::npos && Occurrences(t, loaded) >= 4;
      },
      60s);
  EXPECT_TRUE(ready) << bridge.Text();
  // The tables come in the order they were registered.
  const size_t a = bridge.Text().find(loaded + " mesmaps");
  const size_t b = bridge.Text().find(loaded + " otvl ");
  const size_t c = bridge.Text().find(loaded + " otvls");
  const size_t d = bridge.Text().find(loaded + " object");
  EXPECT_TRUE(a < b && b < c && c < d) << bridge.Text();
  EXPECT_NE(bridge.Text().find(loaded + " object Размер-"), std::string::npos);

  EXPECT_EQ(bridge.Stop(SIGTERM, 20s), 0);
  for (int i = 0; i < 200 && server.CountOf("closeclient") == 0; ++i)
    std::this_thread::sleep_for(10ms);
  EXPECT_GE(server.CountOf("closeclient"), 1);
  server.Stop();
}

}  // namespace
}  // namespace ab
