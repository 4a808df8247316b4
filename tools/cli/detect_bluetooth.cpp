#include "detect_bluetooth.hpp"

#ifdef KIVMOD_CLI_BLUETOOTH

#include <bluetooth/bluetooth.h>
#include <bluetooth/hci.h>
#include <bluetooth/hci_lib.h>
#include <bluetooth/sdp.h>
#include <bluetooth/sdp_lib.h>
#include <gio/gio.h>

#include <cerrno>
#include <cstring>
#include <memory>

namespace cli {
namespace {

// The major device class "phone" in a Bluetooth class of device.
constexpr uint32_t kMajorClassMask = 0x1F00;
constexpr uint32_t kMajorClassPhone = 0x0200;
constexpr int kBusWaitMs = 5000;

struct VariantFree {
  void operator()(GVariant* v) const { g_variant_unref(v); }
};
struct ObjectFree {
  void operator()(void* o) const { g_object_unref(o); }
};
struct SdpClose {
  void operator()(sdp_session_t* s) const { sdp_close(s); }
};
using Variant = std::unique_ptr<GVariant, VariantFree>;

std::string TakeError(GError* error) {
  std::string text = error ? error->message : "unknown error";
  if (error) g_error_free(error);
  return text;
}

std::string Text(GVariant* properties, const char* key) {
  const gchar* value = nullptr;
  return g_variant_lookup(properties, key, "&s", &value) && value ? value : "";
}

// A list of SDP items that frees itself (not the items).
struct SdpList {
  sdp_list_t* list = nullptr;
  ~SdpList() { sdp_list_free(list, nullptr); }
};

// The RFCOMM channel of the phone's serial port service; -1 with why when none is found.
int RfcommChannel(const std::string& address, std::string& why) {
  bdaddr_t target{}, any{};
  if (str2ba(address.c_str(), &target) != 0) {
    why = "not a Bluetooth address";
    return -1;
  }
  std::unique_ptr<sdp_session_t, SdpClose> session(sdp_connect(&any, &target, SDP_RETRY_IF_BUSY));
  if (!session) {
    why = std::string("service discovery could not reach it: ") + std::strerror(errno);
    return -1;
  }
  uuid_t serialPort;
  sdp_uuid16_create(&serialPort, SERIAL_PORT_SVCLASS_ID);
  uint32_t range = 0x0000FFFF;
  SdpList search{sdp_list_append(nullptr, &serialPort)}, attributes{sdp_list_append(nullptr, &range)}, records;
  if (sdp_service_search_attr_req(session.get(), search.list, SDP_ATTR_REQ_RANGE, attributes.list, &records.list) != 0) {
    why = std::string("service discovery failed: ") + std::strerror(errno);
    return -1;
  }
  int channel = -1;
  for (sdp_list_t* r = records.list; r; r = r->next) {
    auto* record = static_cast<sdp_record_t*>(r->data);
    sdp_list_t* protocols = nullptr;
    if (channel < 0 && sdp_get_access_protos(record, &protocols) == 0) {
      channel = sdp_get_proto_port(protocols, RFCOMM_UUID);
      for (sdp_list_t* p = protocols; p; p = p->next) sdp_list_free(static_cast<sdp_list_t*>(p->data), nullptr);
      sdp_list_free(protocols, nullptr);
    }
    sdp_record_free(record);
  }
  if (channel <= 0) {
    why = "it offers no serial port service";
    return -1;
  }
  return channel;
}

}  // namespace

bool PairedPhones(std::vector<PairedPhone>& out, std::string& why) {
  if (hci_get_route(nullptr) < 0) {
    why = "no Bluetooth adapter";
    return false;
  }
  GError* error = nullptr;
  std::unique_ptr<GDBusConnection, ObjectFree> bus(g_bus_get_sync(G_BUS_TYPE_SYSTEM, nullptr, &error));
  if (!bus) {
    why = "cannot reach the system bus to ask BlueZ for paired devices: " + TakeError(error);
    return false;
  }
  Variant reply(g_dbus_connection_call_sync(bus.get(), "org.bluez", "/", "org.freedesktop.DBus.ObjectManager",
                                            "GetManagedObjects", nullptr, G_VARIANT_TYPE("(a{oa{sa{sv}}})"),
                                            G_DBUS_CALL_FLAGS_NONE, kBusWaitMs, nullptr, &error));
  if (!reply) {
    why = "BlueZ does not answer (is bluetoothd running?): " + TakeError(error);
    return false;
  }
  Variant objects(g_variant_get_child_value(reply.get(), 0));
  for (gsize i = 0, n = g_variant_n_children(objects.get()); i < n; ++i) {
    Variant entry(g_variant_get_child_value(objects.get(), i));
    Variant interfaces(g_variant_get_child_value(entry.get(), 1));
    Variant device(g_variant_lookup_value(interfaces.get(), "org.bluez.Device1", G_VARIANT_TYPE("a{sv}")));
    if (!device) continue;
    gboolean paired = FALSE;
    guint32 deviceClass = 0;
    g_variant_lookup(device.get(), "Paired", "b", &paired);
    const bool hasClass = g_variant_lookup(device.get(), "Class", "u", &deviceClass);
    if (!paired || (hasClass && (deviceClass & kMajorClassMask) != kMajorClassPhone)) continue;
    PairedPhone phone{Text(device.get(), "Address"), Text(device.get(), "Alias"), -1, {}};
    if (phone.name.empty()) phone.name = Text(device.get(), "Name");
    phone.channel = RfcommChannel(phone.address, phone.problem);
    out.push_back(std::move(phone));
  }
  return true;
}

}  // namespace cli

#else

namespace cli {

bool PairedPhones(std::vector<PairedPhone>&, std::string& why) {
  why = "this kivmod was built without Bluetooth support (BlueZ)";
  return false;
}

}  // namespace cli

#endif
