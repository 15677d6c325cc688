// tov: compiles a program of the language into commands for the stack machine,
// lists them and, with -x, runs them.
#include "Args.h"
#include "Comp.h"
#include "ConSigs.h"
#include "Fio.h"
#include "Prsr.h"
#include "Scnr.h"
#include "Start.h"

namespace {

bool exec;  // -x was given

[[noreturn]] void Help() {
  Fio::Line(Fio::stdErr, "tov: compiler and stack machine for a small block-structured language");
  Fio::Line(Fio::stdErr, "(* flowers & bug reports to tov maintainers <tov@example.org> *)");
  Fio::Line(Fio::stdErr, "syntax = \"tov\" { option } [ infile ] .");
  Fio::Line(Fio::stdErr, "option = \"-h\"  (* show this info and exit *)");
  Fio::Line(Fio::stdErr, "       | \"-x\"  (* execute (after listing) *) .");
  Fio::Exit(9);
}

[[noreturn]] void Error(const char* s) {
  char* p = Fio::Str(Fio::ErrLine("tov: "), s);
  p = Fio::Str(p, ": '");
  p = Fio::Mem(p, Args::lit, Args::len);
  *p++ = '\'';
  Fio::End(Fio::stdErr, p);
  Fio::Exit(9);
}

bool Lit(const char* s) {
  uint32_t i = 0;
  while (i < Args::len && s[i] != 0 && Args::lit[i] == s[i])
    ++i;
  return i == Args::len && s[i] == 0;
}

// Each option is one whole argument, handled from the left.
void Options() {
  while (Args::sym == Args::symOpt) {
    if (Lit("?") || Lit("h")) Help();
    if (!Lit("x")) Error("Invalid option");
    exec = true;
    Args::Read();
  }
}

// { option } [ infile { option } [ ignored arguments ] ]
void ParseArgs() {
  Args::Reset();
  Args::Read();
  Options();
  if (Args::sym == Args::symArg) {
    if (!Lit("-")) {
      switch (Fio::Open(Args::whole, Scnr::src)) {
        case Fio::opOk: break;
        case Fio::opMissing: Error("File does not exist");
        case Fio::opUnreadable: Error("Cannot open file");
      }
    }
    Args::Read();
    Options();
  }
}

void Init() {
  exec = false;
  ParseArgs();
}

void Main() {
  Prsr::Run();
  Comp::List();
  if (exec) Comp::Exec();
}

}  // namespace

int main(int argc, char** argv) {
  Start::Modules();
  Fio::CommandLine(argc, argv);
  Args::Init(argc, argv);
  ConSigs::Init();
  Init();
  Main();
  Fio::Exit(0);
}
