#include <qx/platform/audio/PulseEndpoint.h>

#include <functional>
#include <map>
#include <utility>
#include <vector>

#include <qx/platform/audio/DeviceNotifications.h>

namespace {

// A notification a write waits for is handed over in microseconds; this only bounds the wait
// should the loop's thread be busy elsewhere.
constexpr std::chrono::milliseconds kReportWait{100};

float LevelOf(const pa_cvolume& v) {
  if (v.channels == 0) return 0.0f;
  return TEndpointBackend::ClampLevel(static_cast<float>(pa_cvolume_max(&v)) /
                                      static_cast<float>(PA_VOLUME_NORM));
}

// Scales every channel so that the loudest is at level, keeping the balance.
void ApplyLevel(pa_cvolume& v, float level) {
  const auto target = static_cast<pa_volume_t>(std::lround(level * PA_VOLUME_NORM));
  if (v.channels == 0) pa_cvolume_set(&v, 1, target);
  if (pa_cvolume_max(&v) == PA_VOLUME_MUTED)
    pa_cvolume_set(&v, v.channels, target);
  else
    pa_cvolume_scale(&v, target);
}

bool SameVolume(const pa_cvolume& a, const pa_cvolume& b) {
  if (a.channels != b.channels) return false;
  for (unsigned i = 0; i < a.channels; ++i)
    if (a.values[i] != b.values[i]) return false;
  return true;
}

}  // namespace

// Whether going from one known state to the next is news: another device, level or mute.
bool TPulseEndpoint::Differs(const TSinkState& a, const TSinkState& b) {
  return a.Name != b.Name || a.Index != b.Index || a.Source != b.Source ||
         !SameVolume(a.Volume, b.Volume) || a.Mute != b.Mute;
}

namespace {

std::mutex gOpenLock;
std::map<std::string, std::shared_ptr<TPulseEndpoint>> gShared;

}  // namespace

// One write on its way, for its answer. Late answers (a connection since replaced) are dropped.
struct TPulseEndpoint::TCallHolder {
  TPulseEndpoint* Self;
  uint32_t Generation;
  bool IsMute;
};

HRESULT TPulseEndpoint::Open(const std::string& device,
                             std::shared_ptr<TEndpointBackend>& backend) {
  const std::string key = device == "@DEFAULT_SINK@" ? std::string() : device;
  std::lock_guard lock(gOpenLock);
  std::shared_ptr<TPulseEndpoint>& shared = gShared[key];
  if (!shared) {
    auto endpoint = std::make_shared<TPulseEndpoint>(key);
    if (!endpoint->Start()) return AUDCLNT_E_SERVICE_NOT_RUNNING;
    shared = std::move(endpoint);
  }
  backend = shared;
  return S_OK;
}

TPulseEndpoint::TPulseEndpoint(std::string device) : FTarget(std::move(device)) {}

TPulseEndpoint::~TPulseEndpoint() {
  if (FLoop == nullptr) return;
  {
    // What was asked for last still reaches a server that answers (a program that sets the
    // volume and exits).
    std::unique_lock lock(FLock);
    FDrainedCv.wait_for(lock, DrainTimeout, [&] { return !FConnected || !WritesPending(); });
  }
  pa_threaded_mainloop_lock(FLoop);
  if (FRetry != nullptr) pa_threaded_mainloop_get_api(FLoop)->time_free(FRetry);
  if (FReportDue != nullptr) pa_threaded_mainloop_get_api(FLoop)->defer_free(FReportDue);
  if (FContext != nullptr) {
    pa_context_set_state_callback(FContext, nullptr, nullptr);
    pa_context_set_subscribe_callback(FContext, nullptr, nullptr);
    pa_context_disconnect(FContext);
    pa_context_unref(FContext);
  }
  pa_threaded_mainloop_unlock(FLoop);
  pa_threaded_mainloop_stop(FLoop);
  pa_threaded_mainloop_free(FLoop);
  FCallbacks.Clear();
}

