// One firm directory: the firm's own records, every table the conversion steps touch
// in the layout of the firm's version, every other table of the firm index catalogue,
// the client table, the KSeF working directories, the indexes the suite keeps, and
// for a broken firm the damage that makes its first conversion fail.
#include <algorithm>
#include <filesystem>

#include "firm_context.h"
#include "platform/os/files.h"
#include "platform/os/file_handle.h"
#include "platform/os/path.h"
#include "tables/catalogue.h"

namespace zuv::sample {

namespace {

void write_version(FirmContext& firm) {
  TableWriter w(firm.path("wersja"), firm.layout("wersja"));
  const std::string& v = firm.plan.version;  // "025.01.050"
  w.append();
  w.text("baza", v);
  w.number("nr", std::stoi(v.substr(0, 3)) + std::stoi(v.substr(4, 2)) / 100.0);
  w.text("wariant", v.substr(7, 3));
  w.close();
}

void write_firma(FirmContext& firm) {
  TableWriter w(firm.path("firma"), firm.layout("firma"));
  const FirmPlan& p = firm.plan;
  w.append();
  w.text("ident", "FIRMA " + std::to_string(p.number));
  w.text("nazwa", cp852("Przedsiębiorstwo Usługowo-Handlowe nr ") + std::to_string(p.number));
  w.text("nip", firm_nip(p.number));
  // One payer is marked in lower case: the steps compare it trimmed and upper-cased.
  w.text("vt", p.vat_payer ? (p.ordinal % 5 == 0 ? "t" : "T") : "N");
  w.text("ryczalt", p.lump_sum ? "R" : " ");
  w.text("ksef_rules", "202501");
  w.text("ksef_serw", "T");
  w.text("miasto", cp852("Łódź"));
  w.text("ulica", "Piotrkowska " + std::to_string(p.number));
  w.number("nrfir", p.number);
  if (w.has("METODA_ZD")) w.number("METODA_ZD", 0);
  w.close();
}

void write_v_inne(FirmContext& firm) {
  Prng prng = firm.prng_for("v_inne");
  TableWriter w(firm.path("v_inne"), firm.layout("v_inne"));
  for (int k = 1; k <= 20; ++k) {
    w.append();
    w.text("rmc", month_text(2025, 1 + k % 12));
    w.text("typ", k % 2 ? "IN" : "WN");
    w.text("lpp", key('I', k));
    w.date("data", dtos(days_from_civil(2025, 1, 1) + prng.range(0, 330)));
    w.text("opis", "Inna operacja " + std::to_string(k));
    w.number("netto", prng.amount(1, 2000));
    w.text("kas", "N");
  }
  w.close();
}

// Periods from May 2020 on, so that September 2020 (dropped) and October 2020 (kept)
// are both there.
void write_jpk(FirmContext& firm, const char* table) {
  Prng prng = firm.prng_for(table);
  TableWriter w(firm.path(table), firm.layout(table));
  for (int k = 0; k < 30; ++k) {
    int year = 2020 + (4 + k) / 12, month = 1 + (4 + k) % 12;
    w.append();
    w.text("rmc", month_text(year, month));
    w.text("nrk", std::to_string(1 + k % 3));
    w.text("grupa", k % 2 ? "SPRZ" : "ZAK");
    w.date("data_dok", dtos(days_from_civil(year, month, 1) + prng.range(0, 27)));
    w.text("kas", k % 7 == 0 ? "T" : "N");
    w.text("lpp", key('J', k + 1));
    w.number("netto", prng.amount(1, 3000));
  }
  w.close();
}

// Partners of a lump-sum firm around the thresholds 60,000 and 300,000.
void write_wspolnik(FirmContext& firm) {
  TableWriter w(firm.path("wspolnik"), firm.layout("wspolnik"));
  struct Partner { const char* gzus; double prz52; double p52; };
  static const Partner kPartners[] = {{"T", 60000.00, 100}, {"T", 60000.01, 100}, {"T", 300000.00, 100},
                                      {"T", 300000.01, 100}, {"T", 45000.00, 0},   {"N", 120000.00, 200},
                                      {"T", 0, 300}};
  int k = 0;
  for (const auto& p : kPartners) {
    ++k;
    w.append();
    w.text("lpp", key('P', k));
    w.text("lpp_o", key('O', k));
    w.text("nazwisko", cp852("Wspólnik ") + std::to_string(k));
    w.text("gzus", p.gzus);
    w.number("prz52", p.prz52);
    w.number("p52", p.p52);
    w.number("udzial", 100.0 / 7);
  }
  w.close();
}

void write_small_tables(FirmContext& firm) {
  const FirmPlan& p = firm.plan;
  if (p.has_sld_buff) {
    Prng prng = firm.prng_for("sld_buff");
    TableWriter w(firm.path("sld_buff"), firm.layout("sld_buff"));
    for (int k = 1; k <= 12; ++k) {
      w.append();
      w.text("lpp_dok", document_key(k));
      w.text("lpp_alien", key('X', k));
      w.text("kas", k % 4 == 0 ? "T" : "N");
      w.number("kwota", prng.amount(1, 900));
      w.date("data", "20251015");
    }
    w.close();
  }
  {
    TableWriter w(firm.path("ksef_p"), firm.layout("ksef_p"));
    w.append();
    w.text("typ_vat", "VA");
    w.text("typ_zal", "ZA");
    w.text("nip", firm_nip(p.number));
    w.text("srodow", "P");
    w.close();
  }
  {
    TableWriter w(firm.path("ksef_nip"), firm.layout("ksef_nip"));
    if (!p.empty_ksef_nip) {
      Prng prng = firm.prng_for("ksef_nip");
      for (int k = 1; k <= 6; ++k) {
        w.append();
        w.text("nip", std::to_string(prng.range(1, 9)) + prng.digits(9));
        w.text("nazwa", "Dostawca " + std::to_string(k));
        w.text("kraj", "PL");
        for (const auto& code : summary_categories()) w.number("il_" + lib_lower(code), prng.range(0, 40));
      }
    }
    w.close();
  }
  if (p.has_idw_lst) {
    TableWriter w(firm.path("idw_lst"), firm.layout("idw_lst"));
    for (int k = 1; k <= 3; ++k) {
      w.append();
      w.text("lpp", key('W', k));
      w.text("id_wew", "ID" + std::to_string(100 + k));
      w.text("opis", cp852("Identyfikator wewnętrzny"));
    }
    w.close();
  }
  {
    TableWriter w(firm.path("ksef_dat"), firm.layout("ksef_dat"));
    w.append();
    w.date("data", "20251201");
    w.text("godz", "08:00:00");
    w.close();
  }
  {
    TableWriter w(firm.path("ntx"), firm.layout("ntx"));
    for (const char* name : {"ks_dok", "vat_ptu", "klient"}) {
      w.append();
      w.text("nazwa", name);
      w.logical("ok", true);  // as the suite's last full indexing left it
    }
    w.close();
  }
  {
    Prng prng = firm.prng_for("klient");
    make_directories(join(firm.dir, "klient"));
    TableWriter w(firm.path("klient\\klient"), firm.layout("klient\\klient"));
    static const char* const kTowns[] = {"Warszawa", "Kraków", "Łódź", "Gdańsk", "Poznań", "Zielona Góra"};
    for (int k = 1; k <= 40; ++k) {
      w.append();
      w.text("symbol", key('C', k));
      w.text("nazwa_sk", "Klient " + std::to_string(prng.range(1, 999)));
      w.text("nazwa", cp852("Klient spółka cywilna ") + std::to_string(k));
      w.text("miasto", cp852(prng.pick(kTowns)));
      w.text("nip", std::to_string(prng.range(1, 9)) + prng.digits(9));
      if (k % 10 == 0) w.memo("uwagi", cp852("Stały klient; płatność przelewem."));
    }
    w.close();
  }
}

bool is_common(const tables::CatalogueEntry& e) {
  return e.kind == tables::CatalogueEntry::Index && !find_firm_table(e.name) && e.name != "sld_buff";
}

// Every other catalogue table, with the fields its keys need, a few records and its
// index. No step reads them, so every firm holds the same ones: the first firm writes
// them and the others take byte copies of its files.
void write_catalogue_tables(FirmContext& firm, table::WorkAreas& areas, const std::string& common_from) {
  Prng prng = Prng(firm.options.seed).fork(Prng::salt_of("catalogue"));
  for (const auto& entry : tables::firm_catalogue()) {
    if (!is_common(entry)) continue;
    // A conditional entry is left out of every other firm, so both ways are seen.
    if (!entry.condition.empty() && firm.plan.ordinal % 2 == 0) continue;
    if (!common_from.empty()) {
      for (const char* ext : {".dbf", ".cdx"}) {
        std::error_code ec;
        std::filesystem::copy_file(os::native_path(join(common_from, entry.name + ext)),
                                   os::native_path(join(firm.dir, entry.name + ext)), ec);
        if (ec) throw SampleError("Nie można skopiować tabeli " + join(common_from, entry.name + ext));
      }
      continue;
    }
    Structure s = key_structure(TagPairs(entry.tags.begin(), entry.tags.end()));
    detail::merge_field(s, C("opis", 20));
    TableWriter w(join(firm.dir, entry.name + ".dbf"), s);
    for (int k = 1; k <= 3; ++k) {
      w.append();
      for (const auto& f : s) {
        if (f.type == 'D') w.date(f.name, dtos(days_from_civil(2025, 1, 1) + prng.range(0, 364)));
        else if (f.type == 'N') w.number(f.name, static_cast<double>(prng.range(1, 99)));
        else if (f.length <= 2) w.text(f.name, std::to_string(prng.range(1, 9)));
        else w.text(f.name, f.name.substr(0, std::min<std::size_t>(3, f.name.size())) + std::to_string(prng.range(100, 999)));
      }
    }
    w.close();
    build_index(areas, firm.dir, entry.name, TagPairs(entry.tags.begin(), entry.tags.end()));
  }
}

// The catalogue's indexes of the firm's own tables, as the suite keeps them.
void index_firm_tables(FirmContext& firm, table::WorkAreas& areas) {
  for (const auto& entry : tables::firm_catalogue())
    if (entry.kind == tables::CatalogueEntry::Index && !is_common(entry) &&
        os::file_exists(std::string_view(join(firm.dir, entry.name + ".dbf"))))
      build_index(areas, firm.dir, entry.name, TagPairs(entry.tags.begin(), entry.tags.end()));
}

// The KSeF buffer indexes the suite keeps (not in the catalogue: the steps build them).
void write_buffer_indexes(FirmContext& firm, table::WorkAreas& areas) {
  const TagPairs documents = {{"dat", "data_p1"}, {"lpp", "lpp"}, {"kkk", "is_k"}, {"ksef", "nr_ksef"}};
  const TagPairs lines = {{"lpf", "lppf+str(lp,4,0)"}, {"lpp", "lpp"}};
  build_index(areas, firm.dir, "ksef_bz", documents);
  build_index(areas, firm.dir, "ksef_bs", documents);
  build_index(areas, firm.dir, "ksef_bza", lines);
  build_index(areas, firm.dir, "ksef_bsa", lines);
  build_index(areas, firm.dir, "ksef_bzb", {{"lpf", "lppf+dekret+kas"}, {"kas", "kas"}});
  build_index(areas, firm.dir, "ksef_nip", {{"nip", "nip"}});
}

// Files that only a full index rebuild removes: those the catalogue retires and the
// rebuild's working files.
void write_retired_files(FirmContext& firm) {
  for (const auto& entry : tables::firm_catalogue())
    if (entry.kind == tables::CatalogueEntry::Delete) {
      if (entry.name.size() > 4 && entry.name.substr(entry.name.size() - 4) == ".dbf")
        write_empty(join(firm.dir, entry.name), {C("lpp", 10), C("opis", 20)});
      else
        write_plain(join(firm.dir, entry.name), "0000000001\r\n");
    }
  write_empty(join(firm.dir, "robo.dbf"), {C("lpp", 10)});
  write_plain(join(firm.dir, "a_kopia.txt"), "kopia robocza\r\n");
}

void write_ksef_directories(FirmContext& firm) {
  const char* const kDirs[] = {"ksef\\", "ksef\\r\\", "ksef\\r\\log\\", "ksef\\r\\xml\\", "ksef\\w\\", "ksef\\w\\log\\",
                               "ksef\\w\\xml\\"};
  for (const char* d : kDirs) {
    std::string dir = join(firm.dir, d);
    make_directories(dir);
    std::string sub(d);
    if (sub == "ksef\\w\\xml\\" && firm.plan.empty_ksef_w_xml) continue;
    if (sub.find("log") != std::string::npos) write_plain(join(dir, "ksef.log"), "2025-12-01 08:00:00 sesja zamknieta\r\n");
    else if (sub.find("xml") != std::string::npos)
      write_plain(join(dir, "faktura_0001.xml"), "<?xml version=\"1.0\"?>\r\n<Faktura/>\r\n");
    else write_plain(join(dir, "stan.txt"), "0\r\n");
  }
}

void write_backup_directory(FirmContext& firm) {
  // One firm keeps its backup ("bak\w51.txt"), another has stale files there.
  if (firm.plan.ordinal % 4 == 0) {
    make_directories(join(firm.dir, "bak\\k\\"));
    write_plain(join(firm.dir, "bak\\w51.txt"), "zachowaj\r\n");
    write_plain(join(firm.dir, "bak\\k\\ks_dok.old"), "kopia\r\n");
  } else if (firm.plan.ordinal % 4 == 1) {
    make_directories(join(firm.dir, "bak\\k\\"));
    write_plain(join(firm.dir, "bak\\stary.txt"), "stara kopia\r\n");
  }
}

// The record count of the header claims more records than the file holds: the
// engine refuses to open the table, so the first step that opens it fails.
void damage(const std::string& path) {
  os::FileHandle handle;
  if (handle.open(os::native_path(path), os::Access::ReadWrite, os::Share::Exclusive) != 0)
    throw SampleError("Nie można otworzyć pliku " + path);
  const std::uint8_t count[4] = {0x40, 0x42, 0x0F, 0x00};  // 1,000,000 records
  if (handle.write_at(4, count, sizeof count) != 0) throw SampleError("Nie można zapisać pliku " + path);
}

}  // namespace

void write_firm(const Options& options, const FirmPlan& plan, const std::string& firm_directory,
                table::WorkAreas& areas, const std::string& common_from) {
  make_directories(firm_directory);
  FirmContext firm{options, plan, firm_directory, Prng(options.seed).fork(static_cast<std::uint64_t>(plan.number) + 1),
                   plan.broken ? std::min<long>(options.records, 200) : options.records};
  write_version(firm);
  write_firma(firm);
  write_v_inne(firm);
  for (const char* t : {"v_jpkd", "v_jpke", "v7_jpk"}) write_jpk(firm, t);
  write_wspolnik(firm);
  write_books(firm);
  write_purchase_buffers(firm);
  write_sales_buffers(firm);
  write_small_tables(firm);
  write_catalogue_tables(firm, areas, common_from);

  // The suite keeps every index current; the conversions rebuild those they need.
  index_firm_tables(firm, areas);
  write_buffer_indexes(firm, areas);

  write_retired_files(firm);
  write_ksef_directories(firm);
  write_backup_directory(firm);
  stamp_tables(firm_directory, true);
  if (plan.broken) damage(firm.path("v_inne"));
}

}  // namespace zuv::sample
