#include "sys/errorsys.h"

#include <cstdio>
#include <cstdlib>

#include "platform/error/call_context.h"
#include "platform/table/last_error.h"

namespace zuv::sys {
namespace {

std::string replace_all(std::string s, char from, char to) {
  for (char& c : s)
    if (c == from) c = to;
  return s;
}

std::string rtrim(std::string s) {
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.pop_back();
  return s;
}

// Value-to-text as the report shows it.
std::string var2char(const ErrorValue& v) { return v.type == 'U' ? "NIL" : v.text; }
std::string var2char(bool b) { return b ? ".T." : ".F."; }
std::string var2char(const std::vector<ErrorValue>& list, bool is_list) {
  if (!is_list) return list.empty() ? "NIL" : var2char(list.front());
  std::string out = "{";
  for (size_t i = 0; i < list.size(); ++i) out += (i ? ", " : "") + var2char(list[i]);
  return out + "}";
}

std::string pad_label(const std::string& label) {
  std::string l = label;
  l.resize(18, ' ');
  return ";" + l + ": ";
}

}  // namespace

std::string LINESPLIT(const std::string& text, int width) {
  if (text.empty() || width <= 0) return {};
  std::vector<std::string> lines;
  std::string line;
  auto flush = [&] {
    lines.push_back(rtrim(line));
    line.clear();
  };
  size_t i = 0;
  while (i < text.size()) {
    char c = text[i];
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      flush();
      ++i;
      continue;
    }
    if (c == ' ' || c == '\t') {
      int spaces = c == '\t' ? 4 - static_cast<int>(line.size()) % 4 : 1;
      if (static_cast<int>(line.size()) + spaces > width) {
        flush();
      } else {
        line.append(static_cast<size_t>(spaces), ' ');
      }
      ++i;
      continue;
    }
    size_t end = text.find_first_of(" \t\r\n", i);
    if (end == std::string::npos) end = text.size();
    std::string word = text.substr(i, end - i);
    i = end;
    // A word that fits no line is cut at the width.
    while (static_cast<int>(word.size()) > width) {
      if (!rtrim(line).empty()) flush();
      line.clear();
      lines.push_back(word.substr(0, static_cast<size_t>(width)));
      word.erase(0, static_cast<size_t>(width));
    }
    if (static_cast<int>(line.size() + word.size()) > width) flush();
    line += word;
  }
  if (!rtrim(line).empty()) flush();
  std::string out;
  for (const std::string& l : lines) out += l + ";";
  if (!out.empty() && out.back() == ';') out.pop_back();
  return out;
}

std::string ERRORMESSAGE(const ErrorRecord& e) {
  std::string m = e.severity > 1 ? "Error " : "Warning ";
  m += e.subSystem;
  m += "/" + std::to_string(e.subCode);
  m += ";Description : " + e.description;
  if (!e.fileName.empty()) m += ";File : " + e.fileName;
  if (!e.operation.empty()) m += ";Operation : " + e.operation;
  m += ";Thread ID : " + std::to_string(e.thread);
  if (e.cargoIsList && e.cargo.size() == 3) {
    if (e.cargo[0].type == 'C') m += ";" + LINESPLIT(e.cargo[0].text, 50);
    m += ";" + LINESPLIT(e.cargo[2].text, 50);
  }
  return m;
}

std::string ERR_PIS(const ErrorRecord& e) {
  std::string s = pad_label("Argumenty");
  if (e.args) {
    int n = 0;
    for (const ErrorValue& a : *e.args) {
      char num[16];
      std::snprintf(num, sizeof num, "%2d", ++n);
      s += std::string(";(") + num + ") typ=" + a.type + ": " + var2char(a);
    }
  } else {
    s += " NIL";
  }
  s += pad_label("canDefault") + var2char(e.canDefault);
  s += pad_label("canSubstitute") + var2char(e.canSubstitute);
  s += pad_label("description") + e.description;
  s += pad_label("filename") + e.fileName;
  s += pad_label("cargo") + var2char(e.cargo, e.cargoIsList);
  s += pad_label("genCode") + std::to_string(e.genCode);
  s += pad_label("operation") + e.operation;
  s += pad_label("osCode") + std::to_string(e.osCode);
  s += pad_label("severity") + std::to_string(e.severity);
  s += pad_label("subCode") + std::to_string(e.subCode);
  s += pad_label("subSystem") + e.subSystem;
  s += ";" + std::string(78, '-');
  s += ";";
  return s;
}

HandlerAnswer STANDARDEH(ErrorRecord& e, const HandlerServices& services) {
  if (e.genCode == gencode::kZeroDivide) return HandlerAnswer::Zero;
  if (e.genCode == gencode::kOpen && e.osCode == 32 && e.canDefault) return HandlerAnswer::Default;
  if (e.genCode == gencode::kAppendLock && e.canDefault) return HandlerAnswer::Default;

  if (services.engine_error) {
    if (std::optional<EngineError> engine = services.engine_error(); engine && engine->code != 0) {
      ErrorValue previous = e.cargoIsList ? ErrorValue{'A', var2char(e.cargo, true)}
                                          : (e.cargo.empty() ? ErrorValue{} : e.cargo.front());
      e.cargo = {previous, ErrorValue::of(static_cast<long long>(engine->code)), ErrorValue::of(engine->message)};
      e.cargoIsList = true;
    }
  }

  std::string text = ERRORMESSAGE(e);
  if (e.osCode != 0)
    text += ";Operating system error : " + std::to_string(e.osCode) + ";" + DOSERRORMESSAGE(e.osCode);

  BoxButtons buttons = e.canDefault && e.canRetry ? BoxButtons::AbortRetryIgnore
                       : e.canRetry               ? BoxButtons::RetryCancel
                       : e.canDefault             ? BoxButtons::OkCancel
                                                  : BoxButtons::Ok;
  // A record that carries its own call stack shows it; otherwise the routines that the
  // program is in, as they named themselves.
  std::string stack = e.callstack.empty() ? called_from_lines() : e.callstack;
  if (!stack.empty()) text += ";" + stack;
  BoxIcon icon = e.severity >= 2 && e.severity <= 3 ? BoxIcon::Stop
                 : e.severity == 1                  ? BoxIcon::Exclamation
                                                    : BoxIcon::Information;

  ErrorBox& box = services.box ? *services.box : platform_error_box();
  BoxAnswer answer = box.show("Corvane Error Message", replace_all(text, ';', '\r'), buttons, icon);
  switch (answer) {
    case BoxAnswer::Retry: return HandlerAnswer::Retry;
    case BoxAnswer::Ignore: return HandlerAnswer::Default;
    case BoxAnswer::Cancel: return HandlerAnswer::Break;
    case BoxAnswer::Ok:
    case BoxAnswer::Abort: break;
  }
  if (services.quit) {
    services.quit(1);
  } else {
    std::exit(1);
  }
  // A quit routine that returns (a test's) leaves the error to the recovery section.
  return HandlerAnswer::Break;
}

EngineErrorSource engine_last_error() {
  return [] () -> std::optional<EngineError> {
    table::LastError last = table::take_last_error();
    if (last.code == 0) return std::nullopt;
    return EngineError{last.code, last.message};
  };
}

void ERRORSYS(HandlerServices services) {
  set_program_handler([services](ErrorRecord& e) { return STANDARDEH(e, services); });
}

}  // namespace zuv::sys
