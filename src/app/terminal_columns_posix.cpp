#include <sys/ioctl.h>
#include <unistd.h>

#include <cstdlib>

#include "app/progress_line.h"

namespace zuv::app {

int stderr_terminal_columns() {
  if (!isatty(STDERR_FILENO)) return 0;
  winsize ws{};
  if (ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
  // A terminal that does not tell its size: COLUMNS, else the classic 80.
  const char* columns = std::getenv("COLUMNS");
  const int n = columns ? std::atoi(columns) : 0;
  return n > 0 ? n : 80;
}

}  // namespace zuv::app
