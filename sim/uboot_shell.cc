#include "sim/uboot_shell.h"

#include <utility>

namespace sim {

namespace {

// A piece of a word and how it was quoted: plain text expands and splits, double-quoted text
// expands as one piece, single-quoted (and backslash-escaped) text is taken as it is.
struct Segment {
  enum Kind { kPlain, kDouble, kLiteral } kind;
  std::string text;
};
using Word = std::vector<Segment>;

struct Token {
  enum Kind { kWord, kSeparator, kAnd, kOr } kind;
  Word word;
};

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsNameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// Splits text into tokens; false with *incomplete set when a quote is left open.
bool Tokenize(const std::string& text, std::vector<Token>* tokens, bool* incomplete) {
  size_t i = 0;
  Word word;
  bool inWord = false;
  auto add = [&](Segment::Kind kind, const std::string& piece) {
    if (!word.empty() && word.back().kind == kind) word.back().text += piece;
    else word.push_back({kind, piece});
    inWord = true;
  };
  auto endWord = [&] {
    if (inWord) tokens->push_back({Token::kWord, word});
    word.clear();
    inWord = false;
  };
  while (i < text.size()) {
    const char c = text[i];
    if (IsBlank(c)) {
      endWord();
      ++i;
    } else if (c == ';' || c == '\n' || c == '\r') {
      endWord();
      tokens->push_back({Token::kSeparator, {}});
      ++i;
    } else if ((c == '&' || c == '|') && i + 1 < text.size() && text[i + 1] == c) {
      endWord();
      tokens->push_back({c == '&' ? Token::kAnd : Token::kOr, {}});
      i += 2;
    } else if (c == '#' && !inWord) {
      while (i < text.size() && text[i] != '\n') ++i;  // a comment
    } else if (c == '\'') {
      const size_t close = text.find('\'', i + 1);
      if (close == std::string::npos) return *incomplete = true, false;
      add(Segment::kLiteral, text.substr(i + 1, close - i - 1));
      i = close + 1;
    } else if (c == '"') {
      ++i;
      add(Segment::kDouble, "");
      for (;;) {
        if (i >= text.size()) return *incomplete = true, false;
        const char d = text[i];
        if (d == '"') {
          ++i;
          break;
        }
        if (d == '\\' && i + 1 < text.size() &&
            (text[i + 1] == '"' || text[i + 1] == '\\' || text[i + 1] == '$' || text[i + 1] == '`')) {
          add(Segment::kLiteral, std::string(1, text[i + 1]));
          add(Segment::kDouble, "");
          i += 2;
          continue;
        }
        add(Segment::kDouble, std::string(1, d));
        ++i;
      }
    } else if (c == '\\') {
      if (i + 1 >= text.size()) return *incomplete = true, false;
      add(Segment::kLiteral, std::string(1, text[i + 1]));
      i += 2;
    } else {
      add(Segment::kPlain, std::string(1, c));
      ++i;
    }
  }
  endWord();
  return true;
}

bool IsKeyword(const Token& t, const char* keyword) {
  return t.kind == Token::kWord && t.word.size() == 1 && t.word[0].kind == Segment::kPlain &&
         t.word[0].text == keyword;
}

bool IsAnyKeyword(const Token& t) {
  for (const char* k : {"for", "in", "do", "done", "if", "then", "else", "elif", "fi"})
    if (IsKeyword(t, k)) return true;
  return false;
}

}  // namespace

struct Shell::Node {
  enum Kind { kList, kSimple, kFor, kIf } kind = kList;
  enum Link { kThen, kAnd, kOr };
  std::vector<std::pair<Link, Node>> items;         // kList
  std::vector<Word> words;                          // kSimple; kFor: the words after "in"
  std::string variable;                             // kFor
  std::vector<std::pair<Node, Node>> branches;      // kFor: {body, -}; kIf: {condition, body}
  std::vector<Node> otherwise;                      // kIf: the else part, when there is one
};

namespace {

using Node = Shell::Node;

class Parser {
 public:
  explicit Parser(std::vector<Token> tokens) : t_(std::move(tokens)) {}
  bool incomplete = false;
  bool error = false;

