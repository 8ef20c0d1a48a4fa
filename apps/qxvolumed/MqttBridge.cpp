#include "MqttBridge.h"

#include <mosquitto.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include <qx/master_volume/QxMasterVol.h>
#include "apps/common/EventOutput.h"

namespace {

using std::chrono::steady_clock;

constexpr int kKeepAlive = 30;  // seconds; a stalled broker is given up after 1.5 times this
constexpr int kBackoffMax = 30;
constexpr int kLoginRetry = 30;  // a refused login is a configuration matter: tried slowly
// Commands waiting for the main thread; beyond this they come faster than any volume follows.
constexpr size_t kInboxLimit = 64;
// Publications handed to the library but not yet written (or acknowledged): beyond this the
// broker is not taking them, and only the latest state is kept for when it does.
constexpr int kPendingLimit = 16;
// How long a stop waits for "offline" to reach the broker, and for the network thread.
constexpr auto kStopGrace = std::chrono::milliseconds(1000);
constexpr auto kJoinLimit = std::chrono::milliseconds(2000);
constexpr UINT kWake = WM_USER + 1;

String ErrorText(int rc, int err) {
  return rc == MOSQ_ERR_ERRNO ? String(std::strerror(err)) : String(mosquitto_strerror(rc));
}

// libmosquitto says why TLS failed only in its log: "OpenSSL Error[0]: error:...:certificate
// verify failed". The last part is the reason.
String LogReason(const String& line) {
  if (line.find("OpenSSL Error") == String::npos) return line;
  String reason = "TLS: " + line.substr(line.rfind(':') + 1);
  if (reason.find("verify failed") != String::npos)
    reason +=
        " (the broker's certificate is not signed by a trusted authority; --mqtt-cafile "
        "names another)";
  return reason;
}

// Login and TLS, as the bridge and --ha-remove both connect. The error text, empty when fine.
String Configure(mosquitto* m, const TMqttTarget& t) {
  int rc = MOSQ_ERR_SUCCESS;
  if (!t.User.empty())
    rc = mosquitto_username_pw_set(m, t.User.c_str(),
                                   t.Password.empty() ? nullptr : t.Password.c_str());
  if (rc == MOSQ_ERR_SUCCESS && t.Tls)
    rc = t.CaFile.empty()
             ? mosquitto_int_option(m, MOSQ_OPT_TLS_USE_OS_CERTS, 1)
             : mosquitto_tls_set(m, t.CaFile.c_str(), nullptr, nullptr, nullptr, nullptr);
  return rc == MOSQ_ERR_SUCCESS ? String() : ErrorText(rc, errno);
}

String ClientId(const TMqttTarget& t) {
  return "qxvolumed-" + t.Node.substr(0, 40) + "-" + IntToStr(getpid());
}

}  // namespace

// Shared by the main thread and the network thread; the network thread keeps it alive, so a
// thread that could not be joined in time never touches a freed bridge.
struct TMqttBridge::TLink {
  TMqttTarget Target;
  mosquitto* M = nullptr;
  HWND Window = nullptr;
  std::atomic<bool> WakePosted{false};

  std::mutex Lock;
  std::condition_variable Changed;
  // Under Lock.
  std::deque<TMqttCommand> Inbox;
  size_t Overflow = 0;
  std::deque<std::pair<bool, String>> Events;  // connected?, the reason when not
  std::optional<String> Garbage[2];            // volume/set, mute/set
  bool Connected = false;                      // a new connection: everything published again
  bool Republish = false;                      // Home Assistant came online
  int Pending = 0;
  bool StateDue = false;
  bool Stop = false;
  steady_clock::time_point StopBy;
  bool Done = false;

  // Network thread only.
  bool Up = false, Refused = false;
  String Reason, LastError, Said;

  ~TLink() {
    if (M) mosquitto_destroy(M);
  }
  void Wake() {
    if (!WakePosted.exchange(true) && !PostMessageW(Window, kWake, 0, 0)) WakePosted = false;
  }
  String Topic(const char* leaf) const { return Target.Prefix + "/" + leaf; }

