#include "status_page.h"

#include "network_choice.h"

namespace ombrix_bridge {

using Clock = ombrix::protocols::Clock;

StatusPage::StatusPage(const Api& api, const BridgeConfig& config)
    : config_(config), collector_(api, config, Clock::now()), server_(&board_) {}

StatusPage::~StatusPage() { Stop(); }

bool StatusPage::Start(std::string* error) {
  std::vector<std::string> hosts = config_.httpHosts;
  for (const NetworkInterfaceInfo& info : ListNetworkInterfaces()) hosts.push_back(info.address.to_string());
  server_.AllowHosts(hosts);
  return server_.Start(config_.http, error);
}

void StatusPage::Update(const std::vector<std::unique_ptr<OutputUniverse>>& outputs,
                        const std::vector<std::unique_ptr<InputStream>>& inputs,
                        const std::vector<std::unique_ptr<InterfacePort>>& ports, const SacnReceiver& sacn,
                        const ArtnetNode& artnet) {
  TimePoint now = Clock::now();
  if (now - lastUpdate_ < kPagePeriod || !board_.Watched(now)) return;
  lastUpdate_ = now;
  board_.Publish(collector_.Collect(outputs, inputs, ports, sacn, artnet, now));
}

void StatusPage::Stop() { server_.Stop(); }

std::string StatusPage::Url() const {
  const std::string& address = server_.address();
  std::string host = address.find(':') != std::string::npos ? "[" + address + "]" : address;
  if (address == "0.0.0.0" || address == "::") host = "<this machine's address>";
  return "http://" + host + ":" + std::to_string(server_.port()) + "/";
}

bool CheckHttpAddress(const std::string& text, std::string* error) {
  std::string address;
  int port = 0;
  return text.empty() || ParseHttpAddress(text, &address, &port, error);
}

}  // namespace ombrix_bridge
