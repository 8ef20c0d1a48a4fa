// The MQTT bridge of qxvolumed: the volume and mute state published to a broker, commands taken
// from it, Home Assistant discovery. libmosquitto runs on a network thread of the bridge's own;
// whatever touches the volume component runs on the main thread, reached through a hidden
// window's posted messages. The network never holds the main thread: a broker that is down,
// refuses the login or stalls only delays the bridge, which reconnects with backoff.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include <qx/framework/app/Messages.h>
#include "MqttMessages.h"
#include "VolumeListeners.h"
#include "apps/common/AudioSettler.h"

struct mosquitto;
struct mosquitto_message;
class TEventPrinter;
class TQxMasterVol;

class TMqttBridge {
 public:
  // `volume` gives the running form's volume component (null while there is none); main thread.
  TMqttBridge(const TMqttTarget& target, TEventPrinter& printer, TVolumeListeners& listeners,
              std::function<TQxMasterVol*()> volume);
  // A clean stop: "offline" published, the connection closed, the thread joined (given a
  // moment, never waited on without end).
  ~TMqttBridge();
  TMqttBridge(const TMqttBridge&) = delete;
  TMqttBridge& operator=(const TMqttBridge&) = delete;

 private:
  struct TLink;  // what the network thread shares with the main thread
  void NetworkThread();
  void WndProc(TMessage& message);
  void PublishState(bool all);
  void Publish(const String& topic, const String& payload, int qos, bool retain);
  void Obey(const TMqttCommand& command);

  const TMqttTarget FTarget;
  TEventPrinter& FPrinter;
  TVolumeListeners& FListeners;
  std::function<TQxMasterVol*()> FVolume;
  int FListenerId = 0;
  TAudioSettler FSettler;
  HWND FWindow = nullptr;
  std::shared_ptr<TLink> FLink;
  std::thread FThread;

  // Main thread only.
  bool FUp = false;
  std::optional<std::pair<int32_t, bool>> FState, FPublished;
  bool FGarbageSaid[2] = {false, false};
};

// Reads the bridge's options. Returns -1 when the daemon goes on (`out` set when --mqtt is
// given), otherwise the exit status once the error is printed or --ha-remove is done.
int PrepareMqtt(const TMqttOptions& o, std::optional<TMqttTarget>& out);