  static void OnConnect(mosquitto* m, void* obj, int rc) {
    auto* l = static_cast<TLink*>(obj);
    if (rc != 0) {
      l->Refused = true;
      l->Reason = String("login refused: ") + mosquitto_connack_string(rc);
      return;
    }
    l->Up = true;
    l->Said.clear();
    mosquitto_subscribe(m, nullptr, l->Topic("volume/set").c_str(), 1);
    mosquitto_subscribe(m, nullptr, l->Topic("mute/set").c_str(), 1);
    if (!l->Target.HaPrefix.empty())
      mosquitto_subscribe(m, nullptr, (l->Target.HaPrefix + "/status").c_str(), 1);
    {
      std::lock_guard g(l->Lock);
      l->Pending = 0;  // what was queued before is gone with the old connection
      l->Connected = true;
      l->Events.emplace_back(true, String());
    }
    l->Wake();
  }

  static void OnDisconnect(mosquitto*, void* obj, int rc) {
    auto* l = static_cast<TLink*>(obj);
    if (rc != 0 && l->Reason.empty())
      l->Reason = l->LastError.empty() ? ErrorText(rc, errno) : LogReason(l->LastError);
  }

  static void OnPublish(mosquitto*, void* obj, int) {
    auto* l = static_cast<TLink*>(obj);
    bool wake;
    {
      std::lock_guard g(l->Lock);
      if (l->Pending > 0) --l->Pending;
      wake = l->StateDue;
    }
    if (wake) l->Wake();
  }

  static void OnLog(mosquitto*, void* obj, int level, const char* text) {
    if (level == MOSQ_LOG_ERR) static_cast<TLink*>(obj)->LastError = text;
  }

  static void OnMessage(mosquitto*, void* obj, const mosquitto_message* msg) {
    auto* l = static_cast<TLink*>(obj);
    const String topic = msg->topic;
    const std::string_view payload(static_cast<const char*>(msg->payload),
                                   msg->payload ? static_cast<size_t>(msg->payloadlen) : 0);
    if (!l->Target.HaPrefix.empty() && topic == l->Target.HaPrefix + "/status") {
      if (payload != "online") return;
      std::lock_guard g(l->Lock);
      l->Republish = true;
    } else {
      const int which = topic == l->Topic("volume/set") ? 0
                        : topic == l->Topic("mute/set") ? 1
                                                        : -1;
      // A command the broker kept is an old one, not one for now.
      if (which < 0 || msg->retain) return;
      const auto command = which == 0 ? ParseVolumeCommand(payload) : ParseMuteCommand(payload);
      std::lock_guard g(l->Lock);
      if (!command) {
        if (!l->Garbage[which]) l->Garbage[which] = String(payload.substr(0, 64));
      } else if (command->Action == TMqttAction::SetVolume && !l->Inbox.empty() &&
                 l->Inbox.back().Action == TMqttAction::SetVolume) {
        l->Inbox.back() = *command;  // only the last of several volumes in a row lasts
      } else if (l->Inbox.size() < kInboxLimit) {
        l->Inbox.push_back(*command);
      } else {
        ++l->Overflow;
      }
    }
    l->Wake();
  }

