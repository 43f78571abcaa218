#include "steps/wez_kurs.h"

#include <string>

#include "lib/text.h"

namespace zuv::steps {

std::optional<Rate> WEZ_KURS(table::WorkAreas& areas, std::string_view date, std::string_view currency) {
  const std::string code = lib::upper_ascii(lib::trim(currency));
  if (code.empty() || code == "PLN") return Rate{1, 1};
  table::Table* eur = areas.find("eur");
  if (!eur) return std::nullopt;
  const int column = eur->field_index(code);
  if (column < 0) return std::nullopt;
  if (lib::trim(date).empty()) {
    eur->go_bottom();
  } else if (!eur->seek(table::Value::of_text(date), false) || !eur->found()) {
    return std::nullopt;
  }
  if (eur->eof()) return std::nullopt;
  const std::string wrapped = "," + code + ",";
  const double unit = std::string(",JPY,HUF,ISK,KRW,").find(wrapped) != std::string::npos ? 100
                      : wrapped == ",IDR,"                                                  ? 10000
                                                                                           : 1;
  return Rate{eur->get(column).number, unit};
}

}  // namespace zuv::steps
