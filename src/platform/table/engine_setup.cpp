#include "platform/table/engine_setup.h"

#include "platform/table/collation.h"

namespace zuv::table {

void DBESYS(WorkAreas& areas, const Alert& alert) {
  Settings& s = areas.settings();
  s.date_format = s.century ? "yyyy.mm.dd" : "yy.mm.dd";
  polish_collation();  // built once here, before any table is touched

  EngineSet& e = areas.engines();
  auto step = [&](bool ok, const char* message) {
    if (!ok && alert) alert(message);
  };
  step(e.load("DBFDBE", true), "Nie mogę załadować DBF-DBE");
  step(e.load("NTXDBE", true), "Nie mogę załadować NTX-DBE");
  step(e.build("DBFNTX", "DBFDBE", "NTXDBE"), "Nie mogę utworzyć DBF-NTX (engine)");
  step(e.load("FOXDBE", true), "Nie mogę załadować FOX-DBE");
  step(e.load("CDXDBE", true), "Nie mogę załadować CDX-DBE");
  step(e.build("FOXCDX", "FOXDBE", "CDXDBE"), "Nie mogę utworzyć FOX-CDX (engine)");
  e.set_default("FOXCDX");
  e.set_option("FOXDBE", 1011, 1);
  e.set_option("CDXDBE", 6, 2);
  e.set_option("CDXDBE", 1007, 2);
}

void STARTINIT(WorkAreas& areas) {
  Settings& s = areas.settings();
  s.typeahead = 100;
  s.century = true;
  s.date_format = "yyyy.mm.dd";
  s.decimals_shown = 0;
  s.deleted_hidden = true;
  s.exact = true;
  s.switch39 = "OFF";
  s.scoreboard = false;
  s.soft_seek = true;
  s.printer = false;
  s.exclusive_default = true;
  s.cancel_enabled = false;
}

}  // namespace zuv::table
