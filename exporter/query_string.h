// The parameters of a request's query string ("target=example.net&module=latency"), which come
// from whoever can reach the port: split at '&' and '=', percent-escapes and '+' decoded, and
// refused whole where they are longer than any real query or not well formed.
#ifndef TELVARIO_EXPORTER_QUERY_STRING_H
#define TELVARIO_EXPORTER_QUERY_STRING_H

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace telvario::exporter {

using QueryParameters = std::vector<std::pair<std::string, std::string>>;

// The parameters in their order; false with why in `failure`.
bool ParseQuery(std::string_view query, QueryParameters* parameters, std::string* failure);

// The value of the parameter `name`, "" where it is not given; `repeated` set where it is given
// more than once.
std::string QueryValue(const QueryParameters& parameters, std::string_view name,
                       bool* repeated = nullptr);

}  // namespace telvario::exporter

#endif
