// Score servers for the online tests: a scripted one inside the test that
// records the exact request bytes, and the real test server (server/
// testserver.py) started on a free port.
#pragma once
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "media/stream.h"
#include "scores/online.h"
#include "tests/support/paths.h"

extern char** environ;

// Answers each connection with reply(n, request), n counted from 0.
class ScriptedServer {
 public:
  using Reply = std::function<std::string(int, const std::string&)>;
  explicit ScriptedServer(Reply reply) : reply_(std::move(reply)) {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    listen(listener_, 16);
    socklen_t len = sizeof addr;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len);
    port = ntohs(addr.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }
  ~ScriptedServer() {
    stop_ = true;
    thread_.join();
    close(listener_);
  }
  Text Host() const { return AsciiText("127.0.0.1:" + std::to_string(port)); }
  std::vector<std::string> Requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }

  int port = 0;

 private:
  // A GET ends with its lone-LF line; a POST with its declared length.
  static bool Complete(const std::string& r) {
    if (r.rfind("GET ", 0) == 0) return r.find("\r\n\n\r\n") != std::string::npos;
    size_t head = r.find("\r\n\r\n");
    if (head == std::string::npos) return false;
    size_t at = r.find("Content-Length: ");
    if (at == std::string::npos) return true;
    return r.size() >= head + 4 + std::strtoul(r.c_str() + at + 16, nullptr, 10);
  }
  void Serve() {
    for (int n = 0; !stop_;) {
      pollfd p{listener_, POLLIN, 0};
      if (poll(&p, 1, 50) <= 0) continue;
      int c = accept(listener_, nullptr, nullptr);
      if (c < 0) continue;
      std::string request;
      char buf[4096];
      while (!Complete(request)) {
        pollfd q{c, POLLIN, 0};
        if (poll(&q, 1, 3000) <= 0) break;
        ssize_t got = recv(c, buf, sizeof buf, 0);
        if (got <= 0) break;
        request.append(buf, static_cast<size_t>(got));
      }
      {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(request);
      }
      std::string reply = reply_(n++, request);
      send(c, reply.data(), reply.size(), MSG_NOSIGNAL);
      shutdown(c, SHUT_WR);
      // Wait for the game to close its end before letting go of ours.
      pollfd q{c, POLLIN, 0};
      while (poll(&q, 1, 2000) > 0 && recv(c, buf, sizeof buf, 0) > 0) {
      }
      close(c);
    }
  }

  Reply reply_;
  int listener_ = -1;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  std::mutex mutex_;
  std::vector<std::string> requests_;
};

inline std::string HttpReply(const std::string& body) {
  return "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nConnection: close\r\n\r\n" + body;
}

// server/testserver.py on a free port with a throw-away board.
class TestScoreServer {
 public:
  explicit TestScoreServer(const std::string& mode = "normal",
                           const std::vector<std::string>& more = {}) {
    int out[2];
    if (pipe(out) != 0) return;
    std::string script = SourceDir() + "/server/testserver.py";
    std::vector<std::string> args = {"/usr/bin/python3", script, "--quiet", "--mode", mode};
    args.insert(args.end(), more.begin(), more.end());
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(out[1]);
    // The first line is "PORT <n>" once the server listens.
    std::string line;
    char c;
    while (line.size() < 64 && read(out[0], &c, 1) == 1 && c != '\n') line += c;
    out_ = out[0];
    if (line.rfind("PORT ", 0) == 0) port = std::atoi(line.c_str() + 5);
  }
  ~TestScoreServer() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
  }
  // The next line the server prints after its port ("VERIFIED" or "REFUSED"
  // once a replay's verdict is written); what came of it after `seconds`.
  std::string NextLine(int seconds) {
    std::string line;
    char c;
    pollfd p{out_, POLLIN, 0};
    while (out_ >= 0 && poll(&p, 1, seconds * 1000) > 0 && read(out_, &c, 1) == 1 && c != '\n')
      line += c;
    return line;
  }
  Text Host() const { return AsciiText("127.0.0.1:" + std::to_string(port)); }

  int port = 0;

 private:
  pid_t pid_ = -1;
  int out_ = -1;  // the server's standard output
};

// A local port on which nothing listens.
inline int DeadPort() {
  int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t len = sizeof addr;
  getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len);
  close(s);
  return ntohs(addr.sin_port);
}
