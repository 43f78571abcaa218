#include "platform/os/files.h"

namespace zuv::os {

std::string attribute_letters(unsigned attrs) {
  std::string s;
  if (attrs & kDirectory) s += 'D';
  if (attrs & kReadOnly) s += 'R';
  if (attrs & kHidden) s += 'H';
  if (attrs & kSystem) s += 'S';
  if (attrs & kArchive) s += 'A';
  return s;
}

AttrChange parse_attribute_change(std::string_view text) {
  AttrChange change;
  bool adding = true;
  for (char c : text) {
    unsigned bit = 0;
    switch (c) {
      case '+': adding = true; continue;
      case '-': adding = false; continue;
      case 'R': case 'r': bit = kReadOnly; break;
      case 'H': case 'h': bit = kHidden; break;
      case 'S': case 's': bit = kSystem; break;
      case 'A': case 'a': bit = kArchive; break;
      default: continue;
    }
    if (adding) {
      change.set |= bit;
      change.clear &= ~bit;
    } else {
      change.clear |= bit;
      change.set &= ~bit;
    }
  }
  return change;
}

}  // namespace zuv::os
