// Facts about batteries: the power supplies of type Battery in
// /sys/class/power_supply that power the system (a wireless mouse's battery,
// of scope Device, is not one of them).
//
// The kernel counts energy in µWh and µW, or, for batteries that report
// charge, in µAh and µA; Windows counts mWh. A charge becomes energy at the
// design voltage.
#include "posix/live/facts.h"

namespace posix_wmi {
namespace {

// What Windows gives as the run time while the system is on AC power.
constexpr uint32_t kRunTimeOnAc = 71582788;

std::optional<uint64_t> Micro(LiveFacts& f, size_t i, const char* attr) {
  auto text = BatteryText(f, i, attr);
  uint64_t v;
  if (!text || !ParseU64(*text, v)) return std::nullopt;
  return v;
}

// mWh of an energy attribute, or of its charge twin at the design voltage.
std::optional<uint64_t> MilliWattHours(LiveFacts& f, size_t i,
                                       const char* energy, const char* charge) {
  if (auto uwh = Micro(f, i, energy)) return *uwh / 1000;
  auto uah = Micro(f, i, charge);
  auto uv = Micro(f, i, "voltage_min_design");
  if (!uah || !uv || *uah > UINT64_MAX / *uv) return std::nullopt;
  return *uah * *uv / 1000000000;
}

}  // namespace

const std::vector<std::string>& LiveFacts::Batteries() {
  if (batteries_) return *batteries_;
  batteries_.emplace();
  for (const std::string& name : List("/sys/class/power_supply")) {
    std::string path = EntryPath(*this, "/sys/class/power_supply", name);
    if (Text(path + "/type") == "Battery" && Text(path + "/scope") != "Device")
      batteries_->push_back(path);
  }
  return *batteries_;
}

std::optional<std::string> BatteryText(LiveFacts& f, size_t i,
                                       const char* attr) {
  return f.Text(f.Batteries()[i] + "/" + attr);
}

std::optional<uint16_t> BatteryStatus(LiveFacts& f, size_t i) {
  auto status = BatteryText(f, i, "status");
  if (!status) return std::nullopt;
  if (*status == "Discharging") {
    auto level = BatteryText(f, i, "capacity_level");
    return level == "Critical" ? 5 : level == "Low" ? 4 : 1;
  }
  if (*status == "Charging") return 6;
  if (*status == "Full") return 3;
  if (*status == "Not charging") return 2;  // on AC, held below full
  return 10;                                // Undefined
}

std::optional<uint16_t> BatteryCharge(LiveFacts& f, size_t i) {
  auto pct = BatteryText(f, i, "capacity");
  uint32_t v;
  if (!pct || !ParseU32(*pct, v) || v > 100) return std::nullopt;
  return static_cast<uint16_t>(v);
}

std::optional<uint16_t> BatteryChemistry(LiveFacts& f, size_t i) {
  auto tech = BatteryText(f, i, "technology");
  if (!tech) return std::nullopt;
  if (*tech == "Li-ion") return 6;
  if (*tech == "Li-poly") return 8;
  if (*tech == "NiMH") return 5;
  if (*tech == "NiCd") return 4;
  if (*tech == "Unknown") return 2;
  return 1;  // Other: LiFe, LiMn
}

std::optional<uint32_t> BatteryCapacity(LiveFacts& f, size_t i, bool design) {
  auto mwh =
      design ? MilliWattHours(f, i, "energy_full_design", "charge_full_design")
             : MilliWattHours(f, i, "energy_full", "charge_full");
  if (!mwh || *mwh > UINT32_MAX) return std::nullopt;
  return static_cast<uint32_t>(*mwh);
}

std::optional<uint64_t> BatteryDesignVoltage(LiveFacts& f, size_t i) {
  auto uv = Micro(f, i, "voltage_min_design");
  if (!uv) return std::nullopt;
  return *uv / 1000;
}

// Minutes left at the present drain.
std::optional<uint32_t> BatteryRunTime(LiveFacts& f, size_t i) {
  auto status = BatteryText(f, i, "status");
  if (!status) return std::nullopt;
  if (*status != "Discharging") return kRunTimeOnAc;
  auto left = Micro(f, i, "energy_now");
  auto drain = Micro(f, i, "power_now");
  if (!left || !drain) {
    left = Micro(f, i, "charge_now");
    drain = Micro(f, i, "current_now");
  }
  if (!left || !drain || *drain == 0 || *left > UINT64_MAX / 60)
    return std::nullopt;
  uint64_t minutes = *left * 60 / *drain;
  if (minutes > UINT32_MAX) return std::nullopt;
  return static_cast<uint32_t>(minutes);
}

// Windows joins the battery's serial number, maker and name.
std::optional<std::string> BatteryDeviceId(LiveFacts& f, size_t i) {
  std::string id;
  for (const char* attr : {"serial_number", "manufacturer", "model_name"})
    id += std::string(Trim(BatteryText(f, i, attr).value_or("")));
  if (id.empty()) {
    const std::string& path = f.Batteries()[i];
    id = path.substr(path.rfind('/') + 1);
  }
  return id;
}

std::optional<std::string> BatteryHealth(LiveFacts& f, size_t i) {
  auto health = BatteryText(f, i, "health");
  if (!health || *health == "Good") return "OK";
  if (*health == "Unknown") return "Unknown";
  return "Degraded";  // Dead, Overheat, Over voltage, Cold, ...
}

}  // namespace posix_wmi
