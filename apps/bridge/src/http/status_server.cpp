#include "status_server.h"

#include <httplib.h>

#include <asio/ip/address.hpp>

#include "page_assets.h"
#include "worker_pool.h"

namespace ombrix_bridge {
namespace {

using namespace std::chrono_literals;

// How often a stream looks for a new snapshot; with nothing new it sends a
// comment line, which both keeps proxies from closing it and finds out soon
// that the browser has gone.
constexpr auto kStreamWait = 250ms;

// The page is served with a policy that allows only its own script, style
// and stream: even a name that slipped through as markup could neither load
// nor run anything.
const httplib::Headers kSafetyHeaders = {
    {"Content-Security-Policy",
     "default-src 'none'; script-src 'self'; style-src 'self'; connect-src 'self'; img-src 'self'; "
     "base-uri 'none'; form-action 'none'; frame-ancestors 'none'"},
    {"X-Content-Type-Options", "nosniff"},
    {"Referrer-Policy", "no-referrer"},
    {"Cache-Control", "no-store"},
};

// Connections take their send buffer from the listening socket. A fixed
// one (which also turns off the kernel's growing it) bounds how far a
// stream can fall behind a browser that stopped reading: once it is full,
// the write time-out ends the stream within seconds, instead of megabytes
// of old snapshots queueing first. Snapshots skipped meanwhile are never
// sent: a stream always sends the newest one.
constexpr int kSendBuffer = 256 * 1024;

void ListeningSocketOptions(socket_t socket) {
  int yes = 1;
  // Reuse of an address in TIME_WAIT, so the bridge restarts at once; but
  // not SO_REUSEPORT, so a second bridge on the same port fails clearly.
  setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
  setsockopt(socket, SOL_SOCKET, SO_SNDBUF, &kSendBuffer, sizeof(kSendBuffer));
}

// Hands httplib the server's own pool: httplib deletes the queue it is
// given when it stops listening, while the pool must stay reachable for Stop.
class PoolHandle : public httplib::TaskQueue {
 public:
  explicit PoolHandle(WorkerPool* pool) : pool_(pool) {}
  void enqueue(std::function<void()> job) override { pool_->enqueue(std::move(job)); }
  void shutdown() override { pool_->shutdown(); }

