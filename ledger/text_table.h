// The ledger's reports as an aligned table for people, or CSV (RFC 4180) for spreadsheets.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

using TextRow = std::vector<std::string>;

// Columns two blanks apart, each as wide as its widest cell; no blanks at the line ends.
void PrintTable(std::ostream& out, const TextRow& header, const std::vector<TextRow>& rows);
// A cell with a comma, a quote or a line end is quoted, its quotes doubled.
void PrintCsv(std::ostream& out, const TextRow& header, const std::vector<TextRow>& rows);