  // Connects, serves the connection until it ends, and again after a pause that grows up to
  // kBackoffMax seconds, until the bridge stops.
  static void Run(std::shared_ptr<TLink> l) {
    bool first = true;
    int failures = 0;
    for (;;) {
      {
        std::lock_guard g(l->Lock);
        if (l->Stop) break;
      }
      l->Up = l->Refused = false;
      l->Reason.clear();
      l->LastError.clear();
      // The first connect also resolves the name, here rather than on the main thread.
      int rc =
          first ? mosquitto_connect_async(l->M, l->Target.Host.c_str(), l->Target.Port, kKeepAlive)
                : mosquitto_reconnect_async(l->M);
      const int err = errno;
      first = false;
      if (rc == MOSQ_ERR_SUCCESS) {
        for (;;) {
          rc = mosquitto_loop(l->M, 500, 1);
          if (rc != MOSQ_ERR_SUCCESS) break;
          std::lock_guard g(l->Lock);
          if (l->Stop && steady_clock::now() >= l->StopBy) break;
        }
      }
      if (rc != MOSQ_ERR_SUCCESS && l->Reason.empty())
        l->Reason = l->LastError.empty() ? ErrorText(rc, err) : LogReason(l->LastError);
      std::unique_lock g(l->Lock);
      if (l->Stop) break;
      // A lost connection is said each time; a broker that cannot be reached, once per reason.
      if (l->Up || l->Reason != l->Said) {
        l->Events.emplace_back(false, l->Up        ? l->Reason
                                      : l->Refused ? l->Reason + " (tried again every 30 s)"
                                                   : l->Reason + " (retrying)");
        l->Said = l->Reason;
        g.unlock();
        l->Wake();
        g.lock();
      }
      if (l->Up) failures = 0;
      const int seconds =
          l->Refused ? kLoginRetry : std::min(kBackoffMax, 1 << std::min(failures, 5));
      ++failures;
      l->Changed.wait_for(g, std::chrono::seconds(seconds), [&] { return l->Stop; });
    }
    std::lock_guard g(l->Lock);
    l->Done = true;
    l->Changed.notify_all();
  }
};

TMqttBridge::TMqttBridge(const TMqttTarget& target, TEventPrinter& printer,
                         TVolumeListeners& listeners, std::function<TQxMasterVol*()> volume)
    : FTarget(target),
      FPrinter(printer),
      FListeners(listeners),
      FVolume(std::move(volume)),
      FSettler([this](int32_t v, bool m) {
        FState = {v, m};
        PublishState(false);
      }),
      FLink(std::make_shared<TLink>()) {
  mosquitto_lib_init();
  FWindow = AllocateHWnd(TWndMethod::Callable([this](TMessage& m) { WndProc(m); }));
  FLink->Target = target;
  FLink->Window = FWindow;
  FLink->M = mosquitto_new(ClientId(target).c_str(), true, FLink.get());
  String error = FLink->M ? Configure(FLink->M, target) : String(std::strerror(errno));
  if (!error.empty()) {
    FPrinter.Mqtt("disconnected", target.Broker(), error);
    return;
  }
  mosquitto_threaded_set(FLink->M, true);
  // Every message is small and wanted at once: no waiting to fill a segment.
  mosquitto_int_option(FLink->M, MOSQ_OPT_TCP_NODELAY, 1);
  const String availability = FLink->Topic("availability");
  mosquitto_will_set(FLink->M, availability.c_str(), 7, "offline", 1, true);
  mosquitto_connect_callback_set(FLink->M, TLink::OnConnect);
  mosquitto_disconnect_callback_set(FLink->M, TLink::OnDisconnect);
  mosquitto_publish_callback_set(FLink->M, TLink::OnPublish);
  mosquitto_message_callback_set(FLink->M, TLink::OnMessage);
  mosquitto_log_callback_set(FLink->M, TLink::OnLog);
  FListenerId = FListeners.Add([this](int32_t v, bool m) { FSettler.Report(v, m); });
  FThread = std::thread(TLink::Run, FLink);
}

TMqttBridge::~TMqttBridge() {
  if (FListenerId != 0) FListeners.Remove(FListenerId);
  if (FThread.joinable()) {
    {
      std::lock_guard g(FLink->Lock);
      FLink->Stop = true;
      FLink->StopBy = steady_clock::now() + kStopGrace;
    }
    FLink->Changed.notify_all();
    if (FUp) Publish(FLink->Topic("availability"), "offline", 1, true);
    mosquitto_disconnect(FLink->M);
    std::unique_lock g(FLink->Lock);
    const bool done = FLink->Changed.wait_for(g, kJoinLimit, [this] { return FLink->Done; });
    g.unlock();
    // A thread caught in a name lookup is left to end on its own; it holds the link.
    if (done)
      FThread.join();
    else
      FThread.detach();
  }
  DeallocateHWnd(FWindow);
}

