#include "platform/gui/frontends.h"

#include "platform/gui/console.h"
#include "platform/gui/script.h"

namespace zuv::gui {

std::unique_ptr<Frontend> make_frontend(const std::string& name, Clock& clock,
                                        std::ostream* transcript, std::string* error) {
  if (name == "console") return std::make_unique<ConsoleFrontend>(clock, make_stdio_terminal());
  if (name.rfind("script:", 0) == 0) {
    try {
      auto fe = std::make_unique<ScriptFrontend>(clock, ScriptFrontend::load_answers(name.substr(7)));
      fe->echo_to(transcript);
      return fe;
    } catch (const std::exception& e) {
      if (error) *error = e.what();
      return nullptr;
    }
  }
  if (name == "gui") {
#ifdef _WIN32
    return make_win32_frontend(clock);
#else
    if (error) *error = "Interfejs graficzny jest dostępny tylko w systemie Windows; użyj --ui=console.";
    return nullptr;
#endif
  }
  if (error) *error = "Nieznany interfejs: " + name + " (dozwolone: gui, console, script:PLIK).";
  return nullptr;
}

}  // namespace zuv::gui