bool TPulseEndpoint::Start() {
  FLoop = pa_threaded_mainloop_new();
  if (FLoop == nullptr) return false;
  pa_threaded_mainloop_set_name(FLoop, "pulse-endpoint");
  if (pa_threaded_mainloop_start(FLoop) < 0) return false;
  pa_threaded_mainloop_lock(FLoop);
  pa_mainloop_api* api = pa_threaded_mainloop_get_api(FLoop);
  FReportDue = api->defer_new(api, OnReportDue, this);
  api->defer_enable(FReportDue, 0);
  Connect();
  pa_threaded_mainloop_unlock(FLoop);
  std::unique_lock lock(FLock);
  FStartedCv.wait_for(lock, ConnectTimeout, [&] { return FStarted; });
  return FStarted && FConnected;
}

void TPulseEndpoint::Connect() {
  if (FContext != nullptr) {
    pa_context_set_state_callback(FContext, nullptr, nullptr);
    pa_context_set_subscribe_callback(FContext, nullptr, nullptr);
    pa_context_disconnect(FContext);
    pa_context_unref(FContext);
  }
  ++FGeneration;
  FContext = pa_context_new(pa_threaded_mainloop_get_api(FLoop), "qx-master-volume");
  if (FContext == nullptr) {
    FEverReady ? ScheduleRetry() : MarkStarted();
    return;
  }
  pa_context_set_state_callback(FContext, OnContextState, this);
  // Never start a server of our own: no server means no endpoint.
  if (pa_context_connect(FContext, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0)
    FEverReady ? ScheduleRetry() : MarkStarted();
}

void TPulseEndpoint::ScheduleRetry() {
  pa_mainloop_api* api = pa_threaded_mainloop_get_api(FLoop);
  timeval tv;
  pa_gettimeofday(&tv);
  pa_timeval_add(&tv, static_cast<pa_usec_t>(RetryInterval.count()) * PA_USEC_PER_MSEC);
  if (FRetry != nullptr)
    api->time_restart(FRetry, &tv);
  else
    FRetry = api->time_new(api, &tv, OnRetry, this);
}

void TPulseEndpoint::OnRetry(pa_mainloop_api* api, pa_time_event* e, const struct timeval*,
                             void* self) {
  api->time_restart(e, nullptr);  // idle until the next failure arms it again
  static_cast<TPulseEndpoint*>(self)->Connect();
}

void TPulseEndpoint::MarkStarted() {
  {
    std::lock_guard lock(FLock);
    FStarted = true;
  }
  FStartedCv.notify_all();
}

void TPulseEndpoint::OnContextState(pa_context* c, void* selfPtr) {
  auto* self = static_cast<TPulseEndpoint*>(selfPtr);
  if (c != self->FContext) return;
  switch (pa_context_get_state(c)) {
    case PA_CONTEXT_READY: {
      self->FEverReady = true;
      {
        std::lock_guard lock(self->FLock);
        self->FConnected = true;
        self->ForgetWrites();
      }
      pa_context_set_subscribe_callback(c, OnSubscription, self);
      const auto mask = static_cast<pa_subscription_mask_t>(
          PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SOURCE | PA_SUBSCRIPTION_MASK_SERVER);
      pa_operation_unref(pa_context_subscribe(c, mask, nullptr, nullptr));
      pa_operation_unref(pa_context_get_server_info(c, OnServerInfo, self));
      break;
    }
    case PA_CONTEXT_FAILED:
    case PA_CONTEXT_TERMINATED: {
      {
        std::lock_guard lock(self->FLock);
        self->FConnected = false;
        self->FSink.Known = false;
        self->ForgetWrites();
      }
      self->FDrainedCv.notify_all();
      self->FEverReady ? self->ScheduleRetry() : self->MarkStarted();
      self->ReportPresence();
      break;
    }
    default:
      break;
  }
}

void TPulseEndpoint::OnSubscription(pa_context* c, pa_subscription_event_type_t t, uint32_t idx,
                                    void* selfPtr) {
  auto* self = static_cast<TPulseEndpoint*>(selfPtr);
  if (c != self->FContext) return;
  const auto facility = t & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
  const auto type = t & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
  if (facility == PA_SUBSCRIPTION_EVENT_SERVER) {
    // The default sink may have changed.
    pa_operation_unref(pa_context_get_server_info(c, OnServerInfo, self));
    return;
  }
  if (facility != PA_SUBSCRIPTION_EVENT_SINK && facility != PA_SUBSCRIPTION_EVENT_SOURCE) return;
  const bool source = facility == PA_SUBSCRIPTION_EVENT_SOURCE;
  bool known;
  {
    std::lock_guard lock(self->FLock);
    known = self->FSink.Known;
    if (known && (self->FSink.Index != idx || self->FSink.Source != source)) return;
    if (known && type == PA_SUBSCRIPTION_EVENT_REMOVE) {
      // Calls fail until the server names the next default, or the name comes back.
      self->FSink.Known = false;
    }
  }
  if (known && type == PA_SUBSCRIPTION_EVENT_REMOVE) {
    self->ReportPresence();
    return;
  }
  if (known && type == PA_SUBSCRIPTION_EVENT_CHANGE) self->QueryIndex(source, idx);
  // A named device may be the one that just appeared.
  if (!known && type == PA_SUBSCRIPTION_EVENT_NEW && self->Named()) self->LookUp(source);
}

void TPulseEndpoint::LookUp(bool source) {
  if (source)
    pa_operation_unref(
        pa_context_get_source_info_by_name(FContext, FDefaultName.c_str(), OnSourceInfo, this));
  else
    pa_operation_unref(
        pa_context_get_sink_info_by_name(FContext, FDefaultName.c_str(), OnSinkInfo, this));
}

void TPulseEndpoint::QueryIndex(bool source, uint32_t index) {
  if (source)
    pa_operation_unref(pa_context_get_source_info_by_index(FContext, index, OnSourceInfo, this));
  else
    pa_operation_unref(pa_context_get_sink_info_by_index(FContext, index, OnSinkInfo, this));
}

void TPulseEndpoint::ReportPresence() {
  if (FTarget.empty()) return;  // the default output has no name to be told by
  bool present;
  {
    std::lock_guard lock(FLock);
    present = FConnected && FSink.Known;
  }
  if (present == FPresenceTold) return;
  FPresenceTold = present;
  DeviceNotifications().StateChanged(FTarget,
                                     present ? DEVICE_STATE_ACTIVE : DEVICE_STATE_NOTPRESENT);
}

void TPulseEndpoint::OnServerInfo(pa_context* c, const pa_server_info* info, void* selfPtr) {
  auto* self = static_cast<TPulseEndpoint*>(selfPtr);
  if (c != self->FContext || info == nullptr) return;
  const bool wantsSource = self->FTarget == kDefaultSource;
  const char* wanted = self->Named() ? self->FTarget.c_str()
                       : wantsSource ? info->default_source_name
                                     : info->default_sink_name;
  self->FDefaultName = wanted != nullptr ? wanted : "";
  if (self->FDefaultName.empty()) {
    {
      std::lock_guard lock(self->FLock);
      self->FSink.Known = false;
    }
    self->MarkStarted();
    self->ReportPresence();
    return;
  }
  {
    std::lock_guard lock(self->FLock);
    if (self->FSink.Known && self->FSink.Name == self->FDefaultName) return;
  }
  // A name is looked for among the sinks first, then among the sources.
  self->LookUp(wantsSource);
}

void TPulseEndpoint::OnSinkInfo(pa_context* c, const pa_sink_info* info, int eol, void* selfPtr) {
  auto* self = static_cast<TPulseEndpoint*>(selfPtr);
  if (c != self->FContext) return;
  if (info == nullptr) {
    if (eol >= 0) return;
    if (self->Named()) {
      self->LookUp(true);  // no sink of that name: perhaps a source
      return;
    }
    self->MarkStarted();  // the default sink vanished before we asked
    self->ReportPresence();
    return;
  }
  TSinkState found;
  found.Index = info->index;
  found.Name = info->name;
  found.Volume = info->volume;
  found.Mute = info->mute != 0;
  self->OnDeviceInfo(found);
}

void TPulseEndpoint::OnSourceInfo(pa_context* c, const pa_source_info* info, int eol,
                                  void* selfPtr) {
  auto* self = static_cast<TPulseEndpoint*>(selfPtr);
  if (c != self->FContext) return;
  if (info == nullptr) {
    if (eol >= 0) return;
    self->MarkStarted();  // no such device now; one may appear later
    self->ReportPresence();
    return;
  }
  TSinkState found;
  found.Index = info->index;
  found.Name = info->name;
  found.Source = true;
  found.Volume = info->volume;
  found.Mute = info->mute != 0;
  self->OnDeviceInfo(found);
}

void TPulseEndpoint::OnDeviceInfo(const TSinkState& info) {
  TPulseEndpoint* self = this;
  if (self->FDefaultName != info.Name) return;  // an answer about a device no longer wanted

  bool notify;
  TSinkState next;
  {
    std::lock_guard lock(self->FLock);
    TSinkState& s = self->FSink;
    // A write still waiting or on its way wins over an answer sent before the server had it:
    // such an answer is a step on the way to what was asked for, not news; the answer after
    // the last write says where the server really ended.
    const bool keepOwnWrite =
        self->WritesPending() && s.Known && s.Index == info.Index && s.Source == info.Source;
    next = s;
    next.Known = true;
    next.Index = info.Index;
    next.Name = info.Name;
    next.Source = info.Source;
    if (!keepOwnWrite) {
      next.Volume = info.Volume;
      next.Mute = info.Mute;
    }
    notify = self->FEverKnown && Differs(s, next);
    self->FEverKnown = true;
    s = next;
  }
  self->MarkStarted();
  self->ReportPresence();
  if (notify) self->Notify(next);
}

void TPulseEndpoint::Notify(const TSinkState& state) {
  std::vector<float> channels(state.Volume.channels);
  for (unsigned i = 0; i < state.Volume.channels; ++i)
    channels[i] = TEndpointBackend::ClampLevel(static_cast<float>(state.Volume.values[i]) /
                                               static_cast<float>(PA_VOLUME_NORM));
  FCallbacks.Deliver(LevelOf(state.Volume), state.Mute, channels);
}

void TPulseEndpoint::OnCallSuccess(pa_context* c, int success, void* holder) {
  auto* h = static_cast<TCallHolder*>(holder);
  TPulseEndpoint* self = h->Self;
  const bool current = h->Generation == self->FGeneration && c == self->FContext;
  const bool isMute = h->IsMute;
  if (!current) return;
  uint32_t index;
  bool source;
  {
    std::lock_guard lock(self->FLock);
    (isMute ? self->FMuteWrite : self->FLevelWrite).OnItsWay = false;
    index = self->FSink.Index;
    source = self->FSink.Source;
  }
  // Refused (the device went away, a value the server does not take): the known state is wrong
  // until the server says what it has.
  if (success == 0 && index != PA_INVALID_INDEX) self->QueryIndex(source, index);
  self->Send(isMute);
  self->FDrainedCv.notify_all();
}

void TPulseEndpoint::OnCallState(pa_operation* o, void* holder) {
  // Answered or cancelled with its connection: either way nothing more comes for it.
  if (pa_operation_get_state(o) != PA_OPERATION_RUNNING) delete static_cast<TCallHolder*>(holder);
}

void TPulseEndpoint::OnReportDue(pa_mainloop_api* api, pa_defer_event* e, void* selfPtr) {
  api->defer_enable(e, 0);
  auto* self = static_cast<TPulseEndpoint*>(selfPtr);
  TSinkState state;
  uint64_t asked;
  bool notify;
  {
    std::lock_guard lock(self->FLock);
    notify = std::exchange(self->FNotifyDue, false);
    state = self->FSink;
    asked = self->FReportsAsked;
  }
  if (notify) self->Notify(state);
  {
    std::lock_guard lock(self->FLock);
    self->FReportsDone = asked;
  }
  self->FReportedCv.notify_all();
}

bool TPulseEndpoint::WritesPending() const {
  return FLevelWrite.Waiting || FLevelWrite.OnItsWay || FMuteWrite.Waiting || FMuteWrite.OnItsWay;
}

void TPulseEndpoint::ForgetWrites() {
  FLevelWrite = TWriteSlot{};
  FMuteWrite = TWriteSlot{};
}

HRESULT TPulseEndpoint::KnownSinkResult() const {
  if (!FConnected) return AUDCLNT_E_SERVICE_NOT_RUNNING;
  if (!FSink.Known) return AUDCLNT_E_DEVICE_INVALIDATED;
  return S_OK;
}

HRESULT TPulseEndpoint::DefaultDevice() {
  std::lock_guard lock(FLock);
  if (!FConnected) return AUDCLNT_E_SERVICE_NOT_RUNNING;
  return FSink.Known ? S_OK : E_NOTFOUND;
}

HRESULT TPulseEndpoint::GetLevel(float& level) {
  std::lock_guard lock(FLock);
  if (const HRESULT hr = KnownSinkResult(); FAILED(hr)) return hr;
  level = LevelOf(FSink.Volume);
  return S_OK;
}

HRESULT TPulseEndpoint::GetMute(bool& mute) {
  std::lock_guard lock(FLock);
  if (const HRESULT hr = KnownSinkResult(); FAILED(hr)) return hr;
  mute = FSink.Mute;
  return S_OK;
}

HRESULT TPulseEndpoint::GetChannelCount(UINT& count) {
  std::lock_guard lock(FLock);
  if (const HRESULT hr = KnownSinkResult(); FAILED(hr)) return hr;
  count = FSink.Volume.channels;
  return S_OK;
}

EDataFlow TPulseEndpoint::DataFlow() const {
  std::lock_guard lock(FLock);
  if (FTarget == kDefaultSource) return eCapture;
  return FSink.Source ? eCapture : eRender;  // a named device gone keeps what it was
}

HRESULT TPulseEndpoint::SetLevel(float level) {
  return Write(false, [&](TSinkState& s) { ApplyLevel(s.Volume, level); });
}

HRESULT TPulseEndpoint::StepLevel(int direction) {
  return Write(false, [&](TSinkState& s) {
    ApplyLevel(s.Volume, SteppedLevel(LevelOf(s.Volume), direction));
  });
}

HRESULT TPulseEndpoint::SetMute(bool mute) {
  return Write(true, [&](TSinkState& s) { s.Mute = mute; });
}

HRESULT TPulseEndpoint::Write(bool isMute, const std::function<void(TSinkState&)>& change) {
  // A callback on the main loop's thread already holds its lock, and is the thread a
  // notification would be handed to.
  const bool inLoop = pa_threaded_mainloop_in_thread(FLoop) != 0;
  if (!inLoop) pa_threaded_mainloop_lock(FLoop);
  TSinkState wanted;
  bool changed;
  uint64_t ticket = 0;
  {
    std::lock_guard lock(FLock);
    if (const HRESULT hr = KnownSinkResult(); FAILED(hr)) {
      if (!inLoop) pa_threaded_mainloop_unlock(FLoop);
      return hr;
    }
    const TSinkState before = FSink;
    change(FSink);
    wanted = FSink;
    changed = Differs(before, wanted);
    (isMute ? FMuteWrite : FLevelWrite).Waiting = true;
    if (!inLoop) {
      FNotifyDue = FNotifyDue || changed;
      ticket = ++FReportsAsked;
    }
  }
  Send(isMute);
  if (inLoop) {
    if (changed) Notify(wanted);
    return S_OK;
  }
  pa_threaded_mainloop_get_api(FLoop)->defer_enable(FReportDue, 1);
  pa_threaded_mainloop_unlock(FLoop);
  std::unique_lock lock(FLock);
  FReportedCv.wait_for(lock, kReportWait, [&] { return FReportsDone >= ticket; });
  return S_OK;
}

void TPulseEndpoint::Send(bool isMute) {
  TSinkState now;
  {
    std::lock_guard lock(FLock);
    TWriteSlot& slot = isMute ? FMuteWrite : FLevelWrite;
    if (!slot.Waiting || slot.OnItsWay) return;
    if (!FConnected || !FSink.Known) {
      slot.Waiting = false;
      return;
    }
    slot.Waiting = false;
    slot.OnItsWay = true;
    now = FSink;
  }
  auto* holder = new TCallHolder{this, FGeneration, isMute};
  pa_operation* op;
  if (now.Source)
    op = isMute ? pa_context_set_source_mute_by_index(FContext, now.Index, now.Mute ? 1 : 0,
                                                      OnCallSuccess, holder)
                : pa_context_set_source_volume_by_index(FContext, now.Index, &now.Volume,
                                                        OnCallSuccess, holder);
  else
    op = isMute ? pa_context_set_sink_mute_by_index(FContext, now.Index, now.Mute ? 1 : 0,
                                                    OnCallSuccess, holder)
                : pa_context_set_sink_volume_by_index(FContext, now.Index, &now.Volume,
                                                      OnCallSuccess, holder);
  if (op != nullptr) {
    pa_operation_set_state_callback(op, OnCallState, holder);
    pa_operation_unref(op);
    return;
  }
  // The connection is going; its end forgets every write.
  delete holder;
  std::lock_guard lock(FLock);
  (isMute ? FMuteWrite : FLevelWrite).OnItsWay = false;
}
