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

void PrintCsv(std::ostream& out, const TextRow& header, const std::vector<TextRow>& rows) {
  auto print = [&](const TextRow& row) {
    for (size_t i = 0; i < row.size(); ++i) {
      const std::string& cell = row[i];
      if (i) out << ",";
      if (cell.find_first_of(",\"\r\n") == std::string::npos) {
        out << cell;
        continue;
      }
      out << '"';
      for (char c : cell) out << (c == '"' ? "\"\"" : std::string(1, c));
      out << '"';
    }
    out << "\n";
  };
  print(header);
  for (const TextRow& row : rows) print(row);
  out.flush();
}
