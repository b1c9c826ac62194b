// with-input: runs a program with a file as its standard input, in place of this process.
//
//   with-input request.txt github-helper credential 7 get
//
// hyperfine's --shell=none mode gives a command no standard input of its own; this wrapper does,
// at the cost of one exec of a small program, paid equally by every command it wraps. Exit status
// 127 when the file cannot be opened or the program not started.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fputs("usage: with-input FILE PROGRAM [ARGUMENT...]\n", stderr);
    return 2;
  }
  const int input = ::open(argv[1], O_RDONLY | O_CLOEXEC);
  if (input < 0 || ::dup2(input, STDIN_FILENO) < 0) {
    std::perror(argv[1]);
    return 127;
  }
  ::execvp(argv[2], argv + 2);
  std::perror(argv[2]);
  return 127;
}