 private:
  WorkerPool* pool_;
};

// Whether a request's Host header names this node. A page elsewhere on the
// web can make the browser it runs in send requests to the node's address
// under a name of its own that it re-points there (DNS rebinding) and read
// the answers; such requests carry that name. So the page answers only to
// loopback names, the node's own addresses and the names it was given
// (--http-host), whatever address it listens on.
bool HostAllowed(const std::string& host, const std::vector<std::string>& names) {
  std::string name = host;
  if (!name.empty() && name.front() == '[') {
    name = name.substr(1, name.find(']') == std::string::npos ? std::string::npos : name.find(']') - 1);
  } else if (name.find(':') != std::string::npos) {
    name = name.substr(0, name.find(':'));
  }
  for (char& c : name) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  if (name == "localhost") return true;
  asio::error_code failure;
  asio::ip::address address = asio::ip::make_address(name, failure);
  if (!failure && address.is_loopback()) return true;
  for (const std::string& allowed : names) {
    std::string lower = allowed;
    for (char& c : lower) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    if (lower == name) return true;
  }
  return false;
}

}  // namespace

bool ParseHttpAddress(const std::string& text, std::string* address, int* port, std::string* error) {
  std::string host = "127.0.0.1", portText = text;
  size_t colon = text.rfind(':');
  if (colon != std::string::npos) {
    host = text.substr(0, colon);
    portText = text.substr(colon + 1);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    asio::error_code failure;
    asio::ip::make_address(host, failure);
    if (failure || host.empty()) {
      *error = "--http " + text + ": \"" + host + "\" is not an IP address (write 0.0.0.0:PORT for every address).";
      return false;
    }
  }
  bool digits =
      !portText.empty() && portText.size() <= 5 && portText.find_first_not_of("0123456789") == std::string::npos;
  if (!digits || std::stoi(portText) > 65535) {
    *error = "--http " + text + ": the port must be a number from 0 to 65535.";
    return false;
  }
  *address = host;
  *port = std::stoi(portText);
  return true;
}

StatusServer::StatusServer(SnapshotBoard* board) : board_(board) {}

StatusServer::~StatusServer() { Stop(); }

bool StatusServer::Start(const std::string& where, std::string* error) {
  int port = 0;
  if (!ParseHttpAddress(where, &address_, &port, error)) return false;
  server_ = std::make_unique<httplib::Server>();
  pool_ = std::make_unique<WorkerPool>(kHttpWorkers, kHttpQueuedConnections);
  server_->new_task_queue = [this] { return new PoolHandle(pool_.get()); };
  server_->set_payload_max_length(1024);
  server_->set_keep_alive_max_count(20);
  server_->set_keep_alive_timeout(2);
  server_->set_read_timeout(3, 0);
  server_->set_write_timeout(3, 0);
  server_->set_default_headers(kSafetyHeaders);
  server_->set_socket_options(ListeningSocketOptions);
  if (address_.find(':') != std::string::npos) server_->set_address_family(AF_INET6);
  Routes();
  port_ = port == 0 ? server_->bind_to_any_port(address_) : (server_->bind_to_port(address_, port) ? port : -1);
  if (port_ <= 0) {
    *error = "status page: cannot listen on " + where + " (address in use, or not an address of this machine?)";
    pool_->shutdown();
    return false;
  }
  listener_ = std::thread([this] { server_->listen_after_bind(); });
  return true;
}

void StatusServer::Stop() {
  if (!server_) return;
  board_->Close();
  pool_->Release();
  server_->stop();
  if (listener_.joinable()) listener_.join();
  pool_->shutdown();  // when listening never started
  server_.reset();
}

void StatusServer::Routes() {
  server_->set_pre_routing_handler([this](const httplib::Request& request, httplib::Response& response) {
    if (HostAllowed(request.get_header_value("Host"), hosts_)) return httplib::Server::HandlerResponse::Unhandled;
    response.status = 403;
    response.set_content("this page answers to localhost, the node's addresses and the names given with --http-host\n",
                         "text/plain");
    return httplib::Server::HandlerResponse::Handled;
  });
  auto asset = [this](const char* path, const PageAsset& asset) {
    server_->Get(path, [&asset](const httplib::Request&, httplib::Response& response) {
      response.set_content(reinterpret_cast<const char*>(asset.data), asset.size, asset.type);
    });
  };
  asset("/", kPageHtml);
  asset("/page.js", kPageScript);
  asset("/page.css", kPageStyle);
  // Browsers ask for an icon; an empty answer keeps their consoles quiet.
  server_->Get("/favicon.ico", [](const httplib::Request&, httplib::Response& response) { response.status = 204; });

  server_->Get("/api/status", [this](const httplib::Request&, httplib::Response& response) {
    // Snapshots are made only while someone looks: the first request after
    // a quiet spell waits for a fresh one.
    std::shared_ptr<const PublishedStatus> latest = board_->Current(1s);
    if (!latest) {
      response.status = 503;
      response.set_content("no status yet; try again\n", "text/plain");
      return;
    }
    response.set_content(latest->Json(), "application/json");
  });

  server_->Get("/events", [this](const httplib::Request&, httplib::Response& response) {
    if (streams_.fetch_add(1) >= kMaxStreams) {
      streams_.fetch_sub(1);
      response.status = 503;
      response.set_header("Retry-After", "5");
      response.set_content("too many status pages open at once\n", "text/plain");
      return;
    }
    uint64_t seen = 0;
    response.set_chunked_content_provider(
        "text/event-stream",
        [this, seen](size_t, httplib::DataSink& sink) mutable {
          std::shared_ptr<const PublishedStatus> latest = board_->WaitNewer(seen, kStreamWait);
          if (board_->closed()) return false;
          if (!latest || latest->snapshot().sequence <= seen) return sink.write(":\n\n", 3);
          seen = latest->snapshot().sequence;
          // The JSON is compact: one line, as an event's data field needs.
          std::string event = "data: " + latest->Json() + "\n\n";
          return sink.write(event.data(), event.size());
        },
        [this](bool) { streams_.fetch_sub(1); });
  });
}

}  // namespace ombrix_bridge
