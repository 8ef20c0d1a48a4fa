// The MQTT bridge's command line and what it resolves to: the broker's URL taken apart, the
// password read from a private file or a systemd credential, the topics under their prefix.
#pragma once

#include <qx/framework/core/System.h>

class TCommandLine;

struct TMqttOptions {
  String Url;           // --mqtt; empty: no bridge
  String PasswordFile;  // --mqtt-password-file
  String Topic;         // --mqtt-topic; empty: qxvolumed/NODE
  String CaFile;        // --mqtt-cafile; empty: the system's certificate store
  String HaPrefix = "homeassistant";
  bool NoHaDiscovery = false;
  bool HaRemove = false;
};

// Where and how the bridge connects, and the topics it uses.
struct TMqttTarget {
  bool Tls = false;
  String Host;
  int Port = 0;
  String User, Password;  // empty user: no login
  String CaFile;
  String Node;      // the host name, safe for a topic and an entity id
  String Device;    // the host name, as Home Assistant shows the device
  String Prefix;    // PREFIX: the state, command and availability topics are under it
  String HaPrefix;  // empty: no discovery
  bool HaRemove = false;
  String Broker() const { return Host + ":" + IntToStr(Port); }
};

// Registers the options on the daemon's command line.
void AddMqttOptions(TCommandLine& cl, TMqttOptions& o);
// Takes mqtt://[user@]host[:port] or mqtts://... apart; the error text, empty when fine.
String ParseMqttUrl(const String& url, TMqttTarget& out);
// Letters, digits, '-' and '_' kept (letters in lower case), anything else '_': a name that is
// one topic level and a valid entity id.
String TopicSafe(const String& name);
// Everything the bridge needs from the options: the URL, the password (--mqtt-password-file,
// else the credential "mqtt-password" in $CREDENTIALS_DIRECTORY), the topics. The error text
// (a bad command line or file: exit status 2), empty when `out` is complete.
String ResolveMqtt(const TMqttOptions& o, TMqttTarget& out);
