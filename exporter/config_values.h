// The scalar values of the exporter's configuration file, each read from its text or refused
// with why (ValueError, which the reader turns into a ConfigError at the value's line).
#ifndef TELVARIO_EXPORTER_CONFIG_VALUES_H
#define TELVARIO_EXPORTER_CONFIG_VALUES_H

#include <stdexcept>
#include <string>

namespace telvario::exporter {

class ValueError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A value as an error shows it: quoted, cut short, on one line whatever it holds.
std::string Quoted(const std::string& text);

// A time: a number with a unit, ms, s, m or h ("500ms", "1s", "1.5s", "10m", "1h"), or a plain
// number of seconds; within [least, most] seconds.
double ReadDuration(const std::string& text, double least, double most);
// A whole number within [least, most].
int ReadWhole(const std::string& text, int least, int most);
// A positive number of seconds (a histogram bound).
double ReadSeconds(const std::string& text);
// 4 or 6.
int ReadFamily(const std::string& text);
// true or false.
bool ReadSwitch(const std::string& text);
// A host name or an address (an IPv6 one with its zone, or in brackets).
std::string ReadHost(const std::string& text);
// An http:// or https:// URL.
std::string ReadUrl(const std::string& text);

}  // namespace telvario::exporter

#endif
