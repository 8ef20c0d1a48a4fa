#include "HttpBridge.h"

#include <arpa/inet.h>
#include <microhttpd.h>
#include <netinet/in.h>
#include <openssl/crypto.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <set>

#include <qx/framework/app/Application.h>
#include <qx/master_volume/QxMasterVol.h>

namespace {

using Clock = std::chrono::steady_clock;

// Limits that keep one client from disturbing the others. A page holds one event stream and
// makes a request now and then; a hundred idle connections from one address still fit.
constexpr unsigned kConnectionLimit = 256;
constexpr unsigned kPerAddressLimit = 128;
// Seconds a connection may stay silent (headers or body arriving slowly, an idle keep-alive).
// Event streams wait suspended, which this does not count.
constexpr unsigned kIdleSeconds = 10;
// Per connection: the headers must fit in about half of it, or the request gets 431.
constexpr size_t kConnectionMemory = 32 * 1024;
constexpr size_t kBodyLimit = 1024;
// An event stream whose reader falls this far behind only gets the latest state: each event
// carries the whole state, so nothing older is worth keeping.
constexpr size_t kStreamBacklog = 4096;
// Failed tokens from one address before its requests wait, and the longest wait.
constexpr int kFreeFailures = 5;
constexpr auto kLongestPenalty = std::chrono::seconds(60);
constexpr size_t kFailureTable = 1024;
constexpr auto kPingPeriod = std::chrono::seconds(15);

String StateJson(int32_t volume, bool mute) {
  return "{\"volume\":" + std::to_string(volume) + ",\"mute\":" + (mute ? "true" : "false") + "}";
}

String ErrorJson(const String& reason) {
  // The reason may quote what a client sent: bytes that are not UTF-8 become U+FFFD.
  return nlohmann::json({{"error", reason}})
             .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) +
         "\n";
}

// A command parsed from a request body, run later on the main thread.
struct TCommand {
  enum { SetVolume, Step, Mute, ToggleMute } Kind = SetVolume;
  int32_t Value = 0;
};

// Returns the error text, empty when `out` holds the command.
String ParseCommand(const String& path, const String& body, TCommand& out) {
  nlohmann::json j;
  try {
    j = nlohmann::json::parse(body);
  } catch (const nlohmann::json::parse_error&) {
    return "the body is not JSON";
  }
  if (!j.is_object() || j.size() != 1) return "the body must be an object with one field";
  const auto& [key, value] = *j.items().begin();
  if (path == "/api/volume" && key == "volume") {
    if (!value.is_number_integer()) return "volume must be a whole number";
    const int64_t v = value.is_number_unsigned() && value.get<uint64_t>() > 100
                          ? 100
                          : std::clamp<int64_t>(value.get<int64_t>(), 0, 100);
    out = {TCommand::SetVolume, static_cast<int32_t>(v)};
    return "";
  }
  if (path == "/api/volume" && key == "step") {
    if (!value.is_number_integer() || (value.get<int64_t>() != 1 && value.get<int64_t>() != -1))
      return "step must be 1 or -1";
    out = {TCommand::Step, static_cast<int32_t>(value.get<int64_t>())};
    return "";
  }
  if (path == "/api/mute" && key == "mute") {
    if (value.is_boolean()) {
      out = {TCommand::Mute, value.get<bool>() ? 1 : 0};
      return "";
    }
    if (value.is_string() && value.get<std::string>() == "toggle") {
      out = {TCommand::ToggleMute, 0};
      return "";
    }
    return "mute must be true, false or \"toggle\"";
  }
  return path == "/api/volume"
             ? "expected {\"volume\":N} or {\"step\":1} or {\"step\":-1}"
             : "expected {\"mute\":true}, {\"mute\":false} or {\"mute\":\"toggle\"}";
}

// One request's state across the library's calls.
struct TRequest {
  MHD_Connection* Connection = nullptr;
  String Path;
  String Body;
  // Set once the answer is known (at once, or by the main thread before it resumes us).
  bool Done = false;
  unsigned Status = 0;
  String Answer;
};

