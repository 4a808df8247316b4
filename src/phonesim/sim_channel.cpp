#include "phonesim/sim_channel.hpp"

#include <cstdlib>
#include <deque>
#include <filesystem>

#include "phonesim/phone.hpp"

namespace kiv {
namespace {

class SimChannel : public Channel {
 public:
  explicit SimChannel(std::shared_ptr<phonesim::Phone> phone) : phone_(std::move(phone)) {}

  int Open(std::string_view id) override { return phone_->Connect(id); }
  bool IsOpen() override { return phone_->LinkUp(); }
  void Close() override {
    phone_->Disconnect();
    pending_.clear();
  }
  bool Send(const CGenPacket& request) override {
    if (!phone_->LinkUp()) return false;
    phonesim::Packet p;
    p.cls = request.GetClass();
    p.code = request.GetCode();
    p.flag = request.GetFlag();
    p.seq = request.GetSeq();
    p.body.assign(request.Body().begin(), request.Body().end());
    if (auto answer = phone_->Handle(p)) pending_.push_back(std::move(*answer));
    phone_->Settle();
    return true;
  }
  int Read(CGenPacket& answer, uint32_t) override {
    // The simulated phone answers at once; a missing answer is a time-out.
    if (pending_.empty()) return 0;
    phonesim::Packet p = std::move(pending_.front());
    pending_.pop_front();
    answer.SetHeader(p.cls, p.code, p.flag, p.seq);
    answer.MutableBody() = std::move(p.body);
    return 1;
  }
  int PhoneInfo(uint8_t* info) override {
    if (!phone_->LinkUp()) return 0;
    auto record = phone_->PhoneInfo();
    std::copy(record.begin(), record.end(), info);
    return 1;
  }
  int SetBackupTool() override { return phone_->LinkUp() ? phone_->SetBackupTool() : 0; }

 private:
  std::shared_ptr<phonesim::Phone> phone_;
  std::deque<phonesim::Packet> pending_;
};

}  // namespace

std::unique_ptr<Channel> MakeSimChannel(std::shared_ptr<phonesim::Phone> phone) {
  return std::make_unique<SimChannel>(std::move(phone));
}

std::unique_ptr<Channel> MakeSimChannel(std::string_view folder, std::string& error) {
  std::filesystem::path root{std::string(folder)};
  std::error_code ec;
  if (folder.empty() || !std::filesystem::is_directory(root, ec)) {
    error = "simulated phone folder does not exist: " + std::string(folder);
    return nullptr;
  }
  phonesim::Config config;
  if (const char* file = std::getenv("KIVMOD_SIM_CONFIG"); file && *file) {
    auto loaded = phonesim::LoadConfig(file, error);
    if (!loaded) return nullptr;
    config = std::move(*loaded);
  }
  return MakeSimChannel(std::make_shared<phonesim::Phone>(root, std::move(config)));
}

}  // namespace kiv