void TMqttBridge::Publish(const String& topic, const String& payload, int qos, bool retain) {
  {
    std::lock_guard g(FLink->Lock);
    ++FLink->Pending;
  }
  if (mosquitto_publish(FLink->M, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                        payload.data(), qos, retain) != MOSQ_ERR_SUCCESS) {
    std::lock_guard g(FLink->Lock);
    if (FLink->Pending > 0) --FLink->Pending;
  }
}

void TMqttBridge::PublishState(bool all) {
  if (!FUp || !FState) return;
  {
    std::lock_guard g(FLink->Lock);
    FLink->StateDue = FLink->Pending >= kPendingLimit;
    if (FLink->StateDue) return;
  }
  const auto [volume, mute] = *FState;
  if (all || !FPublished || FPublished->first != volume)
    Publish(FLink->Topic("volume"), IntToStr(volume), 0, true);
  if (all || !FPublished || FPublished->second != mute)
    Publish(FLink->Topic("mute"), mute ? "ON" : "OFF", 0, true);
  FPublished = FState;
}

void TMqttBridge::Obey(const TMqttCommand& command) {
  TQxMasterVol* v = FVolume();
  if (v == nullptr) return;
  switch (command.Action) {
    case TMqttAction::SetVolume:
      v->SetVolume(command.Volume);
      break;
    case TMqttAction::MuteOn:
    case TMqttAction::MuteOff:
      v->Mute(command.Action == TMqttAction::MuteOn);
      break;
    case TMqttAction::MuteToggle:
      v->Mute(!v->GetMute());
      break;
  }
  // The component reports the change itself while its overlay is on; this covers a form whose
  // overlay is off (a repeated report is dropped by the settler).
  FSettler.Report(v->Volume(), v->GetMute());
}

void TMqttBridge::WndProc(TMessage& message) {
  if (message.Msg != kWake) return;
  FLink->WakePosted = false;
  std::deque<TMqttCommand> inbox;
  std::deque<std::pair<bool, String>> events;
  std::optional<String> garbage[2];
  bool connected, republish, stateDue;
  size_t overflow;
  {
    std::lock_guard g(FLink->Lock);
    inbox.swap(FLink->Inbox);
    events.swap(FLink->Events);
    for (int i = 0; i < 2; ++i) garbage[i] = std::exchange(FLink->Garbage[i], std::nullopt);
    connected = std::exchange(FLink->Connected, false);
    republish = std::exchange(FLink->Republish, false);
    stateDue = FLink->StateDue;
    overflow = std::exchange(FLink->Overflow, 0);
  }
  const String broker = FTarget.Broker();
  for (const auto& [up, reason] : events) {
    FUp = up;
    FPrinter.Mqtt(up ? "connected" : "disconnected", broker, reason);
  }
  if (FUp && (connected || republish)) {
    if (connected) Publish(FLink->Topic("availability"), "online", 1, true);
    if (!FTarget.HaPrefix.empty())
      for (const TMqttMessage& config : DiscoveryConfigs(FTarget))
        Publish(config.Topic, config.Payload, 1, true);
    if (TQxMasterVol* v = FVolume()) FState = {v->Volume(), v->GetMute()};
    PublishState(true);
  }
  static const char* const kWhat[2] = {"is not a volume from 0 to 100", "is not ON, OFF or TOGGLE"};
  static const char* const kTopic[2] = {"volume/set", "mute/set"};
  for (int i = 0; i < 2; ++i) {
    // Said once until a good command comes on that topic.
    if (garbage[i] && !FGarbageSaid[i])
      FPrinter.Mqtt("dropped", broker,
                    FLink->Topic(kTopic[i]) + ": '" + Visible(*garbage[i]) + "' " + kWhat[i]);
    if (garbage[i]) FGarbageSaid[i] = true;
  }
  if (overflow > 0)
    FPrinter.Mqtt("dropped", broker,
                  IntToStr(overflow) + " commands that came faster than the volume follows");
  for (const TMqttCommand& command : inbox) {
    FGarbageSaid[command.Action == TMqttAction::SetVolume ? 0 : 1] = false;
    Obey(command);
  }
  if (stateDue) PublishState(false);
}