// One open event stream. Shared by the server's response (until the library frees it) and the
// list the main thread pushes to.
struct TStream {
  MHD_Connection* Connection = nullptr;
  String Backlog;
  bool Suspended = false;
  std::atomic<bool> Gone{false};
};

struct TFailures {
  int Count = 0;
  Clock::time_point Until;
};

String ClientAddress(MHD_Connection* c) {
  const MHD_ConnectionInfo* info = MHD_get_connection_info(c, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
  char text[INET6_ADDRSTRLEN] = "?";
  if (info != nullptr && info->client_addr != nullptr) {
    const sockaddr* sa = info->client_addr;
    if (sa->sa_family == AF_INET)
      inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(sa)->sin_addr, text, sizeof text);
    else if (sa->sa_family == AF_INET6)
      inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(sa)->sin6_addr, text, sizeof text);
  }
  return text;
}

const char* Header(MHD_Connection* c, const char* name) {
  return MHD_lookup_connection_value(c, MHD_HEADER_KIND, name);
}

void CommonHeaders(MHD_Response* r, const char* type) {
  MHD_add_response_header(r, "Content-Type", type);
  MHD_add_response_header(r, "Cache-Control", "no-store");
  MHD_add_response_header(r, "X-Content-Type-Options", "nosniff");
  MHD_add_response_header(r, "Referrer-Policy", "no-referrer");
}

MHD_Result Reply(MHD_Connection* c, unsigned status, const String& body,
                 const char* type = "application/json",
                 const std::vector<std::pair<const char*, String>>& extra = {}) {
  MHD_Response* r = MHD_create_response_from_buffer(body.size(), const_cast<char*>(body.data()),
                                                    MHD_RESPMEM_MUST_COPY);
  if (r == nullptr) return MHD_NO;
  CommonHeaders(r, type);
  for (const auto& [name, value] : extra) MHD_add_response_header(r, name, value.c_str());
  const MHD_Result result = MHD_queue_response(c, status, r);
  MHD_destroy_response(r);
  return result;
}

}  // namespace

struct THttpBridge::TCore : std::enable_shared_from_this<TCore> {
  THttpOptions O;
  MHD_Daemon* Daemon = nullptr;
  int ListenFd = -1;
  uint16_t Port = 0;
  bool Tls = false;

  std::mutex Lock;  // everything below
  int32_t Volume = 0;
  bool Mute = false;
  bool Known = false;
  bool Stopping = false;
  std::vector<std::shared_ptr<TStream>> Streams;
  std::set<TRequest*> Pending;  // suspended, waiting for the main thread
  std::map<String, TFailures> Failures;

  TQxMasterVol* VolumeComponent = nullptr;  // main thread only

  // --- the server's thread ---
  MHD_Result Handle(MHD_Connection* c, const char* url, const char* method, const char* upload,
                    size_t* uploadSize, void** context);
  MHD_Result First(MHD_Connection* c, TRequest& req, const String& method);
  MHD_Result Page(MHD_Connection* c);
  MHD_Result State(MHD_Connection* c);
  MHD_Result Events(MHD_Connection* c);
  MHD_Result Command(MHD_Connection* c, TRequest& req);
  String HostProblem(MHD_Connection* c) const;
  // 0 when the token is right, else the status to answer (401, or 429 while slowed down).
  unsigned Authorize(MHD_Connection* c, bool queryToken, String& retryAfter);

  // --- the main thread ---
  void Run(TRequest* req, TCommand command);
  void Push(const String& text);
};

MHD_Result THttpBridge::TCore::Handle(MHD_Connection* c, const char* url, const char* method,
                                      const char* upload, size_t* uploadSize, void** context) {
  auto* req = static_cast<TRequest*>(*context);
  if (req == nullptr) {
    req = new TRequest;
    req->Connection = c;
    req->Path = url;
    *context = req;
    return First(c, *req, method);
  }
  if (*uploadSize != 0) {
    // A body sent without its length that runs over: the connection goes, nothing is read on.
    if (req->Body.size() + *uploadSize > kBodyLimit) return MHD_NO;
    req->Body.append(upload, *uploadSize);
    *uploadSize = 0;
    return MHD_YES;
  }
  bool done;
  {
    std::lock_guard<std::mutex> hold(Lock);  // written by the main thread before it resumed us
    done = req->Done;
  }
  return done ? Reply(c, req->Status, req->Answer) : Command(c, *req);
}

