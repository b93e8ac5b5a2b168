// Text from a record or a command line made safe for formats that take only UTF-8.
#ifndef TELVARIO_CLI_UTF8_TEXT_H
#define TELVARIO_CLI_UTF8_TEXT_H

#include <cstddef>
#include <string>

namespace telvario::cli {

// The length of the well-formed UTF-8 sequence at `at` (a character XML takes too), 0 when there
// is none.
std::size_t Utf8SequenceLength(const std::string& text, std::size_t at);

// The text with every byte that starts no such sequence replaced by U+FFFD.
std::string ValidUtf8(const std::string& text);

}  // namespace telvario::cli

#endif
