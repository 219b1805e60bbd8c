#include "station/page/page_server.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <optional>
#include <httplib.h>
#include <random>

#include "station/page/page_assets.h"
#include "station/page/page_events.h"
#include "station/page/page_ledger.h"
#include "station/page/page_metrics.h"
#include "station/page/run_capture.h"

using Json = nlohmann::json;

namespace {

// Each open page holds one thread with its event stream: room for a room full of browsers.
constexpr size_t kThreads = 64;
// A stream with nothing to say sends a comment this often, so that a closed page frees its thread.
constexpr std::chrono::seconds kKeepAlive{10};
constexpr int64_t kRunsPerPage = 50;
constexpr int64_t kMostRunsPerPage = 500;

// Board words and console text may hold any bytes: what is not UTF-8 becomes U+FFFD.
std::string JsonText(const Json& json) { return json.dump(-1, ' ', false, Json::error_handler_t::replace); }

void Answer(httplib::Response& response, const Json& json, int status = 200) {
  response.status = status;
  response.set_content(JsonText(json), "application/json");
}

void Refuse(httplib::Response& response, const std::string& words, int status) {
  Answer(response, Json{{"error", words}}, status);
}

std::string Today() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char text[16];
  std::strftime(text, sizeof text, "%Y-%m-%d", &utc);
  return text;
}

std::optional<std::string> Param(const httplib::Request& request, const char* name) {
  if (!request.has_param(name) || request.get_param_value(name).empty()) return std::nullopt;
  return request.get_param_value(name);
}

int64_t Number(const httplib::Request& request, const char* name, int64_t otherwise) {
  const auto text = Param(request, name);
  if (!text || text->size() > 9 || text->find_first_not_of("0123456789") != std::string::npos) return otherwise;
  return std::stoll(*text);
}

RunFilter FilterOf(const httplib::Request& request) {
  RunFilter filter;
  filter.since = Param(request, "since").value_or("");
  filter.until = Param(request, "until").value_or("");
  filter.station = Param(request, "station");
  filter.port = Param(request, "port");
  filter.result = Param(request, "result");
  filter.board = Param(request, "board");
  return filter;
}

// Text up to its last whole UTF-8 character (a capture read in the middle of one).
size_t WholeCharacters(const std::string& text) {
  size_t end = text.size();
  size_t back = 0;
  while (back < 4 && back < end && (static_cast<unsigned char>(text[end - 1 - back]) & 0xC0) == 0x80) ++back;
  if (back >= end) return end;
  const unsigned char lead = static_cast<unsigned char>(text[end - 1 - back]);
  const size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
  return length > back + 1 ? end - 1 - back : end;
}

bool SameText(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  unsigned char differ = 0;
  for (size_t i = 0; i < a.size(); ++i) differ |= static_cast<unsigned char>(a[i] ^ b[i]);
  return differ == 0;
}

std::string NewToken() {
  std::random_device random;
  std::string token;
  const char* const digits = "0123456789abcdef";
  for (int i = 0; i < 32; ++i) token += digits[random() & 15];
  return token;
}

}  // namespace

struct PageServer::State {
  httplib::Server server;
  PageHooks hooks;
  std::unique_ptr<PageLedger> ledger;
  PageEvents events;
  std::string host;
  int port = 0;

  Json Boards() const { return hooks.boards ? hooks.boards() : Json::array(); }
  std::optional<std::string> Station() const {
    return hooks.station.empty() ? std::nullopt : std::optional<std::string>(hooks.station);
  }
  void Routes(const std::string& token);