MHD_Result THttpBridge::TCore::First(MHD_Connection* c, TRequest& req, const String& method) {
  if (String problem = HostProblem(c); !problem.empty()) return Reply(c, 421, ErrorJson(problem));
  // No CORS: a page of another origin gets no answer it may read, and its commands are refused
  // here before the token is even looked at.
  if (const char* origin = Header(c, "Origin"); origin != nullptr) {
    const char* host = Header(c, "Host");
    const String own = String(Tls ? "https://" : "http://") + (host ? host : "");
    if (!SameText(origin, own))
      return Reply(c, 403, ErrorJson(String("requests from ") + origin + " are refused"));
  }
  const bool get = method == "GET" || method == "HEAD";
  const String& path = req.Path;
  struct TRoute {
    const char* Path;
    bool Get;
  };
  static const TRoute routes[] = {
      {"/", true},           {"/index.html", true},  {"/api/state", true},
      {"/api/events", true}, {"/api/volume", false}, {"/api/mute", false}};
  const TRoute* route = nullptr;
  for (const TRoute& r : routes)
    if (path == r.Path) route = &r;
  if (route == nullptr) return Reply(c, 404, ErrorJson("no such page: " + path));
  if (route->Get ? !get : method != "POST")
    return Reply(c, 405,
                 ErrorJson(method + " is not allowed here; use " + (route->Get ? "GET" : "POST")),
                 "application/json", {{"Allow", route->Get ? "GET, HEAD" : "POST"}});
  if (path.rfind("/api/", 0) != 0) return Page(c);

  String retryAfter;
  if (unsigned status = Authorize(c, path == "/api/events", retryAfter); status == 429)
    return Reply(c, 429,
                 ErrorJson("too many wrong tokens from this address; wait " + retryAfter + " s"),
                 "application/json", {{"Retry-After", retryAfter}});
  else if (status != 0)
    return Reply(c, status, ErrorJson("a valid token is needed (Authorization: Bearer TOKEN)"),
                 "application/json", {{"WWW-Authenticate", "Bearer"}});
  if (path == "/api/state") return State(c);
  if (path == "/api/events") return Events(c);
  // A command: its body comes next, unless it says it is too large.
  const char* length = Header(c, "Content-Length");
  if (length != nullptr && (std::strlen(length) > 9 || std::atol(length) > long(kBodyLimit)))
    return Reply(c, 413, ErrorJson("the body is over " + std::to_string(kBodyLimit) + " bytes"));
  return MHD_YES;
}

String THttpBridge::TCore::HostProblem(MHD_Connection* c) const {
  const char* value = Header(c, "Host");
  if (value == nullptr) return "a Host header is needed";
  String host = LowerCase(value), port;
  const size_t colon = host.rfind(':');
  if (colon != String::npos && host.find(']', colon) == String::npos) {
    port = host.substr(colon + 1);
    host.resize(colon);
  }
  const bool known = std::find(O.HostNames.begin(), O.HostNames.end(), host) != O.HostNames.end();
  if (!known || (!port.empty() && port != std::to_string(Port)))
    return "this server answers to its own addresses and name only, not to '" + String(value) + "'";
  return "";
}