  Node List(std::vector<const char*> terminators) {
    Node list;
    Node::Link link = Node::kThen;
    for (;;) {
      while (i_ < t_.size() && t_[i_].kind == Token::kSeparator) ++i_;
      if (i_ >= t_.size()) {
        if (!terminators.empty() || link != Node::kThen) incomplete = true;
        return list;
      }
      for (const char* k : terminators)
        if (IsKeyword(t_[i_], k)) return list;
      if (t_[i_].kind != Token::kWord) return Fail(), list;
      Node item = Item();
      if (error || incomplete) return list;
      list.items.emplace_back(link, std::move(item));
      link = Node::kThen;
      if (i_ >= t_.size()) continue;
      if (t_[i_].kind == Token::kAnd) link = Node::kAnd, ++i_;
      else if (t_[i_].kind == Token::kOr) link = Node::kOr, ++i_;
      else if (t_[i_].kind == Token::kSeparator) ++i_;
      else {
        // A word right after "done" or "fi" may only be a terminator of an outer block.
        bool ends = false;
        for (const char* k : terminators) ends = ends || IsKeyword(t_[i_], k);
        if (!ends) return Fail(), list;
      }
    }
  }

 private:
  void Fail() { error = true; }

  bool Expect(const char* keyword) {
    while (i_ < t_.size() && t_[i_].kind == Token::kSeparator) ++i_;
    if (i_ >= t_.size()) return incomplete = true, false;
    if (!IsKeyword(t_[i_], keyword)) return error = true, false;
    ++i_;
    return true;
  }

  Node Item() {
    Node node;
    if (IsKeyword(t_[i_], "for")) {
      node.kind = Node::kFor;
      ++i_;
      if (i_ >= t_.size()) return incomplete = true, node;
      const Token& name = t_[i_];
      if (name.kind != Token::kWord || name.word.size() != 1 || name.word[0].kind != Segment::kPlain)
        return error = true, node;
      node.variable = name.word[0].text;
      ++i_;
      if (!Expect("in")) return node;
      while (i_ < t_.size() && t_[i_].kind == Token::kWord) node.words.push_back(t_[i_++].word);
      if (i_ >= t_.size()) return incomplete = true, node;
      if (t_[i_].kind != Token::kSeparator) return error = true, node;
      if (!Expect("do")) return node;
      Node body = List({"done"});
      if (error || incomplete || !Expect("done")) return node;
      node.branches.emplace_back(std::move(body), Node());
      return node;
    }
    if (IsKeyword(t_[i_], "if")) {
      node.kind = Node::kIf;
      ++i_;
      for (;;) {
        Node condition = List({"then"});
        if (error || incomplete || !Expect("then")) return node;
        Node body = List({"elif", "else", "fi"});
        if (error || incomplete) return node;
        node.branches.emplace_back(std::move(condition), std::move(body));
        if (i_ >= t_.size()) return incomplete = true, node;
        if (IsKeyword(t_[i_], "elif")) {
          ++i_;
          continue;
        }
        if (IsKeyword(t_[i_], "else")) {
          ++i_;
          node.otherwise.push_back(List({"fi"}));
          if (error || incomplete) return node;
        }
        Expect("fi");
        return node;
      }
    }
    if (IsAnyKeyword(t_[i_])) return error = true, node;
    node.kind = Node::kSimple;
    while (i_ < t_.size() && t_[i_].kind == Token::kWord) node.words.push_back(t_[i_++].word);
    return node;
  }

