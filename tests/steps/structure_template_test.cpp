// Structure steps on a template directory and template steps on a program directory
// and a real "wzorce.dbf": what is copied, what is deleted, and that a second run
// gives the same directories.
#include <algorithm>

#include "platform/os/files.h"
#include "steps/step_routines.h"
#include "steps_fixture.h"
#include "tables/table_access.h"

namespace zuv::steps::testing {
namespace {

class StructureSteps : public StepsTest {
 protected:
  std::vector<std::string> names(const std::string& directory) {
    std::vector<std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(std::filesystem::u8path(os_dir(directory))))
      out.push_back(e.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
  }
  std::string content(const std::string& path) {
    return zuv::testing::table_read_bytes(os_dir(path.substr(0, path.rfind('\\') + 1)) +
                                          path.substr(path.rfind('\\') + 1));
  }
};

TEST_F(StructureSteps, Step001DeletesRetiredTemplatesAndCopiesTheReleases) {
  const char* retired[] = {"pt.dbf",   "pt.fpt",    "fak.dbf",   "faka.dbf",  "crm_upc.dbf", "firmy.dbf",
                           "ksf_s.dbf", "ksf_sa.dbf", "d_key.pem", "p_key.pem", "t_key.pem",   "tokeninit.xml"};
  for (const char* f : retired) write(db + "str\\" + f, "stary");
  write(db + "str\\inny.dbf", "zostaje");
  write(db + "str\\firma.dbf", "stara firma");
  const char* copied[] = {"ksef_dat.dbf", "sam_cena.dbf", "st_limit.dbf", "inf_fir.dbf",   "rnf_fir.dbf",
                          "firma.dbf",    "lic_ods.dbf",  "p_fmc.dbf",    "v_wystaw.dbf",  "v_rok.dbf",
                          "v_kor.dbf",    "st_data.dbf",  "v_data.dbf",   "pr_mc.dbf",     "p_kals.dbf",
                          "p_kalw.dbf",   "p_fpar.dbf",   "p_dat.dbf",    "data.dbf",      "br_cfg.dbf",
                          "p_fron_p.dbf", "enova_st.xlsx", "wersje.dbf",  "wersja.dbf"};
  for (const char* f : copied) write(rel + "str\\" + f, std::string("nowy ") + f);
  write(rel + "str\\platnik.dbf", "not this step's");

  STR_26_01_001(ctx, db, prog);
  auto after = names(db + "str\\");
  for (const char* f : retired) {
    EXPECT_FALSE(exists(db + "str\\" + f)) << f;
  }
  for (const char* f : copied) {
    EXPECT_EQ(content(db + "str\\" + f), std::string("nowy ") + f);
  }
  EXPECT_EQ(content(db + "str\\inny.dbf"), "zostaje");
  EXPECT_FALSE(exists(db + "str\\platnik.dbf"));
  EXPECT_EQ(after.size(), std::size(copied) + 1);

  STR_26_01_001(ctx, db, prog);
  EXPECT_EQ(names(db + "str\\"), after);
}

TEST_F(StructureSteps, LaterStepsCopyTheirTemplatesAndStep007IndexesTheRatesByDate) {
  for (const char* f : {"platnik.dbf", "folio.dbf", "qmx_imp.dbf", "ksef_nip.dbf", "ksef_p.dbf", "ksefz.xlsx",
                        "idw_lst.dbf", "ks_dok.dbf", "rfolio.dbf", "rk_200.dbf", "afaktury.cfg", "ods_tab.dbf",
                        "ksef_bs.dbf", "ksef_bs.fpt", "v_oss.dbf"})
    write(rel + "str\\" + f, f);
  make(db + "str\\euro.dbf", {{"DATA", 'D', 8, 0}, {"USD", 'N', 10, 4}},
       {{{"DATA", D("20260120")}, {"USD", N(3)}}, {{"DATA", D("20251231")}, {"USD", N(1)}},
        {{"DATA", D("20260105")}, {"USD", N(2)}}});
  for (auto* step : {STR_26_01_005, STR_26_01_006, STR_26_01_007, STR_26_01_008, STR_26_01_015, STR_26_01_027,
                     STR_26_01_030, STR_26_01_032})
    step(ctx, db, prog);
  PUB_26_01_001(ctx, db);
  for (const char* f : {"platnik.dbf", "folio.dbf", "qmx_imp.dbf", "ksef_nip.dbf", "ksef_p.dbf", "ksefz.xlsx",
                        "idw_lst.dbf", "ks_dok.dbf", "rfolio.dbf", "rk_200.dbf", "afaktury.cfg", "ods_tab.dbf",
                        "ksef_bs.dbf", "ksef_bs.fpt", "v_oss.dbf"})
    EXPECT_EQ(content(db + "str\\" + f), f);

  ASSERT_TRUE(tables::OTWORZ(areas, db + "str\\", "euro", "eur", tables::OrderArg(std::string("dat"))));
  table::Table* eur = areas.current();
  std::vector<double> in_order;
  for (eur->go_top(); !eur->eof(); eur->skip()) in_order.push_back(eur->get("USD").number);
  EXPECT_EQ(in_order, (std::vector<double>{1, 2, 3}));
  tables::ZAMKNIJ(areas, "eur");
}

class TemplateSteps : public StructureSteps {
 protected:
  void registrations(const std::vector<std::string>& plik) {
    std::vector<Row> r;
    for (const std::string& p : plik) r.push_back({{"PLIK", C(p)}});
    make(db + "str\\wzorce.dbf", {{"PLIK", 'C', 20, 0}, {"STACJA", 'C', 10, 0}}, r);
  }
  std::vector<std::string> registered() {
    std::vector<std::string> out;
    for (Row& r : rows(db + "str\\wzorce.dbf")) out.push_back(lib::rtrim(r["PLIK"].text));
    return out;
  }
};

TEST_F(TemplateSteps, Step016RefreshesInvoiceTemplatesAndDropsTheirRegistrationsWhateverTheirCase) {
  for (const char* f : {"fakkor.txt", "fakkor_zw.txt", "faktura.txt", "faktura_zw.txt"}) {
    write(rel + "txt\\" + f, std::string("nowy ") + f);
    write(db + "txt\\" + f, "edytowany");
  }
  write(db + "txt\\inny.txt", "edytowany");
  registrations({"FAKTURA.TXT", "  faktura_zw.txt", "inny.txt", "fakkor.txt"});

  L26_01_016(ctx, prog, db);
  for (const char* f : {"fakkor.txt", "fakkor_zw.txt", "faktura.txt", "faktura_zw.txt"}) {
    EXPECT_EQ(content(prog + "txt\\" + f), std::string("nowy ") + f);
    EXPECT_FALSE(exists(db + "txt\\" + f)) << f;
  }
  EXPECT_TRUE(exists(db + "txt\\inny.txt"));
  EXPECT_EQ(registered(), (std::vector<std::string>{"inny.txt"}));

  L26_01_016(ctx, prog, db);
  EXPECT_EQ(registered(), (std::vector<std::string>{"inny.txt"}));
}

TEST_F(TemplateSteps, StepsWithoutCleanUpKeepRegistrationsAndStep030EmptiesTheLogs) {
  registrations({"ksef_z1.txt"});
  write(rel + "txt\\ksef_z1.txt", "nowy");
  write(db + "txt\\ksef_z1.txt", "edytowany");
  EXPECT_TRUE(zuv::testing::made_or_there(lib::MKDIR(db + "logs\\")));
  write(db + "logs\\a.txt", "x");
  write(db + "logs\\b.log", "x");
  L26_01_030(ctx, prog, db);
  EXPECT_EQ(content(prog + "txt\\ksef_z1.txt"), "nowy");
  EXPECT_FALSE(exists(db + "txt\\ksef_z1.txt"));
  EXPECT_EQ(registered(), (std::vector<std::string>{"ksef_z1.txt"}));
  EXPECT_FALSE(exists(db + "logs\\a.txt"));
  EXPECT_TRUE(exists(db + "logs\\b.log"));
}

TEST_F(TemplateSteps, Step001RemovesTheRegisterAndRetiredMasksSoLaterStepsSkipTheirCleanUp) {
  registrations({"st_1p.txt"});
  for (const char* d : {"mask\\", "vistrel\\"}) {
    EXPECT_TRUE(zuv::testing::made_or_there(lib::MKDIR(prog + d)));
  }
  const char* retired[] = {"mask\\01_01_01.scn", "mask\\01_01_10.scn", "mask\\08_01_09.scn", "mask\\ptree3.scn",
                           "txt\\rap_37l.txt",   "vistrel\\pzg_8.txt", "vistrel\\dsf_2.txt"};
  const char* kept[] = {"mask\\01_01_11.scn", "mask\\08_01_01.scn", "txt\\rap_38l.txt"};
  for (const char* f : retired) write(prog + f, "stary");
  for (const char* f : kept) write(prog + f, "zostaje");
  write(rel + "txt\\wroz_7.txt", "nowy");
  write(db + "txt\\wroz_7.txt", "edytowany");  // copy only: the edited copy stays
  write(db + "txt\\st_1p.txt", "edytowany");

  L26_01_001(ctx, prog, db);
  EXPECT_FALSE(exists(db + "str\\wzorce.dbf"));
  for (const char* f : retired) {
    EXPECT_FALSE(exists(prog + f)) << f;
  }
  for (const char* f : kept) {
    EXPECT_TRUE(exists(prog + f)) << f;
  }
  EXPECT_EQ(content(prog + "txt\\wroz_7.txt"), "nowy");
  EXPECT_TRUE(exists(db + "txt\\wroz_7.txt"));

  L26_01_005(ctx, prog, db);  // no register to clean: passed over
  EXPECT_FALSE(exists(db + "txt\\st_1p.txt"));
  EXPECT_FALSE(exists(db + "str\\wzorce.dbf"));
}

}  // namespace
}  // namespace zuv::steps::testing
