// The operator's console: text colour, and the answers read from the keyboard.
// Output goes to std::cout; callers flush it at every line, prompt and progress redraw, also when
// standard output is a pipe, so that scripts and logging terminals read it live.
#pragma once

#include <cstddef>
#include <string>

// Windows console text attributes the program uses.
constexpr int kColourHighlight = 14;  // yellow: banner, log name, identity, prompts, detection
constexpr int kColourNormal = 7;      // grey: everything else

// Sets the text colour of standard output: the console attribute on Windows; on POSIX the nearest
// ANSI colour, and only when standard output is a terminal.
void SetConsoleColour(int attribute);

// Puts the terminal back as the program found it: its input mode (echo, line editing) and its text
// colour. For an ending from another thread (an interruption) while a key or password read has the
// terminal in another mode; callable from any thread.
void RestoreConsole();

// Standard output keeps what is written until the next flush, on a terminal too (the callers flush at
// every line, prompt and progress redraw): the Windows console's C library otherwise writes each
// piece at once, and every write is a round trip to the console's host.
void BufferConsoleOutput();

// The full cell of the progress bar: 0xDB of code page 437 on the Windows console, "█" elsewhere.
const char* ProgressFullBlock();

// Where the operator's answers come from. The platform's own reads the process's standard input;
// tests install a scripted one.
class ConsoleInput {
 public:
  virtual ~ConsoleInput() = default;
  // One key without echo and without Enter (_getch; termios raw mode on a POSIX terminal; the
  // next byte when standard input is not a terminal). -1 at end of input, which callers take as
  // a key that is not "r".
  virtual int GetKey() = 0;
  // Throws away what the operator has typed ahead.
  virtual void DiscardTypeAhead() = 0;
  // One character of line-buffered input (the rest of the line stays for later reads); -1 at end.
  virtual int GetChar() = 0;
  // One whitespace-delimited word of at most maxLength characters; false at end of input.
  virtual bool ReadWord(std::string* word, size_t maxLength) = 0;
  // Like ReadWord, without echo when standard input is a terminal (passwords).
  virtual bool ReadSecretWord(std::string* word, size_t maxLength) = 0;
  // One line of at most maxLength characters, its line end kept when it fits (like fgets); false
  // at end of input with nothing read.
  virtual bool ReadLine(std::string* line, size_t maxLength) = 0;
};

// Console input read from a stream of bytes: the process's standard input when it is not a
// terminal, and the tests' scripted answers, so that both read words and lines alike.
// A key is the next byte after the rest of a line already begun by a line-wise read (the line end
// left after "Y" or after a word), which a key read on a console never sees. Throwing away the
// type-ahead drops that rest too, as a terminal user would see it; later lines are answers still to
// come and stay.
class ByteConsoleInput : public ConsoleInput {
 public:
  int GetKey() override;
  void DiscardTypeAhead() override;
  int GetChar() override;
  bool ReadWord(std::string* word, size_t maxLength) override;
  bool ReadSecretWord(std::string* word, size_t maxLength) override;
  bool ReadLine(std::string* line, size_t maxLength) override;

 protected:
  // The next byte, -1 at end of input.
  virtual int NextByte() = 0;
  // Puts back the byte just taken, for the next read.
  virtual void PutBack(int byte) = 0;
  // Drops what the device holds beyond the current line (a terminal's queue); nothing by default.
  virtual void DropPendingInput() {}

 private:
  int NextLineByte();
  void DropRestOfLine();

  bool midLine_ = false;  // a line-wise read took part of a line and left its rest
};

// The console input in force: the platform's unless a test installed another one.
ConsoleInput& HostConsoleInput();
void SetConsoleInput(ConsoleInput* input);

// The platform's own: standard input, with a terminal's keys read raw.
ConsoleInput& StandardConsoleInput();
