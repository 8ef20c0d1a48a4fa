#include <qx/platform/audio/AudioDevices.h>

#include <pulse/pulseaudio.h>

#include <cmath>
#include <type_traits>

namespace {

struct TQuery {
  std::vector<TAudioDeviceInfo>* Devices = nullptr;
  String DefaultSink, DefaultSource;
  int Pending = 0;  // answers still to come
  bool Failed = false;
};

int32_t PercentOf(const pa_cvolume& v) {
  if (v.channels == 0) return 0;
  return static_cast<int32_t>(
      std::lround(100.0 * pa_cvolume_max(&v) / static_cast<double>(PA_VOLUME_NORM)));
}

bool IsMonitor(const pa_sink_info*) {
  return false;
}
bool IsMonitor(const pa_source_info* i) {
  return i->monitor_of_sink != PA_INVALID_INDEX;
}

// A sink's or a source's list entry, until the end of the list.
template <class Info>
void OnDevice(pa_context*, const Info* i, int eol, void* data) {
  auto& q = *static_cast<TQuery*>(data);
  if (eol != 0) {
    q.Failed = q.Failed || eol < 0;
    --q.Pending;
    return;
  }
  TAudioDeviceInfo d;
  d.Name = i->name != nullptr ? i->name : "";
  d.Description = i->description != nullptr ? i->description : "";
  d.Source = std::is_same_v<Info, pa_source_info>;
  d.Monitor = IsMonitor(i);
  d.Volume = PercentOf(i->volume);
  d.Mute = i->mute != 0;
  q.Devices->push_back(std::move(d));
}

void OnServer(pa_context*, const pa_server_info* i, void* data) {
  auto& q = *static_cast<TQuery*>(data);
  if (i != nullptr) {
    q.DefaultSink = i->default_sink_name != nullptr ? i->default_sink_name : "";
    q.DefaultSource = i->default_source_name != nullptr ? i->default_source_name : "";
  }
  --q.Pending;
}

}  // namespace

bool ListAudioDevices(std::vector<TAudioDeviceInfo>& devices, String& error,
                      std::chrono::milliseconds timeout) {
  devices.clear();
  pa_mainloop* loop = pa_mainloop_new();
  if (loop == nullptr) {
    error = "cannot start a sound-server client";
    return false;
  }
  pa_context* c = pa_context_new(pa_mainloop_get_api(loop), "qx-device-list");
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  bool asked = false, ok = false;
  TQuery q;
  q.Devices = &devices;
  if (c != nullptr && pa_context_connect(c, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0) {
    // A plain loop with a deadline: the list is wanted now or not at all.
    while (std::chrono::steady_clock::now() < deadline) {
      const pa_context_state_t st = pa_context_get_state(c);
      if (!PA_CONTEXT_IS_GOOD(st)) break;
      if (st == PA_CONTEXT_READY && !asked) {
        asked = true;
        q.Pending = 3;
        pa_operation_unref(pa_context_get_server_info(c, OnServer, &q));
        pa_operation_unref(pa_context_get_sink_info_list(c, OnDevice<pa_sink_info>, &q));
        pa_operation_unref(pa_context_get_source_info_list(c, OnDevice<pa_source_info>, &q));
      }
      if (asked && q.Pending == 0) {
        ok = !q.Failed;
        break;
      }
      pa_mainloop_prepare(loop, 50 * 1000);  // wake at least every 50 ms to check the deadline
      pa_mainloop_poll(loop);
      pa_mainloop_dispatch(loop);
    }
  }
  if (c != nullptr) {
    pa_context_disconnect(c);
    pa_context_unref(c);
  }
  pa_mainloop_free(loop);
  if (!ok) {
    devices.clear();
    error = "no sound server answers (PulseAudio or PipeWire)";
    return false;
  }
  for (TAudioDeviceInfo& d : devices)
    d.Default = d.Name == (d.Source ? q.DefaultSource : q.DefaultSink);
  return true;
}
