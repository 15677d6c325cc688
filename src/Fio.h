// Fio: the file and console layer. The only module that talks to the operating
// system for bytes in and out; every other module reads its source and writes
// its lines through here, and ends the process through Exit.
#pragma once
#include <cstdint>

namespace Fio {

// ---- Source input -------------------------------------------------------

using TFile = int;  // an open input, as the system numbers it

constexpr int eof = -1;  // Get: the input has ended
constexpr int err = -2;  // Get: the system refused to read

extern TFile stdIn;

enum TOpen : uint8_t { opOk, opMissing, opUnreadable };

// Opens the named file as a source; opMissing when no such file exists,
// opUnreadable when it exists but cannot be read as text (a directory).
TOpen Open(const char* name, TFile& f);

// Once a block has been read, the byte just after it is always the sentinel,
// so a loop over the block needs no test of its own for the block's end. The
// scanner takes the same byte for the end of the source.
constexpr uint8_t sentinel = 0x1A;

// Fast path of Get, kept visible so that a byte costs no call; only Fio
// moves them.
extern const uint8_t* inCur;
extern const uint8_t* inEnd;
int Refill(TFile f);

// The next byte of f (0 to 255), eof or err. One source is read per run.
inline int Get(TFile f) { return inCur != inEnd ? *inCur++ : Refill(f); }

// Reading in place: Rest is where Get would read next in the block, which is
// followed by the sentinel. A loop over it stops at the sentinel at the
// latest and passes Resume the position just after the byte it stopped at:
// Get goes on from there and Resume returns true. When that byte was the
// sentinel itself, the block is used up and Resume returns false.
inline const uint8_t* Rest() { return inCur; }
inline bool Resume(const uint8_t* p) {
  if (p > inEnd) {
    inCur = inEnd;
    return false;
  }
  inCur = p;
  return true;
}

// ---- Text output ----------------------------------------------------------

enum TStream : uint8_t { stdOut, stdErr };

constexpr uint32_t lineMax = 512;  // room that Begin guarantees for one line

// A line is built in place: Begin gives room for lineMax bytes in the stream's
// buffer, the caller stores its text and hands the end to End, which adds the
// line end. The line becomes visible (and may be flushed) only then.
char* Begin(TStream s);
void End(TStream s, char* p);

// Writes the text s as one line.
void Line(TStream s, const char* text);

// Pieces for building lines; each returns the end of what it stored.
char* Str(char* p, const char* s);
char* Mem(char* p, const char* s, uint32_t n);
char* Card(char* p, uint32_t x);  // decimal, no padding
char* Int(char* p, int32_t x);    // decimal with "-" when negative
// x right-aligned in a field of w blanks; a wider number is written whole.
char* IntRight(char* p, int32_t x, uint32_t w);
char* CardRight(char* p, uint32_t x, uint32_t w);
// x written so that it ends just before e, for fields whose blanks are
// already in place; returns where it begins.
char* IntBack(char* e, int32_t x);

// Writes out what is buffered (tests use it before they read a stream).
void Flush();

// Writes out everything and ends the process with the status (0 or 9).
[[noreturn]] void Exit(int status);

// Begins an error line on standard error with the text head: every module's
// report procedure opens this way.
char* ErrLine(const char* head);

// Ends the error line begun on standard error with "." at p, then the run
// with status 9: every module's report procedure closes this way.
[[noreturn]] void Fail(char* p);

#if defined(TOV_FUZZ)
// The fuzzing harness runs many compilations in one process: it catches the
// end of each run here (and must not return).
extern void (*exitHook)(int status);
#endif

// ---- Hand-over of asynchronous events -------------------------------------

// Post may be called from a signal handler (it is async-signal-safe) or, on
// Windows, from the console's own thread: the event is delivered to the
// watcher at the next safe point of the main thread (a line end, an input or
// output wait), never in the middle of a line.
void Post(uint32_t ev);

// Installs the watcher; false when the wake-up channel cannot be made.
bool Watch(void (*deliver)(uint32_t ev));

void Init();

// The process arguments as the program takes them: the program name, then
// each argument. On Windows they are the wide-character command line in
// UTF-8, so that any file name Windows gives can be opened; elsewhere argv
// stays as the system gave it.
void CommandLine(int& argc, char**& argv);

}  // namespace Fio
