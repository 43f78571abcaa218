// Case-insensitive name look-ups in native directories, with the listings kept per
// process: a name missing as written would otherwise cost a read of its whole
// directory every time. Used by the POSIX files of this layer only.
//
// A listing is served only while a fresh stat of its directory gives the device, inode
// and modification and change times it was read with; on file systems that give a
// changed directory a fine-grained time once its times were queried, that catches every
// change, by this process or another. Changes made through this layer update the
// listing instead of throwing it away (NameChange below).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zuv::os::dir_listing {

// The entry of native directory dir ("" is the current one) whose name equals want
// case-insensitively; when several do, the lowest in byte order.
bool find(const std::string& dir, std::string_view want, std::string& found);

// Made just before this process changes names, told done() once the change succeeded.
// A listing is carried over only if it was valid just before the change; one that was
// not, or a change that failed, leaves it to the timestamp check.
class NameChange {
 public:
  void done();

 private:
  friend NameChange name_added(const std::string&);
  friend NameChange name_removed(const std::string&);
  friend NameChange name_moved(const std::string&, const std::string&);
  struct Item {
    std::string dir, name;
    bool add = false;
    std::uint64_t serial = 0;  // of the listing found valid before the change; 0 none
  };
  void note(const std::string& native, bool add);
  Item items_[2];
  int count_ = 0;
};

// native: the path as given to the system call.
NameChange name_added(const std::string& native);
NameChange name_removed(const std::string& native);
NameChange name_moved(const std::string& from, const std::string& to);

// How many times a directory was read whole so far (tests).
std::uint64_t reads();

}  // namespace zuv::os::dir_listing
