// The default render endpoint over the sound server: the server's default sink, reached through
// libpulse's threaded main loop, whose thread is also the notification thread.
//
// One connection serves the whole process; it is opened by the first CoCreateInstance that finds
// a server and kept for the life of the process. Times:
//   - opening waits at most ConnectTimeout for the server and the default sink; never autospawns;
//   - a write waits at most CallTimeout for the server's answer; reads answer from the last known
//     state (the caller's own writes at once, outside changes once notified) and never wait;
//   - when the server goes away, calls fail with AUDCLNT_E_SERVICE_NOT_RUNNING and a new
//     connection is tried every RetryInterval until one succeeds; notifications then go on.
// Locks: the main loop's lock guards the libpulse objects, FLock the known state; the main loop's
// lock is always taken first. Callbacks run with the main loop's lock held, FLock free: they may
// read and write the endpoint (a write from there does not wait for its answer), but must not
// wait on a thread that is unregistering them.
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
  static constexpr std::chrono::milliseconds CallTimeout{1000};
  static constexpr std::chrono::milliseconds RetryInterval{500};

  // The process's connection, opened on first use; a failure HRESULT when no server answers.
  static HRESULT Open(std::shared_ptr<TEndpointBackend>& backend);

  TPulseEndpoint();
  ~TPulseEndpoint() override;

  HRESULT DefaultDevice() override;
  HRESULT GetLevel(float& level) override;
  HRESULT SetLevel(float level) override;
  HRESULT StepLevel(int direction) override;
  HRESULT GetMute(bool& mute) override;
  HRESULT SetMute(bool mute) override;
  HRESULT GetChannelCount(UINT& count) override;

 private:
  struct TCall;
  struct TCallHolder;
  struct TSinkState {
    bool Known = false;
    uint32_t Index = PA_INVALID_INDEX;
    std::string Name;
    pa_cvolume Volume{};
    bool Mute = false;
  };

  bool Start();  // connects and waits for the first state; false when no server answers
  void Connect();
  // Changes the known state at once and sends it; waits for the answer (bounded).
  HRESULT Write(bool isMute, const std::function<void(TSinkState&)>& change);
  HRESULT KnownSinkResult() const;  // under FLock

  static void OnContextState(pa_context* c, void* self);
  static void OnSubscription(pa_context* c, pa_subscription_event_type_t t, uint32_t idx,
                             void* self);
  static void OnServerInfo(pa_context* c, const pa_server_info* info, void* self);
  static void OnSinkInfo(pa_context* c, const pa_sink_info* info, int eol, void* self);
  static void OnRetry(pa_mainloop_api* api, pa_time_event* e, const struct timeval* tv, void* self);
  static void OnCallSuccess(pa_context* c, int success, void* holder);
  static void OnCallState(pa_operation* o, void* holder);
  void ScheduleRetry();
  void MarkStarted();
  // Records the server's state of the default sink; notifies when it differs from the last
  // report (never for the first).
  void Report(const TSinkState& state);

  pa_threaded_mainloop* FLoop = nullptr;
  pa_context* FContext = nullptr;   // guarded by the main loop's lock
  pa_time_event* FRetry = nullptr;  // guarded by the main loop's lock
  std::string FDefaultName;         // the server's default sink; main loop thread only
  bool FEverReady = false;          // main loop thread only
  uint32_t FGeneration = 0;         // connection count; main loop's lock

  mutable std::mutex FLock;
  std::condition_variable FStartedCv;
  bool FStarted = false;  // first state known, or the first connection failed
  bool FConnected = false;
  TSinkState FSink;      // what reads answer from
  TSinkState FReported;  // what the last notification (or the opening) said
  bool FEverReported = false;
  int FPendingWrites = 0;  // while > 0, server reports do not overwrite FSink's volume/mute
};
