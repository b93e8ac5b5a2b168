// The ranges of the object's settings that the client's options go to, and what the object uses
// unless told: one place for the options' checks and their help. (The component refuses
// Probes, ProbeInterval, Streams and Duration outside them; PacketSize and PingReps take any
// value and fall back to their default.)
#ifndef TELVARIO_CLI_SETTING_BOUNDS_H
#define TELVARIO_CLI_SETTING_BOUNDS_H

#include <string>

namespace telvario::cli {

struct SettingBounds {
  double least;
  double most;
  double fallback;
  const char* unit;     // "" for a count
  bool refusedOutside;  // false: other values give the fallback

  // "(1..32; 4 unless given)", "(8..1500; other values give 32)".
  std::string Help() const;
  // "takes 1 to 32", "takes 2 to 60 seconds".
  std::string Range() const;
  bool Holds(double value) const { return value >= least && value <= most; }
};

inline constexpr SettingBounds kPacketSizeBounds{8, 1500, 32, "bytes", false};
inline constexpr SettingBounds kPingRepsBounds{1, 100, 1, "", false};
inline constexpr SettingBounds kProbesBounds{1, 10000, 20, "", true};
inline constexpr SettingBounds kProbeIntervalBounds{10, 60000, 100, "ms", true};
inline constexpr SettingBounds kStreamsBounds{1, 32, 4, "", true};
inline constexpr SettingBounds kDurationBounds{2, 60, 10, "seconds", true};

}  // namespace telvario::cli

#endif
