#include <memory>
#include <mutex>

#include "link/builtin_link.hpp"
#include "link/phone_link.hpp"
#include "link/plugged_link.hpp"

namespace kiv {
namespace {

struct Links {
  BuiltinLink builtin;
  std::shared_ptr<PhoneLink> installed;
};

Links& TheLinks() {
  static Links links;
  return links;
}

}  // namespace

PhoneLink& CurrentLink() {
  Links& links = TheLinks();
  return links.installed ? *links.installed : links.builtin;
}

void InstallLink(std::shared_ptr<PhoneLink> link) { TheLinks().installed = std::move(link); }

void InstallHostLink(const KivPhoneLinkOps* ops) {
  InstallLink(ops ? std::make_shared<PluggedLink>(*ops) : nullptr);
}

}  // namespace kiv
