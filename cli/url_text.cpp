#include "url_text.h"

namespace telvario::cli {

std::string WithoutUserinfo(std::string_view text) {
  constexpr std::string_view kSchemeEnd = "://";
  constexpr std::string_view kAuthorityEnds = "/?#\\ \t\r\n\"'<>";
  std::string shown;
  std::size_t from = 0;
  for (std::size_t mark = text.find(kSchemeEnd); mark != std::string_view::npos;
       mark = text.find(kSchemeEnd, from)) {
    const std::size_t authority = mark + kSchemeEnd.size();
    std::size_t end = text.find_first_of(kAuthorityEnds, authority);
    if (end == std::string_view::npos) end = text.size();
    // The last '@' ends the userinfo, as browsers read it: "a@b@host" is host's.
    const std::size_t at = text.substr(authority, end - authority).rfind('@');
    shown += text.substr(from, authority - from);
    from = at == std::string_view::npos ? authority : authority + at + 1;
  }
  shown += text.substr(from);
  return shown;
}

}  // namespace telvario::cli
