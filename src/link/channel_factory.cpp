#include <cstdlib>
#include <string>

#include "link/channel.hpp"
#include "link/sim_channel.hpp"
#include "link/stream_channel.hpp"

namespace kiv {

std::unique_ptr<Channel> MakeChannel(const LinkSettings& settings, std::string& error) {
  const char* env = std::getenv("KIVMOD_LINK");
  std::string_view target = env ? env : "";
  if (target.starts_with("sim:")) return MakeSimChannel(target.substr(4), error);
  return MakeStreamChannel(target, settings, error);
}

}  // namespace kiv
