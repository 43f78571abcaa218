#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "platform/gui/terminal.h"
#include "platform/os/unicode.h"

namespace zuv::gui {

namespace {

// A program that ends by exit() deep inside (the error box's "Abort") never destroys
// its terminal: the line mode it found is put back then as well.
void restore_at_exit(int fd, const termios& cooked) {
  static int saved_fd = -1;
  static termios saved;
  if (saved_fd >= 0) return;
  saved_fd = fd;
  saved = cooked;
  std::atexit([] { tcsetattr(saved_fd, TCSANOW, &saved); });
}

class PosixTerminal : public Terminal {
 public:
  PosixTerminal(int in, int out) : in_(in), out_(out), tty_(isatty(in) == 1) {
    if (tty_) tcgetattr(in_, &cooked_);
  }
  ~PosixTerminal() override {
    if (tty_) tcsetattr(in_, TCSANOW, &cooked_);
  }
  bool interactive() override { return tty_; }

  bool read_key(int timeout_ms, Key& key, char32_t& ch) override {
    key = Key::None;
    ch = 0;
    raw(true);
    int c = get(timeout_ms);
    if (c == -2) return true;  // time ran out
    if (c < 0) return false;
    if (c == 27) {
      int c2 = get(60);
      if (c2 < 0) {
        key = Key::Esc;
        return true;
      }
      int c3 = get(60);
      if (c2 == 'O' && c3 == 'P') key = Key::F1;
      else if (c3 == 'A') key = Key::Up;
      else if (c3 == 'B') key = Key::Down;
      else if (c3 == 'C') key = Key::Right;
      else if (c3 == 'D') key = Key::Left;
      else if (c3 == 'H') key = Key::Home;
      else if (c3 == 'F') key = Key::End;
      else if (c3 == 'Z') key = Key::ShiftTab;
      else if (c3 >= '0' && c3 <= '9') {
        int c4 = get(60);
        if (c4 == '~') {
          if (c3 == '2') key = Key::Insert;
          else if (c3 == '3') key = Key::Delete;
          else if (c3 == '1' || c3 == '7') key = Key::Home;
          else if (c3 == '4' || c3 == '8') key = Key::End;
        } else if (c3 == '1' && c4 == '1') {
          get(60);
          key = Key::F1;
        }
      }
      return true;
    }
    if (c == '\r' || c == '\n') key = Key::Enter;
    else if (c == 127 || c == 8) key = Key::Backspace;
    else if (c == '\t') key = Key::Tab;
    else if (c == ' ') key = Key::Space;
    else {
      // UTF-8: gather the continuation bytes.
      std::string s(1, static_cast<char>(c));
      int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
      for (int i = 0; i < extra; ++i) {
        int n = get(60);
        if (n < 0) break;
        s += static_cast<char>(n);
      }
      key = Key::Char;
      ch = os::first_char(s);
    }
    return true;
  }

  bool read_line(int timeout_ms, std::string& line) override {
    raw(false);
    line.clear();
    while (true) {
      int c = get(timeout_ms);
      if (c == -2) return true;
      if (c < 0) return !line.empty();
      if (c == '\n') break;
      line += static_cast<char>(c);
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line[0] == 27) line = "\x1b";
    return true;
  }

  int columns() override {
    winsize ws{};
    if (isatty(out_) == 1 && ioctl(out_, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
    return 0;
  }

  void write(const std::string& s) override {
    size_t done = 0;
    while (done < s.size()) {
      ssize_t n = ::write(out_, s.data() + done, s.size() - done);
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
  }

 private:
  void raw(bool on) {
    if (!tty_ || on == raw_) return;
    if (on) restore_at_exit(in_, cooked_);
    termios t = cooked_;
    if (on) {
      t.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
      t.c_cc[VMIN] = 1;
      t.c_cc[VTIME] = 0;
    }
    tcsetattr(in_, TCSANOW, &t);
    raw_ = on;
  }
  // A byte, -1 at the end of input, -2 when the time ran out.
  int get(int timeout_ms) {
    pollfd p{in_, POLLIN, 0};
    int r = poll(&p, 1, timeout_ms);
    if (r == 0) return -2;
    unsigned char b;
    if (r < 0 || ::read(in_, &b, 1) != 1) return -1;
    return b;
  }

  int in_, out_;
  bool tty_;
  bool raw_ = false;
  termios cooked_{};
};

}  // namespace

std::unique_ptr<Terminal> make_stdio_terminal() { return std::make_unique<PosixTerminal>(0, 1); }
std::unique_ptr<Terminal> make_fd_terminal(int in, int out) {
  return std::make_unique<PosixTerminal>(in, out);
}

}  // namespace zuv::gui
