// The functions of module _textrows that parse typed tables (table.hpp),
// defined by textrows.cpp's module body:
//
//     table_parser(sep, quote, decimal_comma, columns, missing) -> parser
//     parse_table(parser, data, out) -> (rows, bad, words, raw)
//     local_to_utc(values) -> None
#pragma once

#include "native/native.hpp"

namespace textrows {

extern const native::FunctionSpec table_parser_spec;
extern const native::FunctionSpec parse_table_spec;
extern const native::FunctionSpec local_to_utc_spec;

}  // namespace textrows
