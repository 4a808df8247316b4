// The channel to a simulated phone in this process (KIVMOD_LINK=sim:FOLDER). Its settings
// come from the file named by KIVMOD_SIM_CONFIG when set.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "link/channel.hpp"

namespace phonesim {
class Phone;
}

namespace kiv {

std::unique_ptr<Channel> MakeSimChannel(std::string_view folder, std::string& error);
// A channel to a phone that the caller made (tests and tools configure it directly).
std::unique_ptr<Channel> MakeSimChannel(std::shared_ptr<phonesim::Phone> phone);

}  // namespace kiv
