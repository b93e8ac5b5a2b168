// The ranges of the object's settings that the client's options go to, and what the object uses
// unless told: one place for the options' checks and their help. Sonde2's come from the
// interface definition's enumeration Sonde2Bound (the component refuses Probes, ProbeInterval,
// Streams, Duration and MaxHops outside them); Sonde's PacketSize and PingReps take any value and
// fall back to their default, as the fixed interface has always done.
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

extern const SettingBounds kPacketSizeBounds;
extern const SettingBounds kPingRepsBounds;
extern const SettingBounds kProbesBounds;
extern const SettingBounds kProbeIntervalBounds;
extern const SettingBounds kStreamsBounds;
extern const SettingBounds kDurationBounds;
extern const SettingBounds kMaxHopsBounds;

}  // namespace telvario::cli

#endif
