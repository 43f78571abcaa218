#include <iostream>

#include "app/services.h"
#include "app/wiring.h"

namespace zuv::app {

void prepare_output(const std::string&) {}

void report_startup_error(const std::string&, const std::string& text) {
  std::cerr << text << std::flush;
  if (!text.empty() && text.back() != '\n') std::cerr << '\n';
}

void wire_services(Services& s) { wire_common_services(s); }

}  // namespace zuv::app
