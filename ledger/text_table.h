// The ledger's reports as an aligned table for people, or CSV (RFC 4180) for spreadsheets.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

using TextRow = std::vector<std::string>;

// Columns two blanks apart, each as wide as its widest cell; no blanks at the line ends.
void PrintTable(std::ostream& out, const TextRow& header, const std::vector<TextRow>& rows);
// A cell with a comma, a quote or a line end is quoted, its quotes doubled. A cell that a
// spreadsheet would take for a formula (one that begins with =, +, -, @, a tab or a carriage
// return) is written as text: a ' before it. The lone "-" of an empty cell is no formula and stays.
std::string CsvCell(const std::string& cell);
void PrintCsv(std::ostream& out, const TextRow& header, const std::vector<TextRow>& rows);
