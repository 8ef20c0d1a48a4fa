// The endpoint's change path against a private sound server: SetMasterVolumeLevelScalar until
// OnNotify reports the new level on the notification thread (which no longer waits for the
// server), and until the server's own change event reaches a bare libpulse client, against that
// client setting the default sink's volume until its subscription event arrives, in the same
// run.
//   bench_audio_endpoint [ROUNDS]   (outside scripts/with-pulse it runs itself under it)
#include <cmath>

#include <qx/platform/audio/mmdevapi.h>
#include "bench/PulseBaseline.h"

namespace {

// Counts the notifications that carry the awaited level.
class TLevelWaiter : public TInterfacedObjectOf<IAudioEndpointVolumeCallback> {
 public:
  HRESULT OnNotify(PAUDIO_VOLUME_NOTIFICATION_DATA p) override {
    std::lock_guard lock(FLock);
    if (std::lround(p->fMasterVolume * 100) == FAwaited) {
      FSeen = true;
      FChanged.notify_all();
    }
    return S_OK;
  }
  // Sets the percent through the endpoint and waits for its notification.
  bool SetAndWait(IAudioEndpointVolume* v, int percent) {
    {
      std::lock_guard lock(FLock);
      FAwaited = percent;
      FSeen = false;
    }
    v->SetMasterVolumeLevelScalar(static_cast<float>(percent) / 100.0f, nullptr);
    std::unique_lock lock(FLock);
    return FChanged.wait_for(lock, kDeadline, [&] { return FSeen; });
  }

 private:
  std::mutex FLock;
  std::condition_variable FChanged;
  long FAwaited = -1;
  bool FSeen = false;
};

TComPtr<IAudioEndpointVolume> OpenEndpoint() {
  TComPtr<IMMDeviceEnumerator> e;
  TComPtr<IMMDevice> d;
  TComPtr<IAudioEndpointVolume> v;
  if (FAILED(CoCreateInstance(CLSID_MMDeviceEnumerator, nullptr, CLSCTX_INPROC_SERVER,
                              IID_IMMDeviceEnumerator, e.PutVoid())) ||
      FAILED(e->GetDefaultAudioEndpoint(eRender, eConsole, d.Put())) ||
      FAILED(d->Activate(IID_IAudioEndpointVolume, CLSCTX_INPROC_SERVER, nullptr, v.PutVoid())))
    return {};
  return v;
}

}  // namespace

int main(int argc, char** argv) {
  RunUnderPrivateServer(argc, argv);
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 1000;

  TPulseBaseline bare;
  TComPtr<IAudioEndpointVolume> endpoint = OpenEndpoint();
  if (!bare.Connect() || !endpoint) {
    std::fprintf(stderr, "bench_audio_endpoint: the private sound server does not answer\n");
    return 1;
  }
  TComPtr<TLevelWaiter> waiter(new TLevelWaiter);
  endpoint->RegisterControlChangeNotify(waiter.Get());

  std::vector<double> ours, base, served, base2;
  const bool measured =
      MeasureAgainstBaseline(
          "bench_audio_endpoint", rounds, bare,
          [&](int percent) { return waiter->SetAndWait(endpoint.Get(), percent); }, ours, base) &&
      MeasureAgainstBaseline(
          "bench_audio_endpoint", rounds, bare,
          [&](int percent) {
            const uint64_t before = bare.Events();
            endpoint->SetMasterVolumeLevelScalar(static_cast<float>(percent) / 100.0f, nullptr);
            return bare.EventAfter(before);
          },
          served, base2);
  endpoint->UnregisterControlChangeNotify(waiter.Get());
  if (!measured) return 1;
  std::printf("rounds per side: %zu\n", ours.size());
  PrintComparison("SetMasterVolumeLevelScalar -> OnNotify", Summarise(ours), Summarise(base));
  PrintComparison("level set -> the server's event", Summarise(served), Summarise(base2));
  return 0;
}
