// An endpoint over the sound server, reached through libpulse's threaded main loop, whose thread
// is also the notification thread. It stands for the server's default sink (followed when the
// default changes), for the default source ("@DEFAULT_SOURCE@"), or for the sink or source of one
// name: a named device that goes away makes calls fail until a device of that name appears, and
// each coming and going is told to the IMMNotificationClient registrations (DeviceNotifications).
//
// One connection per device serves the whole process; it is opened by the first call that asks
// for that device and finds a server, and kept for the life of the process. Times:
//   - opening waits at most ConnectTimeout for the server and the default sink; never autospawns;
//   - a write never waits for the server: it changes the known state at once, notifies the change
//     (on the notification thread, before the write returns) and goes out when the server took the
//     one before it. One write of each kind (level, mute) is on its way at a time; a newer one
//     asked for meanwhile replaces the one waiting, so a stalled server gets, once it runs again,
//     the last value asked for;
//   - reads answer from the known state (the caller's own writes at once, outside changes once
//     notified) and never wait;
//   - the process's last release waits at most DrainTimeout for writes still on their way;
//   - when the server goes away, calls fail with AUDCLNT_E_SERVICE_NOT_RUNNING and a new
//     connection is tried every RetryInterval until one succeeds; notifications then go on.
// Locks: the main loop's lock guards the libpulse objects, FLock the known state; the main loop's
// lock is always taken first. Callbacks run with the main loop's lock held, FLock free: they may
// read and write the endpoint (a write from there notifies on the spot), but must not wait on a
// thread that is unregistering them.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include <pulse/pulseaudio.h>

#include <qx/platform/audio/EndpointBackend.h>

class TPulseEndpoint : public TEndpointBackend {
 public:
  static constexpr std::chrono::milliseconds ConnectTimeout{2000};
  static constexpr std::chrono::milliseconds DrainTimeout{1000};
  static constexpr std::chrono::milliseconds RetryInterval{500};

  // The process's connection for a device ("" or "@DEFAULT_SINK@": the default sink), opened on
  // first use; a failure HRESULT when no server answers. A named device need not be there.
  static HRESULT Open(const std::string& device, std::shared_ptr<TEndpointBackend>& backend);

  explicit TPulseEndpoint(std::string device);
  ~TPulseEndpoint() override;

  HRESULT DefaultDevice() override;
  HRESULT GetLevel(float& level) override;
  HRESULT SetLevel(float level) override;
  HRESULT StepLevel(int direction) override;
  HRESULT GetMute(bool& mute) override;
  HRESULT SetMute(bool mute) override;
  HRESULT GetChannelCount(UINT& count) override;
  EDataFlow DataFlow() const override;

 private:
  struct TCallHolder;
  // One kind of write: asked for and not sent yet, and sent and not answered yet.
  struct TWriteSlot {
    bool Waiting = false;
    bool OnItsWay = false;
  };
  struct TSinkState {
    bool Known = false;
    uint32_t Index = PA_INVALID_INDEX;
    std::string Name;
    bool Source = false;  // a capture device
    pa_cvolume Volume{};
    bool Mute = false;
  };

  bool Start();  // connects and waits for the first state; false when no server answers
  void Connect();
  // Changes the known state at once, notifies it and sends it when nothing of its kind is on
  // its way. Waits only for the notification thread, never for the server.
  HRESULT Write(bool isMute, const std::function<void(TSinkState&)>& change);
  // Sends the waiting write of a kind from the known state (main loop's lock held).
  void Send(bool isMute);
  HRESULT KnownSinkResult() const;  // under FLock
  bool WritesPending() const;       // under FLock
  void ForgetWrites();              // under FLock: a new connection starts with none

  static void OnContextState(pa_context* c, void* self);
  static void OnSubscription(pa_context* c, pa_subscription_event_type_t t, uint32_t idx,
                             void* self);
  static void OnServerInfo(pa_context* c, const pa_server_info* info, void* self);
  static void OnSinkInfo(pa_context* c, const pa_sink_info* info, int eol, void* self);
  static void OnSourceInfo(pa_context* c, const pa_source_info* info, int eol, void* self);
  // A sink's or a source's report (main loop's thread).
  void OnDeviceInfo(const TSinkState& found);
  // Asks the server for the wanted device by name; by index for the one known.
  void LookUp(bool source);
  void QueryIndex(bool source, uint32_t index);
  // Tells the registrations when the device came or went since last told (main loop's thread).
  void ReportPresence();
  bool Named() const { return !FTarget.empty() && FTarget != kDefaultSource; }
  static void OnRetry(pa_mainloop_api* api, pa_time_event* e, const struct timeval* tv, void* self);
  static void OnCallSuccess(pa_context* c, int success, void* holder);
  static void OnCallState(pa_operation* o, void* holder);
  static void OnReportDue(pa_mainloop_api* api, pa_defer_event* e, void* self);
  void ScheduleRetry();
  void MarkStarted();
  static bool Differs(const TSinkState& a, const TSinkState& b);
  // Tells the registered callbacks of a new known state (main loop's thread, no lock).
  void Notify(const TSinkState& state);

  static constexpr const char* kDefaultSource = "@DEFAULT_SOURCE@";
  // "" for the default sink, kDefaultSource, or a device's name.
  const std::string FTarget;
  bool FPresenceTold = false;  // main loop thread only, like FDefaultName

  pa_threaded_mainloop* FLoop = nullptr;
  pa_context* FContext = nullptr;        // guarded by the main loop's lock
  pa_time_event* FRetry = nullptr;       // guarded by the main loop's lock
  pa_defer_event* FReportDue = nullptr;  // guarded by the main loop's lock
  std::string FDefaultName;              // the device wanted now; main loop thread only
  bool FEverReady = false;               // main loop thread only
  uint32_t FGeneration = 0;              // connection count; main loop's lock

  mutable std::mutex FLock;
  std::condition_variable FStartedCv;
  bool FStarted = false;  // first state known, or the first connection failed
  bool FConnected = false;
  // The one known state: what reads answer from and what notifications tell of, each change of
  // it but the first being one notification. Known drops while there is no default sink; the
  // rest stays, so that a sink found again as it was is no news.
  TSinkState FSink;
  bool FEverKnown = false;
  // While a write is waiting or on its way, the server's reports are older than the known state:
  // they neither overwrite FSink's volume and mute nor notify.
  TWriteSlot FLevelWrite;
  TWriteSlot FMuteWrite;
  std::condition_variable FDrainedCv;
  // A write's notification, handed to the main loop's thread: whether one is due, and the count
  // of hand-offs asked for and delivered.
  bool FNotifyDue = false;
  uint64_t FReportsAsked = 0;
  uint64_t FReportsDone = 0;
  std::condition_variable FReportedCv;
};