unsigned THttpBridge::TCore::Authorize(MHD_Connection* c, bool queryToken, String& retryAfter) {
  const String peer = ClientAddress(c);
  const auto now = Clock::now();
  std::lock_guard<std::mutex> hold(Lock);
  auto it = Failures.find(peer);
  if (it != Failures.end() && now < it->second.Until) {
    const auto wait = std::chrono::duration_cast<std::chrono::seconds>(it->second.Until - now);
    retryAfter = std::to_string(wait.count() + 1);
    return 429;
  }
  String given;
  if (const char* auth = Header(c, "Authorization"); auth != nullptr) {
    const String a = auth;
    if (a.size() > 7 && SameText(a.substr(0, 7), "Bearer ")) given = a.substr(7);
  } else if (queryToken) {
    if (const char* t = MHD_lookup_connection_value(c, MHD_GET_ARGUMENT_KIND, "t")) given = t;
  }
  const bool right = given.size() == O.Token.size() &&
                     CRYPTO_memcmp(given.data(), O.Token.data(), given.size()) == 0;
  if (right) {
    if (it != Failures.end()) Failures.erase(it);
    return 0;
  }
  if (it == Failures.end()) {
    // The table stays small whatever a crowd of addresses sends: the oldest entry makes room.
    if (Failures.size() >= kFailureTable) Failures.erase(Failures.begin());
    it = Failures.emplace(peer, TFailures()).first;
  }
  if (++it->second.Count > kFreeFailures) {
    const int doublings = std::min(it->second.Count - kFreeFailures - 1, 6);
    it->second.Until = now + std::min<Clock::duration>(std::chrono::seconds(1) * (1 << doublings),
                                                       kLongestPenalty);
  }
  return 401;
}

MHD_Result THttpBridge::TCore::Page(MHD_Connection* c) {
  return Reply(c, 200, kHttpPage, "text/html; charset=utf-8",
               {{"Content-Security-Policy",
                 "default-src 'none'; style-src 'unsafe-inline'; script-src 'unsafe-inline'; "
                 "connect-src 'self'; img-src data:; base-uri 'none'; form-action 'none'; "
                 "frame-ancestors 'none'"}});
}

MHD_Result THttpBridge::TCore::State(MHD_Connection* c) {
  String body;
  {
    std::lock_guard<std::mutex> hold(Lock);
    if (!Known) return Reply(c, 503, ErrorJson("the volume is not known yet"));
    body = StateJson(Volume, Mute) + "\n";
  }
  return Reply(c, 200, body);
}

namespace {

ssize_t ReadStream(void* cls, uint64_t, char* buf, size_t max);
void FreeStream(void* cls);

// The response's hold on its stream, and the core's lock it reads under.
struct TStreamHold {
  std::shared_ptr<TStream> Stream;
  std::shared_ptr<THttpBridge::TCore> Core;
};

}  // namespace

MHD_Result THttpBridge::TCore::Events(MHD_Connection* c) {
  auto stream = std::make_shared<TStream>();
  stream->Connection = c;
  {
    std::lock_guard<std::mutex> hold(Lock);
    if (Stopping) return Reply(c, 503, ErrorJson("the daemon is stopping"));
    stream->Backlog = "retry: 2000\n\n";
    if (Known) stream->Backlog += "event: state\ndata: " + StateJson(Volume, Mute) + "\n\n";
    Streams.push_back(stream);
  }
  auto* hold = new TStreamHold{stream, shared_from_this()};
  MHD_Response* r =
      MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, 1024, ReadStream, hold, FreeStream);
  if (r == nullptr) {
    FreeStream(hold);
    return MHD_NO;
  }
  CommonHeaders(r, "text/event-stream");
  MHD_add_response_header(r, "X-Accel-Buffering", "no");
  const MHD_Result result = MHD_queue_response(c, 200, r);
  MHD_destroy_response(r);
  return result;
}

namespace {

ssize_t ReadStream(void* cls, uint64_t, char* buf, size_t max) {
  auto* hold = static_cast<TStreamHold*>(cls);
  TStream& s = *hold->Stream;
  std::lock_guard<std::mutex> lock(hold->Core->Lock);
  if (!s.Backlog.empty()) {
    const size_t n = std::min(max, s.Backlog.size());
    std::memcpy(buf, s.Backlog.data(), n);
    s.Backlog.erase(0, n);
    return static_cast<ssize_t>(n);
  }
  if (hold->Core->Stopping) return MHD_CONTENT_READER_END_OF_STREAM;
  // Nothing to send: parked until Push has something (returning 0 alone would spin).
  s.Suspended = true;
  MHD_suspend_connection(s.Connection);
  return 0;
}

void FreeStream(void* cls) {
  auto* hold = static_cast<TStreamHold*>(cls);
  hold->Stream->Gone = true;
  delete hold;
}

}  // namespace

