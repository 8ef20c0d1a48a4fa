// qxvolumed's MQTT bridge against its UDP path in the same run, beside a private sound server
// (re-runs itself under scripts/with-pulse) and a private mosquitto broker on 127.0.0.1:
//   - a command: volume/set N published by a libmosquitto client, and the datagram AT+SETVOL=N,
//     each until an independent libpulse client sees N; the baseline is that client's own set;
//   - an outside change (the libpulse client's set): until PREFIX/volume N reaches the MQTT
//     client, and until the UDP peer's AT+GETVOL is answered VOL=N; the baseline is the libpulse
//     client's own change event.
// Median and p99 in microseconds, and their ratios.
#include <fcntl.h>
#include <mosquitto.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <thread>

#include "DaemonBench.h"

namespace {

constexpr int kRounds = 100;
const char* const kPrefix = "bench/qxvolumed";

// Targets that differ from the last 80 rounds' (over a second): the daemon holds back a state it
// reported in the last second, a replay of a burst rather than a change.
int Target(int i) {
  return 10 + (i * 7) % 80;
}

pid_t Spawn(const std::vector<std::string>& args, int outFd) {
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(outFd, 1);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 2);
    if (outFd == 1) dup2(null, 1);  // nothing to capture
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

void Stop(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
}

// The MQTT side of the remote: a libmosquitto client that keeps the last volume published.
class TMqttWatcher {
 public:
  bool Start(int port) {
    mosquitto_lib_init();
    FM = mosquitto_new(nullptr, true, this);
    mosquitto_message_callback_set(FM, [](mosquitto*, void* self, const mosquitto_message* m) {
      auto* w = static_cast<TMqttWatcher*>(self);
      std::lock_guard<std::mutex> lock(w->FLock);
      w->FValue = std::atoi(
          std::string(static_cast<const char*>(m->payload), static_cast<size_t>(m->payloadlen))
              .c_str());
      w->FSeen = Clock::now();
      w->FChanged.notify_all();
    });
    if (mosquitto_connect(FM, "127.0.0.1", port, 30) != MOSQ_ERR_SUCCESS) return false;
    mosquitto_subscribe(FM, nullptr, (std::string(kPrefix) + "/volume").c_str(), 0);
    mosquitto_int_option(FM, MOSQ_OPT_TCP_NODELAY, 1);
    return mosquitto_loop_start(FM) == MOSQ_ERR_SUCCESS;
  }
  ~TMqttWatcher() {
    if (FM == nullptr) return;
    mosquitto_disconnect(FM);
    mosquitto_loop_stop(FM, false);
    mosquitto_destroy(FM);
  }
  void Set(int percent) {
    const std::string v = std::to_string(percent);
    mosquitto_publish(FM, nullptr, (std::string(kPrefix) + "/volume/set").c_str(),
                      static_cast<int>(v.size()), v.data(), 0, false);
  }
  bool WaitFor(int percent, Clock::time_point& seen, std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(FLock);
    const bool ok = FChanged.wait_for(lock, limit, [&] { return FValue == percent; });
    seen = FSeen;
    return ok;
  }