namespace {

// --ha-remove: connects, clears the two configs, and disconnects once the broker took them.
int RemoveDiscovery(const TMqttTarget& t) {
  struct TState {
    int Connack = -1;
    int Acked = 0;
    String LastError;
  } state;
  const auto fail = [&](mosquitto* m, const String& why) {
    std::fprintf(stderr, "qxvolumed: --ha-remove: %s: %s\n", t.Broker().c_str(), why.c_str());
    if (m) mosquitto_destroy(m);
    return 1;
  };
  mosquitto* m = mosquitto_new(ClientId(t).c_str(), true, &state);
  if (m == nullptr) return fail(m, std::strerror(errno));
  if (String error = Configure(m, t); !error.empty()) return fail(m, error);
  mosquitto_connect_callback_set(
      m, [](mosquitto*, void* obj, int rc) { static_cast<TState*>(obj)->Connack = rc; });
  mosquitto_publish_callback_set(
      m, [](mosquitto*, void* obj, int) { ++static_cast<TState*>(obj)->Acked; });
  mosquitto_log_callback_set(m, [](mosquitto*, void* obj, int level, const char* text) {
    if (level == MOSQ_LOG_ERR) static_cast<TState*>(obj)->LastError = text;
  });
  const auto why = [&](int rc, int err) {
    return state.LastError.empty() ? ErrorText(rc, err) : LogReason(state.LastError);
  };
  int rc = mosquitto_connect(m, t.Host.c_str(), t.Port, kKeepAlive);
  if (rc != MOSQ_ERR_SUCCESS) return fail(m, why(rc, errno));
  const auto until = [&](auto done) {
    const auto end = steady_clock::now() + std::chrono::seconds(10);
    while (!done() && steady_clock::now() < end)
      if ((rc = mosquitto_loop(m, 100, 1)) != MOSQ_ERR_SUCCESS) return false;
    return done();
  };
  if (!until([&] { return state.Connack >= 0; }))
    return fail(m, rc != MOSQ_ERR_SUCCESS ? why(rc, errno) : String("no answer"));
  if (state.Connack != 0)
    return fail(m, String("login refused: ") + mosquitto_connack_string(state.Connack));
  const auto configs = DiscoveryConfigs(t, true);
  for (const TMqttMessage& config : configs)
    mosquitto_publish(m, nullptr, config.Topic.c_str(), 0, nullptr, 1, true);
  if (!until([&] { return state.Acked >= static_cast<int>(configs.size()); }))
    return fail(m, "the broker did not take the empty configs");
  mosquitto_disconnect(m);
  mosquitto_loop(m, 100, 1);
  mosquitto_destroy(m);
  for (const TMqttMessage& config : configs) std::printf("removed %s\n", config.Topic.c_str());
  return 0;
}

}  // namespace

int PrepareMqtt(const TMqttOptions& o, std::optional<TMqttTarget>& out) {
  const auto usage = [](const String& message) {
    std::fprintf(stderr, "qxvolumed: %s\nTry 'qxvolumed --help' for more information.\n",
                 message.c_str());
    return 2;
  };
  if (o.Url.empty()) {
    if (o.HaRemove || !o.PasswordFile.empty() || !o.Topic.empty() || !o.CaFile.empty())
      return usage("the MQTT options need --mqtt URL");
    return -1;
  }
  TMqttTarget t;
  if (String error = ResolveMqtt(o, t); !error.empty()) {
    std::fprintf(stderr, "qxvolumed: %s\n", error.c_str());
    return 2;
  }
  mosquitto_lib_init();
  if (t.HaRemove) return RemoveDiscovery(t);
  out = t;
  return -1;
}