  // The console of one of this station's runs, read back from the capture the station wrote
  // beside the record the ledger names for it; at most 4 MiB an answer (the page asks again from
  // "next").
  void RunConsole(int64_t run, int64_t from, httplib::Response& response) {
    std::string words;
    const auto files = ledger->RunFiles(run, &words);
    if (!files) return Refuse(response, words, 503);
    const std::string number = std::to_string(run);
    if (files->is_null()) return Refuse(response, "Error: the ledger holds no run " + number + ".", 404);
    const Json& recordPath = (*files)["recordPath"];
    std::optional<std::string> text;
    if (!hooks.records.empty() && (*files)["station"] == hooks.station && recordPath.is_string()) {
      text = ReadRunCapture(hooks.records, recordPath.get<std::string>(), static_cast<size_t>(from), 4 << 20);
    }
    if (!text) return Refuse(response, "Error: this station keeps no console capture of run " + number + ".", 404);
    text->resize(WholeCharacters(*text));
    Answer(response, Json{{"run", run}, {"from", from}, {"next", from + static_cast<int64_t>(text->size())},
                          {"text", *text}});
  }
};

bool ParseListenAddress(const std::string& listen, std::string* host, int* port) {
  const size_t colon = listen.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == listen.size() || colon + 6 < listen.size())
    return false;
  const std::string digits = listen.substr(colon + 1);
  if (digits.find_first_not_of("0123456789") != std::string::npos) return false;
  *port = std::stoi(digits);
  *host = listen.substr(0, colon);
  if (host->size() > 2 && host->front() == '[' && host->back() == ']') *host = host->substr(1, host->size() - 2);
  return *port <= 65535 && host->find_first_of("[]/ ") == std::string::npos;
}

PageServer::PageServer() = default;

PageServer::~PageServer() { Stop(); }