MHD_Result THttpBridge::TCore::Command(MHD_Connection* c, TRequest& req) {
  TCommand command;
  if (String error = ParseCommand(req.Path, req.Body, command); !error.empty())
    return Reply(c, 400, ErrorJson(error));
  std::lock_guard<std::mutex> hold(Lock);
  if (Stopping) return Reply(c, 503, ErrorJson("the daemon is stopping"));
  // Suspended before the main thread can resume it.
  MHD_suspend_connection(c);
  Pending.insert(&req);
  Application->Queue([weak = weak_from_this(), r = &req, command] {
    if (auto core = weak.lock()) core->Run(r, command);
  });
  return MHD_YES;
}

void THttpBridge::TCore::Run(TRequest* req, TCommand command) {
  {
    std::lock_guard<std::mutex> hold(Lock);
    if (Pending.count(req) == 0) return;  // answered by the stop
  }
  unsigned status = 200;
  String answer;
  if (TQxMasterVol* v = VolumeComponent; v == nullptr) {
    status = 503;
    answer = ErrorJson("the volume component is being replaced; try again");
  } else {
    switch (command.Kind) {
      case TCommand::SetVolume:
        v->SetVolume(command.Value);
        break;
      case TCommand::Step:
        if (command.Value > 0)
          v->VolumeUp();
        else
          v->VolumeDown();
        break;
      case TCommand::Mute:
        v->Mute(command.Value != 0);
        break;
      case TCommand::ToggleMute:
        v->Mute(!v->GetMute());
        break;
    }
    answer = StateJson(v->Volume(), v->GetMute()) + "\n";
  }
  std::lock_guard<std::mutex> hold(Lock);
  if (Pending.erase(req) == 0) return;
  req->Status = status;
  req->Answer = answer;
  req->Done = true;
  MHD_resume_connection(req->Connection);
}

void THttpBridge::TCore::Push(const String& text) {
  // Lock held by the caller.
  std::erase_if(Streams, [](const std::shared_ptr<TStream>& s) { return s->Gone.load(); });
  for (const auto& s : Streams) {
    if (s->Backlog.size() + text.size() > kStreamBacklog) s->Backlog.clear();
    s->Backlog += text;
    if (s->Suspended) {
      s->Suspended = false;
      MHD_resume_connection(s->Connection);
    }
  }
}

namespace {

MHD_Result OnRequest(void* cls, MHD_Connection* c, const char* url, const char* method, const char*,
                     const char* upload, size_t* uploadSize, void** context) {
  // Nothing a client sends may end the daemon: a request whose handling throws (memory) loses
  // its connection.
  try {
    return static_cast<THttpBridge::TCore*>(cls)->Handle(c, url, method, upload, uploadSize,
                                                         context);
  } catch (const std::exception&) {
    return MHD_NO;
  }
}

void OnCompleted(void*, MHD_Connection*, void** context, MHD_RequestTerminationCode) {
  delete static_cast<TRequest*>(*context);
  *context = nullptr;
}

// Whatever a client sends wrong is its own affair: nothing of it reaches the daemon's output.
void Quiet(void*, const char*, va_list) {}

}  // namespace

THttpBridge::THttpBridge() : FCore(std::make_shared<TCore>()) {}

THttpBridge::~THttpBridge() {
  if (FPingTimer != 0) Application->CancelTimer(FPingTimer);
  if (FCore->Daemon == nullptr) return;
  {
    std::lock_guard<std::mutex> hold(FCore->Lock);
    FCore->Stopping = true;
    for (TRequest* req : FCore->Pending) {
      req->Status = 503;
      req->Answer = ErrorJson("the daemon is stopping");
      req->Done = true;
      MHD_resume_connection(req->Connection);
    }
    FCore->Pending.clear();
    for (const auto& s : FCore->Streams)
      if (s->Suspended && !s->Gone) {
        s->Suspended = false;
        MHD_resume_connection(s->Connection);
      }
  }
  MHD_stop_daemon(FCore->Daemon);  // closes the listening socket too
}

