#include "setting_bounds.h"

#include "chart_axes.h"
#include "telvario2_idl.h"

namespace telvario::cli {

const SettingBounds kPacketSizeBounds{8, 1500, 32, "bytes", false};
const SettingBounds kPingRepsBounds{1, 100, 1, "", false};
const SettingBounds kProbesBounds{Sonde2LeastProbes, Sonde2MostProbes, Sonde2DefaultProbes, "",
                                  true};
const SettingBounds kProbeIntervalBounds{Sonde2LeastProbeInterval, Sonde2MostProbeInterval,
                                         Sonde2DefaultProbeInterval, "ms", true};
const SettingBounds kStreamsBounds{Sonde2LeastStreams, Sonde2MostStreams, Sonde2DefaultStreams, "",
                                   true};
const SettingBounds kDurationBounds{Sonde2LeastDuration, Sonde2MostDuration, Sonde2DefaultDuration,
                                    "seconds", true};
const SettingBounds kMaxHopsBounds{Sonde2LeastMaxHops, Sonde2MostMaxHops, Sonde2DefaultMaxHops, "",
                                   true};

std::string SettingBounds::Help() const {
  const std::string range = FigureText(least) + ".." + FigureText(most);
  return "(" + range + "; " +
         (refusedOutside ? FigureText(fallback) + " unless given"
                         : "other values give " + FigureText(fallback)) +
         ")";
}

std::string SettingBounds::Range() const {
  std::string range = "takes " + FigureText(least) + " to " + FigureText(most);
  if (*unit != '\0') range += std::string(" ") + unit;
  return range;
}

}  // namespace telvario::cli