bool PageServer::Start(const std::string& listen, PageHooks hooks, const std::string& ledgerUrl,
                       std::string* words) {
  Stop();
  state_ = std::make_unique<State>();
  State& state = *state_;
  if (!ParseListenAddress(listen, &state.host, &state.port)) {
    *words = "Error: cannot listen on '" + listen + "': give ADDRESS:PORT, such as 127.0.0.1:8080.";
    state_.reset();
    return false;
  }
  state.hooks = std::move(hooks);
  state.ledger = std::make_unique<PageLedger>(ledgerUrl, state.hooks.log);
  token_ = NewToken();
  // The library's default lets a second program bind the same port and take half the requests.
  state.server.set_socket_options([](socket_t socket) {
    int yes = 1;
    setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  state.server.new_task_queue = [] { return new httplib::ThreadPool(kThreads); };
  state.Routes(token_);
  errno = 0;
  const bool bound = state.port == 0 ? (state.port = state.server.bind_to_any_port(state.host)) > 0
                                     : state.server.bind_to_port(state.host, state.port);
  if (!bound) {
    const int error = errno;
    *words = "Error: cannot listen on " + listen + " (" +
             (error == EADDRINUSE ? std::string("the address is in use by another program")
              : error            ? std::string(std::strerror(error))
                                 : std::string("not an address of this computer")) +
             ").";
    state_.reset();
    return false;
  }
  thread_ = std::thread([&state] { state.server.listen_after_bind(); });
  return true;
}

std::string PageServer::Address() const {
  if (!state_) return "";
  const bool v6 = state_->host.find(':') != std::string::npos;
  return "http://" + (v6 ? "[" + state_->host + "]" : state_->host) + ":" + std::to_string(state_->port) + "/";
}

bool PageServer::WriteTokenFile(const std::string& path, std::string* words) const {
  const int file = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
  const std::string text = token_ + "\n";
  bool written = file >= 0 && fchmod(file, 0600) == 0 &&
                 ::write(file, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  const int error = errno;
  if (file >= 0 && ::close(file) != 0) written = false;
  if (!written) *words = "Error: cannot write the page's token to " + path + " (" + std::strerror(error) + ").";
  return written;
}

void PageServer::BoardChanged(const Json& board) {
  if (!state_) return;
  const std::string port = board.value("port", Json("")).is_string() ? board.value("port", std::string()) : "";
  state_->events.Publish("board", port, JsonText(board));
}

void PageServer::ConsoleAppended(const std::string& port, const std::string&) {
  if (state_) state_->events.Publish("console", port, JsonText(Json{{"port", port}}));
}

void PageServer::Stop() {
  if (!state_) return;
  state_->events.Close();
  state_->server.stop();
  if (thread_.joinable()) thread_.join();
  state_.reset();
}

void PageServer::State::Routes(const std::string& token) {
  // Nothing a board or a file says can run in the browser: the pages run only their own scripts.
  server.set_default_headers({
      {"Content-Security-Policy",
       "default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self'; connect-src 'self';"
       " base-uri 'none'; form-action 'self'; frame-ancestors 'none'"},
      {"X-Content-Type-Options", "nosniff"},
      {"Referrer-Policy", "no-referrer"},
      {"Cache-Control", "no-store"},
  });
  server.set_exception_handler([](const httplib::Request&, httplib::Response& response, std::exception_ptr) {
    Refuse(response, "Error: the page failed to answer this request.", 500);
  });

  auto page = [](const char* name) {
    return [name](const httplib::Request&, httplib::Response& response) {
      const PageAsset* asset = FindPageAsset(name);
      response.set_content(reinterpret_cast<const char*>(asset->data), asset->size, PageAssetType(name));
    };
  };
  server.Get("/", page("jig.html"));
  server.Get(R"(/board/.+)", page("board.html"));
  server.Get(R"(/run/\d+)", page("board.html"));
  server.Get("/yield", page("yield.html"));
  server.Get("/runs", page("runs.html"));
  server.Get("/favicon.ico", page("icon.svg"));
  server.Get(R"(/assets/([A-Za-z0-9_-]+\.[a-z]+))", [](const httplib::Request& request, httplib::Response& response) {
    const std::string name = request.matches[1];
    const PageAsset* asset = FindPageAsset(name);
    if (!asset || name.find(".html") != std::string::npos) return Refuse(response, "Error: no such file.", 404);
    response.set_content(reinterpret_cast<const char*>(asset->data), asset->size, PageAssetType(name));
  });

  // The boards live: a snapshot first, then each change as it happens.
  server.Get("/events", [this](const httplib::Request& request, httplib::Response& response) {
    const std::string consolePort = request.get_param_value("console");
    auto last = std::make_shared<uint64_t>(events.Last());
    auto first = std::make_shared<bool>(true);
    response.set_chunked_content_provider(
        "text/event-stream", [this, last, first, consolePort](size_t, httplib::DataSink& sink) {
          std::string text;
          if (*first) {
            *first = false;
            text = "retry: 1000\n\nevent: boards\ndata: " + JsonText(Boards()) + "\n\n";
            return sink.write(text.data(), text.size());
          }
          std::vector<PageEvent> got;
          bool lost = false;
          if (!events.Wait(*last, kKeepAlive, &got, &lost)) return false;
          if (lost) text += "event: boards\ndata: " + JsonText(Boards()) + "\n\n";
          for (const PageEvent& event : got) {
            *last = event.number;
            if (event.type == "console" && event.port != consolePort) continue;
            if (lost && event.type == "board") continue;  // the snapshot holds it
            text += "event: " + event.type + "\ndata: " + event.data + "\n\n";
          }
          if (text.empty()) text = ": still here\n\n";
          return sink.is_writable() && sink.write(text.data(), text.size());
        });
  });

  server.Get("/api/boards", [this](const httplib::Request&, httplib::Response& response) {
    Answer(response, Boards());
  });
  server.Get("/api/station", [this](const httplib::Request&, httplib::Response& response) {
    Answer(response, Json{{"station", hooks.station}, {"ledger", ledger->Configured()}});
  });
  server.Get("/api/console", [this](const httplib::Request& request, httplib::Response& response) {
    const int64_t from = std::max<int64_t>(0, Number(request, "from", 0));
    if (request.has_param("run")) return RunConsole(Number(request, "run", 0), from, response);
    const std::string port = request.get_param_value("port");
    std::string text = hooks.console ? hooks.console(port, static_cast<size_t>(from)) : "";
    text.resize(WholeCharacters(text));
    Answer(response, Json{{"port", port}, {"from", from}, {"next", from + static_cast<int64_t>(text.size())},
                          {"text", text}});
  });

  server.Get("/api/runs", [this](const httplib::Request& request, httplib::Response& response) {
    RunFilter filter = FilterOf(request);
    const int64_t per = std::clamp<int64_t>(Number(request, "per", kRunsPerPage), 1, kMostRunsPerPage);
    const int64_t pageNumber = std::max<int64_t>(1, Number(request, "page", 1));
    filter.newestFirst = true;
    filter.limit = per;
    filter.offset = (pageNumber - 1) * per;
    std::string words;
    auto runs = ledger->Runs(filter, &words);
    if (!runs) return Refuse(response, words, 503);
    (*runs)["page"] = pageNumber;
    (*runs)["per"] = per;
    Answer(response, *runs);
  });
  server.Get("/api/runs.csv", [this](const httplib::Request& request, httplib::Response& response) {
    std::string words;
    const auto csv = ledger->RunsCsv(FilterOf(request), &words);
    if (!csv) return Refuse(response, words, 503);
    response.set_header("Content-Disposition", "attachment; filename=\"runs.csv\"");
    response.set_content(*csv, "text/csv; charset=utf-8");
  });
  server.Get(R"(/api/runs/(\d{1,15}))", [this](const httplib::Request& request, httplib::Response& response) {
    std::string words;
    const auto run = ledger->Run(std::stoll(request.matches[1]), &words);
    if (!run) return Refuse(response, words, 503);
    if (run->is_null()) return Refuse(response, "Error: the ledger holds no run " + std::string(request.matches[1]) + ".", 404);
    Answer(response, *run);
  });
  server.Get("/api/steps", [this](const httplib::Request& request, httplib::Response& response) {
    std::string words;
    const auto station = request.has_param("station") ? Param(request, "station") : Station();
    const auto steps = ledger->StepMedians(station, &words);
    if (!steps) return Refuse(response, words, 503);
    Answer(response, *steps);
  });
  server.Get("/api/yield", [this](const httplib::Request& request, httplib::Response& response) {
    const std::string today = Today();
    const std::string from = Param(request, "from").value_or(today);
    const std::string to = Param(request, "to").value_or(from);
    const auto station = Param(request, "station");
    std::string words;
    const auto todays = ledger->Yield(today, today, station, &words);
    const auto period = todays ? ledger->Yield(from, to, station, &words) : std::nullopt;
    if (!period) return Refuse(response, words, words.rfind("Error: give", 0) == 0 ? 400 : 503);
    Answer(response, Json{{"today", *todays}, {"period", *period}});
  });

  server.Get("/metrics", [this](const httplib::Request&, httplib::Response& response) {
    int64_t running = 0;
    for (const Json& board : Boards()) running += board.value("state", Json("")) == "running";
    std::string words;
    const auto counts = ledger->Configured() ? ledger->MetricsCounts(Station(), &words) : std::nullopt;
    response.set_content(MetricsText(counts ? &*counts : nullptr, running, ledger->Errors()),
                         "text/plain; version=0.0.4; charset=utf-8");
  });

  // Acting needs the token: in the form (token=...) or as "Authorization: Bearer ...".
  server.Post("/api/act", [this, token](const httplib::Request& request, httplib::Response& response) {
    std::string given = request.get_param_value("token");
    const std::string authorization = request.get_header_value("Authorization");
    if (authorization.rfind("Bearer ", 0) == 0) given = authorization.substr(7);
    if (given.empty() || !SameText(given, token)) {
      return Refuse(response,
                    "Error: the page only shows; to act, give the token the station printed at its start.", 403);
    }
    const std::string action = request.get_param_value("action");
    const std::string port = request.get_param_value("port");
    if (action != "stop" && action != "start") {
      return Refuse(response, "Error: the page knows the actions stop and start, not '" + action + "'.", 400);
    }
    if (!hooks.act) return Refuse(response, "Error: this station takes no actions from the page.", 501);
    std::string words;
    if (!hooks.act(action, port, &words)) return Refuse(response, words.empty() ? "Error: refused." : words, 409);
    Answer(response, Json{{"done", words}});
  });
}
