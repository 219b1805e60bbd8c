#include "ledger/text_table.h"

#include <algorithm>
#include <ostream>

void PrintTable(std::ostream& out, const TextRow& header, const std::vector<TextRow>& rows) {
  std::vector<size_t> widths(header.size());
  auto widen = [&](const TextRow& row) {
    for (size_t i = 0; i < row.size() && i < widths.size(); ++i)
      widths[i] = std::max(widths[i], row[i].size());
  };
  widen(header);
  for (const TextRow& row : rows) widen(row);
  auto print = [&](const TextRow& row) {
    std::string line;
    for (size_t i = 0; i < row.size(); ++i) {
      line += row[i];
      if (i + 1 < row.size()) line += std::string(widths[i] - row[i].size() + 2, ' ');
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    out << line << "\n";
  };
  print(header);
  for (const TextRow& row : rows) print(row);
  out.flush();
}

std::string CsvCell(const std::string& text) {
  const std::string cell =
      text != "-" && !text.empty() && std::string("=+-@\t\r").find(text[0]) != std::string::npos ? "'" + text : text;
  if (cell.find_first_of(",\"\r\n") == std::string::npos) return cell;
  std::string quoted = "\"";
  for (char c : cell) quoted += c == '"' ? "\"\"" : std::string(1, c);
  return quoted + "\"";
}

void PrintCsv(std::ostream& out, const TextRow& header, const std::vector<TextRow>& rows) {
  auto print = [&](const TextRow& row) {
    for (size_t i = 0; i < row.size(); ++i) out << (i ? "," : "") << CsvCell(row[i]);
    out << "\n";
  };
  print(header);
  for (const TextRow& row : rows) print(row);
  out.flush();
}
