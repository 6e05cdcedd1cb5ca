// The functions of module _textrows that parse typed tables (table.hpp),
// defined by textrows.cpp's module body:
//
//     table_parser(sep, quote, decimal_comma, columns, missing, rest_of_line) -> parser
//         sep, quote: one character or None (runs of blanks; no quoting);
//         columns: (kind, shape, scale, with_next) per field, kind one of
//         "number", "text", "time", "raw" and shape a time shape or "";
//         missing: the words that stand for NaN; rest_of_line (sep None
//         only): a last text column takes the rest of the line, blanks and
//         all. The parser (a capsule) keeps the text columns' words from
//         parse to parse.
//     parse_table(parser, data, out) -> (rows, bad, words, raw)
//         data: bytes of whole lines; out: float64 (lines, output columns).
//         rows: the rows written to the top of out, one per good line;
//         bad: (line, reason, field, begin, end) per line set aside (see
//         table.hpp's Reason; begin:end the field's bytes in data);
//         words: {output column: words first seen}; raw: {output column:
//         its fields, one per row}.
//     local_to_utc(values) -> None
//         wall-clock seconds (local, as if UTC) to UTC, in place.
#pragma once

#include "native/native.hpp"

namespace textrows {

extern const native::FunctionSpec table_parser_spec;
extern const native::FunctionSpec parse_table_spec;
extern const native::FunctionSpec local_to_utc_spec;

}  // namespace textrows