 private:
  mosquitto* FM = nullptr;
  std::mutex FLock;
  std::condition_variable FChanged;
  int FValue = -1;
  Clock::time_point FSeen;
};

// The UDP peer asking AT+GETVOL until the answer is VOL=N; the time of that answer.
bool PollUdp(TPeer& peer, int percent, Clock::time_point& seen) {
  const std::string want = "VOL=" + std::to_string(percent);
  const auto end = Clock::now() + std::chrono::seconds(10);
  char buf[256];
  while (Clock::now() < end) {
    peer.Send("AT+GETVOL");
    pollfd p{peer.Fd, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    const ssize_t n = recv(peer.Fd, buf, sizeof buf, 0);
    if (n > 0 && std::string(buf, static_cast<size_t>(n)).rfind(want, 0) == 0) {
      seen = Clock::now();
      return true;
    }
  }
  return false;
}

// Times `rounds` changes: set(target) at t0, seen(target, t1) when it shows.
bool Measure(const char* what, const std::function<void(int)>& set,
             const std::function<bool(int, Clock::time_point&)>& seen, std::vector<double>& out) {
  for (int i = 0; i < kRounds; ++i) {
    const int target = Target(i);
    const auto t0 = Clock::now();
    set(target);
    Clock::time_point t1;
    if (!seen(target, t1)) {
      std::fprintf(stderr, "bench_qxvolumed_mqtt: %s: %d%% never showed\n", what, target);
      return false;
    }
    out.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

void Line(const char* what, const std::vector<double>& v, const std::vector<double>* base) {
  const Stats s = Summarise(v);
  std::printf("  %-40s median %9.1f   p99 %9.1f", what, s.Median, s.P99);
  if (base) {
    const Stats b = Summarise(*base);
    std::printf("   ratio %6.2f / %6.2f", s.Median / b.Median, s.P99 / b.P99);
  }
  std::printf("\n");
}

int Inner(const std::string& daemonBin) {
  unsetenv("DISPLAY");
  TSinkWatcher sink;
  if (!sink.Start()) {
    std::fprintf(stderr, "bench_qxvolumed_mqtt: cannot reach the private sound server\n");
    return 1;
  }
  char dir[] = "/tmp/bench_mqtt.XXXXXX";
  if (mkdtemp(dir) == nullptr) return 1;
  const int brokerPort = FreePort(SOCK_STREAM), udpPort = FreePort();
  const std::string conf = std::string(dir) + "/broker.conf";
  std::ofstream(conf) << "listener " << brokerPort << " 127.0.0.1\nallow_anonymous true\n"
                      << "persistence false\n"
                      << (geteuid() == 0 ? "user root\n" : "");
  const pid_t broker = Spawn({"mosquitto", "-c", conf}, 1);
  int out[2];
  if (pipe(out) != 0) return 1;
  const pid_t daemon =
      Spawn({daemonBin, "--port", std::to_string(udpPort), "--line-end", "", "--no-overlay",
             "--json", "--mqtt", "mqtt://127.0.0.1:" + std::to_string(brokerPort), "--mqtt-topic",
             kPrefix, "--no-ha-discovery"},
            out[1]);
  close(out[1]);
  // The daemon is ready once it said it is connected; its output is drained from then on.
  std::mutex lock;
  std::condition_variable changed;
  bool connected = false;
  std::thread reader([&] {
    std::string buf;
    char chunk[4096];
    ssize_t n;
    while ((n = read(out[0], chunk, sizeof chunk)) > 0) {
      buf.append(chunk, static_cast<size_t>(n));
      if (buf.find("\"state\":\"connected\"") != std::string::npos) {
        std::lock_guard<std::mutex> g(lock);
        connected = true;
        changed.notify_all();
      }
      if (buf.size() > 65536) buf.erase(0, buf.size() - 64);
    }
  });
  int status = 1;
  {
    std::unique_lock<std::mutex> g(lock);
    changed.wait_for(g, std::chrono::seconds(20), [&] { return connected; });
  }
  TMqttWatcher mqtt;
  if (!connected || !mqtt.Start(brokerPort)) {
    std::fprintf(stderr, "bench_qxvolumed_mqtt: the daemon or the broker did not start\n");
  } else {
    TPeer peer("127.0.0.1", udpPort);
    const auto sinkSeen = [&](int v, Clock::time_point& t) {
      return sink.WaitFor(v, t, std::chrono::seconds(10));
    };
    const auto sinkSet = [&](int v) { sink.Set(v); };
    std::vector<double> own, udp, viaMqtt, event, polled, published;
    const bool ok = Measure("own set", sinkSet, sinkSeen, own) &&
                    Measure(
                        "AT+SETVOL", [&](int v) { peer.Send("AT+SETVOL=" + std::to_string(v)); },
                        sinkSeen, udp) &&
                    Measure(
                        "volume/set", [&](int v) { mqtt.Set(v); }, sinkSeen, viaMqtt) &&
                    Measure("outside change, event", sinkSet, sinkSeen, event) &&
                    Measure(
                        "outside change, AT+GETVOL", sinkSet,
                        [&](int v, Clock::time_point& t) { return PollUdp(peer, v, t); }, polled) &&
                    Measure(
                        "outside change, PREFIX/volume", sinkSet,
                        [&](int v, Clock::time_point& t) {
                          return mqtt.WaitFor(v, t, std::chrono::seconds(10));
                        },
                        published);
    if (ok) {
      std::printf("qxvolumed MQTT bridge against the UDP path (us, %d rounds each)\n", kRounds);
      std::printf("a command until the sound server's event:\n");
      Line("baseline: a libpulse client's own set", own, nullptr);
      Line("UDP AT+SETVOL=N (whole datagram)", udp, &own);
      Line("MQTT volume/set N", viaMqtt, &own);
      Line("  MQTT against UDP", viaMqtt, &udp);
      std::printf("an outside change until the remote knows it:\n");
      Line("baseline: the libpulse client's event", event, nullptr);
      Line("UDP: AT+GETVOL polled until VOL=N", polled, &event);
      Line("MQTT: PREFIX/volume N received", published, &event);
      Line("  MQTT against UDP", published, &polled);
      status = 0;
    }
  }
  Stop(daemon);
  Stop(broker);
  reader.join();
  std::remove(conf.c_str());
  rmdir(dir);
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  return RunBesidePrivatePulse(argc, argv, "bench_qxvolumed_mqtt", Inner);
}
