#include "setting_bounds.h"

#include "chart_axes.h"

namespace telvario::cli {

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
