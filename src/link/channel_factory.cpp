#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "link/channel.hpp"
#include "link/stream_channel.hpp"

namespace kiv {
namespace {

struct Scheme {
  std::string prefix;  // "sim:"
  ChannelMaker maker;
};

std::mutex& SchemesLock() {
  static std::mutex lock;
  return lock;
}

std::vector<Scheme>& Schemes() {
  static std::vector<Scheme> schemes;
  return schemes;
}

}  // namespace

void RegisterChannelMaker(std::string_view scheme, ChannelMaker maker) {
  std::string prefix = std::string(scheme) + ":";
  std::lock_guard guard(SchemesLock());
  for (auto& s : Schemes()) {
    if (s.prefix == prefix) {
      s.maker = maker;
      return;
    }
  }
  Schemes().push_back({std::move(prefix), maker});
}

std::unique_ptr<Channel> MakeChannel(const LinkSettings& settings, std::string& error) {
  const char* env = std::getenv("KIVMOD_LINK");
  std::string_view target = env ? env : "";
  ChannelMaker maker = nullptr;
  std::string_view rest;
  {
    std::lock_guard guard(SchemesLock());
    for (const auto& s : Schemes()) {
      if (target.starts_with(s.prefix)) {
        maker = s.maker;
        rest = target.substr(s.prefix.size());
      }
    }
  }
  if (maker) return maker(rest, error);
  return MakeStreamChannel(target, settings, error);
}

}  // namespace kiv