// Keeps idle event streams alive through proxies, and finds the pages that went away (a
// suspended stream notices nothing until it writes).
void THttpBridge::SchedulePing() {
  FPingTimer = Application->StartTimer(kPingPeriod, [this] {
    FPingTimer = 0;
    {
      std::lock_guard<std::mutex> hold(FCore->Lock);
      FCore->Push(": ping\n\n");
    }
    SchedulePing();
  });
}

String THttpBridge::Start(const THttpOptions& o) {
  TCore& core = *FCore;
  core.O = o;
  core.Tls = !o.CertPem.empty();
  const String where = o.Address + ":" + std::to_string(o.Port);
  if (core.Tls && MHD_is_feature_supported(MHD_FEATURE_TLS) != MHD_YES)
    return "cannot serve HTTPS: this libmicrohttpd has no TLS";
  // Bound here rather than by the library, so that a taken port is said in the system's words.
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(o.Port);
  if (inet_pton(AF_INET, o.Address.c_str(), &sa.sin_addr) != 1)
    return "--http needs a dotted IPv4 address, not '" + o.Address + "'";
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int on = 1;
  if (fd < 0) return String("cannot open a TCP socket: ") + std::strerror(errno);
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || listen(fd, 64) != 0) {
    const int err = errno;
    close(fd);
    return "cannot serve the page on " + where + ": " + std::strerror(err) +
           (err == EADDRINUSE ? " (try another --http port)" : "");
  }
  socklen_t len = sizeof sa;
  getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
  core.Port = ntohs(sa.sin_port);
  core.ListenFd = fd;

  unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL | MHD_ALLOW_SUSPEND_RESUME |
                   MHD_USE_ERROR_LOG;
  if (core.Tls) flags |= MHD_USE_TLS;
  std::vector<MHD_OptionItem> options = {
      {MHD_OPTION_LISTEN_SOCKET, fd, nullptr},
      {MHD_OPTION_CONNECTION_LIMIT, kConnectionLimit, nullptr},
      {MHD_OPTION_PER_IP_CONNECTION_LIMIT, kPerAddressLimit, nullptr},
      {MHD_OPTION_CONNECTION_TIMEOUT, kIdleSeconds, nullptr},
      {MHD_OPTION_CONNECTION_MEMORY_LIMIT, static_cast<intptr_t>(kConnectionMemory), nullptr},
      {MHD_OPTION_STRICT_FOR_CLIENT, 1, nullptr},
      {MHD_OPTION_NOTIFY_COMPLETED, reinterpret_cast<intptr_t>(&OnCompleted), nullptr},
      {MHD_OPTION_EXTERNAL_LOGGER, reinterpret_cast<intptr_t>(&Quiet), nullptr},
  };
  if (core.Tls) {
    options.push_back({MHD_OPTION_HTTPS_MEM_CERT, 0, const_cast<char*>(core.O.CertPem.c_str())});
    options.push_back({MHD_OPTION_HTTPS_MEM_KEY, 0, const_cast<char*>(core.O.KeyPem.c_str())});
  }
  options.push_back({MHD_OPTION_END, 0, nullptr});
  core.Daemon = MHD_start_daemon(flags, 0, nullptr, nullptr, &OnRequest, &core, MHD_OPTION_ARRAY,
                                 options.data(), MHD_OPTION_END);
  if (core.Daemon == nullptr) {
    close(fd);
    core.ListenFd = -1;
    return "cannot serve the page on " + where +
           (core.Tls ? ": the certificate or key was refused" : ": the HTTP server did not start");
  }
  SchedulePing();
  return "";
}

uint16_t THttpBridge::Port() const {
  return FCore->Port;
}

void THttpBridge::Attach(TQxMasterVol* volume) {
  FCore->VolumeComponent = volume;
  if (volume != nullptr) Publish(volume->Volume(), volume->GetMute());
}

void THttpBridge::Publish(int32_t volume, bool mute) {
  std::lock_guard<std::mutex> hold(FCore->Lock);
  TCore& core = *FCore;
  if (core.Known && core.Volume == volume && core.Mute == mute) return;
  core.Volume = volume;
  core.Mute = mute;
  core.Known = true;
  core.Push("event: state\ndata: " + StateJson(volume, mute) + "\n\n");
}