  std::vector<Token> t_;
  size_t i_ = 0;
};

ParseResult Parse(const std::string& text, Node* out) {
  std::vector<Token> tokens;
  bool incomplete = false;
  if (!Tokenize(text, &tokens, &incomplete)) return ParseResult::kIncomplete;
  Parser parser(std::move(tokens));
  Node list = parser.List({});
  if (parser.error) return ParseResult::kSyntaxError;
  if (parser.incomplete) return ParseResult::kIncomplete;
  if (out) *out = std::move(list);
  return ParseResult::kComplete;
}

constexpr int kMaxDepth = 32;

}  // namespace

Shell::Shell(UBootContext& ctx, std::vector<Command> commands)
    : ctx_(ctx), commands_(std::move(commands)) {}

Shell::~Shell() = default;

ParseResult Shell::Check(const std::string& text) { return Parse(text, nullptr); }

bool UBootContext::CtrlC() {
  if (!uart.HasInput() || uart.Receive(0) != 0x03) return false;
  interrupted = true;
  return true;
}

int Shell::Run(const std::string& text) {
  Node script;
  const ParseResult parsed = Parse(text, &script);
  if (parsed != ParseResult::kComplete) {
    ctx_.uart.Send("syntax error\n");
    ctx_.repeatable = false;
    return 1;
  }
  if (depth >= kMaxDepth) {
    ctx_.uart.Send("## Error: scripts nested too deep\n");
    return 1;
  }
  ++depth;
  const int status = Execute(script);
  --depth;
  return status;
}

const Command* Shell::Find(const std::string& word) const {
  const std::string name = word.substr(0, word.find('.'));
  const Command* found = nullptr;
  int matches = 0;
  for (const Command& c : commands_) {
    if (c.name == name) return &c;
    if (c.name.compare(0, name.size(), name) == 0) {
      found = &c;
      ++matches;
    }
  }
  return matches == 1 && !name.empty() ? found : nullptr;
}

std::string Shell::Variable(const std::string& name) const {
  if (name == "?") return std::to_string(lastStatus_);
  auto local = locals_.find(name);
  if (local != locals_.end()) return local->second;
  return ctx_.env.Get(name).value_or("");
}

std::vector<std::string> Shell::ExpandWords(const Node& node) const {
  std::vector<std::string> fields;
  for (const Word& word : node.words) {
    std::string current;
    bool quoted = false;  // a quoted piece makes a field even when empty
    auto endField = [&] {
      if (quoted || !current.empty()) fields.push_back(current);
      current.clear();
      quoted = false;
    };
    for (const Segment& seg : word) {
      if (seg.kind == Segment::kLiteral) {
        current += seg.text;
        quoted = true;
        continue;
      }
      if (seg.kind == Segment::kDouble) quoted = true;
      const std::string& s = seg.text;
      for (size_t i = 0; i < s.size();) {
        if (s[i] != '$' || i + 1 >= s.size()) {
          current += s[i++];
          continue;
        }
        std::string name;
        size_t next = i + 1;
        if (s[next] == '{') {
          const size_t close = s.find('}', next);
          if (close == std::string::npos) {
            current += s[i++];
            continue;
          }
          name = s.substr(next + 1, close - next - 1);
          next = close + 1;
        } else if (s[next] == '?') {
          name = "?";
          ++next;
        } else {
          while (next < s.size() && IsNameChar(s[next])) name += s[next++];
          if (name.empty()) {
            current += s[i++];
            continue;
          }
        }
        i = next;
        const std::string value = Variable(name);
        if (seg.kind == Segment::kDouble) {
          current += value;
          continue;
        }
        // Unquoted: blanks in the value separate fields.
        for (char c : value) {
          if (IsBlank(c) || c == '\n') endField();
          else current += c;
        }
      }
    }
    endField();
  }
  return fields;
}

int Shell::ExecuteSimple(const Node& node) {
  const std::vector<std::string> argv = ExpandWords(node);
  if (argv.empty()) return 0;
  const size_t eq = argv[0].find('=');
  if (eq != std::string::npos && eq > 0) {
    bool name = true;
    for (size_t k = 0; k < eq; ++k) name = name && IsNameChar(argv[0][k]);
    if (name) {  // hush's own variable: name=value
      locals_[argv[0].substr(0, eq)] = argv[0].substr(eq + 1);
      return 0;
    }
  }
  const Command* command = Find(argv[0]);
  if (!command) {
    ctx_.uart.Send("Unknown command '" + argv[0] + "' - try 'help'\n");
    ctx_.repeatable = false;
    return 1;
  }
  ctx_.repeatable = ctx_.repeatable && command->repeatable;
  return command->run(ctx_, *this, argv);
}

int Shell::Execute(const Node& node) {
  switch (node.kind) {
    case Node::kSimple:
      return lastStatus_ = ExecuteSimple(node);
    case Node::kList: {
      int status = 0;
      for (const auto& [link, item] : node.items) {
        if (link == Node::kAnd && status != 0) continue;
        if (link == Node::kOr && status == 0) continue;
        status = Execute(item);
      }
      return lastStatus_ = status;
    }
    case Node::kFor: {
      int status = 0;
      for (const std::string& value : ExpandWords(node)) {
        // Each pass looks for Ctrl-C, and so takes one typed-ahead character.
        if (ctx_.CtrlC()) return lastStatus_ = 1;
        locals_[node.variable] = value;
        status = Execute(node.branches[0].first);
      }
      return lastStatus_ = status;
    }
    case Node::kIf:
      for (const auto& [condition, body] : node.branches)
        if (Execute(condition) == 0) return lastStatus_ = Execute(body);
      if (!node.otherwise.empty()) return lastStatus_ = Execute(node.otherwise[0]);
      return lastStatus_ = 0;
  }
  return 1;
}

}  // namespace sim
