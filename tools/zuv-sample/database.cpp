// The database of the older version outside its firm directories: the version record,
// the firm register, the semaphore, "str\" with the old templates and the registered
// edited templates, "public\" and "pit\" with every shared table (and the PIT
// duplicates and payments the upgrade repairs), edited template copies and logs.
#include <algorithm>

#include "firm_context.h"
#include "shared_layouts.h"

namespace zuv::sample {

namespace {
FirmPlan deleted_registration(int number) {
  FirmPlan p;
  p.number = number;
  p.deleted = true;
  return p;
}
}  // namespace

std::vector<FirmPlan> plan_firms(const Options& options) {
  std::vector<FirmPlan> live;
  const int n = options.firms;
  int next_special = 2 + options.old_firms;
  const char* const kSpecial[] = {kBelow23FirmVersion, kAfterStep7Version, kAfterStep16Version};
  for (int i = 1; i <= n; ++i) {
    FirmPlan p;
    p.number = i;
    p.ordinal = i;
    p.version = options.db_version;
    if (i >= 2 && i < 2 + options.old_firms) p.version = kOldFirmVersion;
    else if (i >= next_special && i < next_special + 3) p.version = kSpecial[i - next_special];
    if (i > n - options.broken_firms) {
      p.broken = true;
      p.version = options.db_version;
    }
    p.vat_payer = i % 4 != 3;
    p.lump_sum = i % 2 == 0;
    p.has_sld_buff = i % 3 != 0;
    p.has_idw_lst = i % 2 == 1;
    p.empty_ksef_nip = i % 5 == 2;
    p.empty_v_oss = i % 7 == 3;
    p.empty_ksef_w_xml = i % 3 == 2;
    live.push_back(p);
  }
  // Two deleted registrations: after the first firm and at the end.
  std::vector<FirmPlan> out;
  for (std::size_t i = 0; i < live.size(); ++i) {
    out.push_back(live[i]);
    if (i == 0) out.push_back(deleted_registration(n + 1));
  }
  out.push_back(deleted_registration(n + 2));
  return out;
}

// The edited templates of the database: some registered (one in capitals with
// trailing blanks), one of no release list.
namespace {
const char* const kEditedTemplates[] = {"faktura.txt", "fakkor.txt", "st_1p.txt", "oss_ewi1.txt", "p_sum4.txt",
                                        "ksef_zz.txt", "vz_10.txt",  "kso_1.txt", "moj_wz.txt"};

void write_generic(const std::string& path, const Structure& s, Prng prng, int records) {
  TableWriter w(path, s);
  for (int k = 1; k <= records; ++k) {
    w.append();
    for (const auto& f : s) {
      if (f.type == 'D') w.date(f.name, dtos(days_from_civil(2025, 1, 1) + prng.range(0, 364)));
      else if (f.type == 'N') w.number(f.name, static_cast<double>(prng.range(1, 999)));
      else if (f.length <= 2) w.text(f.name, std::to_string(prng.range(1, 9)));
      else w.text(f.name, f.name.substr(0, std::min<std::size_t>(3, f.name.size())) + std::to_string(prng.range(100, 999)));
    }
  }
  w.close();
}

// PIT declarations of firms and employees with duplicates, payments linked to them
// (some carrying a wrong firm number), and the employee-firm links.
void write_pit_tables(const std::string& pub, int firms, Prng prng) {
  auto find = [](const char* name) -> const SharedTable& { return *find_shared_table(name); };
  auto nrfir = [](int n) { return std::to_string(n); };
  const int declarations = std::max(6, firms * 2);
  {
    TableWriter w(join(pub, "fpit.dbf"), shared_layout(find("fpit")));
    for (int k = 1; k <= declarations; ++k) {
      // Declarations 2 and 3 are the same declaration, period and firm.
      int same = k == 3 ? 2 : k;
      w.append();
      w.text("lpp", key('F', k));
      w.text("pit", same % 2 ? "PIT-4R" : "PIT-8AR");
      w.text("rmc", month_text(2025, 1 + same % 12));
      w.text("nrfir", nrfir(1 + same % std::max(1, firms)));
      w.number("kw_zap", prng.amount(0, 500));
    }
    w.close();
  }
  {
    TableWriter w(join(pub, "wpit.dbf"), shared_layout(find("wpit")));
    for (int k = 1; k <= declarations; ++k) {
      int same = k == 4 ? 3 : k;  // declarations 3 and 4 of the same employee
      w.append();
      w.text("lpp", key('W', k));
      w.text("pit", "PIT-11");
      w.text("lpp_o", key('O', same));
      w.text("rmc", "202512");
    }
    w.close();
  }
  {
    TableWriter w(join(pub, "wf.dbf"), shared_layout(find("wf")));
    for (int k = 1; k <= declarations; ++k) {
      w.append();
      w.text("lpp", key('L', k));
      w.text("lpp_o", key('O', k));
      w.text("nrfir", nrfir(1 + k % std::max(1, firms)));
    }
    w.close();
  }
  {
    TableWriter w(join(pub, "pit_zap.dbf"), shared_layout(find("pit_zap")));
    for (int k = 1; k <= declarations * 2; ++k) {
      w.append();
      w.text("lpp", key('Z', k));
      if (k % 2) w.text("lpp_w", key('W', 1 + k / 2));
      else w.text("lpp_f", key('F', k / 2));
      w.text("nrfir", nrfir(k % 3 == 0 ? 999 : 1));  // 999: a wrong firm the repair corrects
      w.number("kwota_gl", prng.amount(10, 3000));
      w.number("odsetki", k % 4 == 0 ? prng.amount(1, 50) : 0);
      w.date("data_z", dtos(days_from_civil(2026, 1, 10) + k));
    }
    w.close();
  }
}

}  // namespace

void write_public_tables(const std::string& pub, bool with_data, int firms, table::WorkAreas* areas, Prng prng) {
  make_directories(pub);
  for (const auto& t : shared_tables()) {
    if (std::string_view(t.directory) != "public\\") continue;
    std::string name = t.name;
    if (with_data && (name == "fpit" || name == "wpit" || name == "wf" || name == "pit_zap")) continue;
    if (with_data) write_generic(join(pub, name + ".dbf"), shared_layout(t), prng.fork(Prng::salt_of(name)), 8);
    else write_empty(join(pub, name + ".dbf"), shared_layout(t));
  }
  if (with_data) write_pit_tables(pub, firms, prng.fork(Prng::salt_of("pit")));
  {
    TableWriter w(join(pub, "pub_dat.dbf"), pub_dat_layout());
    w.append();
    w.date("nv_d_check", with_data ? "20251215" : "");
    w.text("nv_t_check", with_data ? "10:15:00" : "");
    w.text("nv_r_check", std::string("Zainstalowano: ") + kInstalledVersion);
    w.close();
  }
  if (areas)
    for (const auto& t : shared_tables())
      if (std::string_view(t.directory) == "public\\") build_index(*areas, pub, t.name, t.tags);
}

void write_database_shared(const Options& options, const std::string& dir, const std::vector<FirmPlan>& firms,
                           table::WorkAreas& areas) {
  make_directories(dir);
  Prng prng = Prng(options.seed).fork(Prng::salt_of("database"));
  {
    TableWriter w(join(dir, "wersja.dbf"), wersja_database_layout());
    w.append();
    w.text("baza", options.db_version);
    w.text("zuv", kInstalledVersion);
    w.text("ok", "T");
    w.text("rok", kYear);
    w.close();
  }
  {
    TableWriter w(join(dir, "install.dbf"), install_layout());
    for (const auto& f : firms) {
      w.append();
      w.number("nr", f.number);
      w.text("nazwa", f.deleted ? "FIRMA USUNIETA " + std::to_string(f.number) : "FIRMA " + std::to_string(f.number));
      w.date("data", "20250102");
      if (f.deleted) w.remove();
    }
    w.close();
  }
  {
    TableWriter w(join(dir, "semafor.dbf"), semafor_layout());
    w.append();
    w.text("nazwa", "ZUV");
    w.close();
  }

  std::string str = join(dir, "str\\");
  write_templates(str, false, areas, prng.fork(Prng::salt_of("str")));
  {
    TableWriter w(join(str, "wzorce.dbf"), shared_layout(*find_shared_table("wzorce")));
    const char* const kRegistered[][2] = {{"Faktura VAT", "faktura.txt"},   {"Faktura VAT (2)", "FAKTURA.TXT  "},
                                          {"Srodki trwale", "st_1p.txt"},   {"Ewidencja OSS", "oss_ewi1.txt"},
                                          {"Wlasny wzorzec", "moj_wz.txt"}, {"Korekta", "fakkor.txt"}};
    for (const auto& r : kRegistered) {
      w.append();
      w.text("nazwa", r[0]);
      w.text("plik", r[1]);
      w.date("data", "20250610");
    }
    w.close();
    build_index(areas, str, "wzorce", find_shared_table("wzorce")->tags);
  }
  make_directories(join(str, "xml\\"));
  make_directories(join(str, "zest\\"));
  write_plain(join(str, "xml\\jpk_v7m.xsd"), "<?xml version=\"1.0\"?>\r\n<!-- schemat 2024 -->\r\n");

  write_public_tables(join(dir, "public\\"), true, options.firms, &areas, prng.fork(Prng::salt_of("public")));
  {
    std::string pit = join(dir, "pit\\");
    make_directories(pit);
    TagPairs tags = {{"lpp", "lpp"}, {"rmc", "rmc+nrfir"}};
    write_generic(join(pit, "pit_36.dbf"), key_structure(tags), prng.fork(Prng::salt_of("pit_36")), 10);
    build_index(areas, pit, "pit_36", tags);
  }
  {
    std::string txt = join(dir, "txt\\");
    make_directories(txt);
    for (const char* name : kEditedTemplates) write_plain(join(txt, name), template_text(name, "edytowany"));
  }
  {
    std::string logs = join(dir, "logs\\");
    make_directories(logs);
    write_plain(join(logs, "ksef_20251201.txt"), "2025-12-01 wyslano 3 faktury\r\n");
    write_plain(join(logs, "ksef_20251202.txt"), "2025-12-02 pobrano 5 faktur\r\n");
    write_plain(join(logs, "upgrade.log"), "25.01.050\r\n");
  }
  {
    // The archive of the previous installation kit: an empty ZIP (its end record only).
    std::string install = join(dir, "install\\");
    make_directories(install);
    std::string empty_zip("PK\x05\x06", 4);
    empty_zip.append(18, '\0');
    write_plain(join(install, std::string(kInstalledVersion) + ".zip"), empty_zip);
  }
  stamp_tables(dir, false);
  for (const char* sub : {"str\\", "public\\", "pit\\"}) stamp_tables(join(dir, sub), true);
}

}  // namespace zuv::sample
