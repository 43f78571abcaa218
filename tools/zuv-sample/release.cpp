// The release directory as the installer finds it, and the program directory of the
// installation being upgraded. Program files are small stand-ins: the installer only
// copies, deletes and archives them.
#include "sample.h"
#include "shared_layouts.h"
#include "writer.h"

namespace zuv::sample {

namespace {

// Every print template a template step names, in the steps' order.
const char* const kStepTemplates[] = {
    "ew_kas.txt",   "crm_12a.txt",   "drk_z52.txt",  "inw_f3b.txt",  "mp_zus1.txt",  "p_11sum1.txt", "rnw_f3b.txt",
    "v_pr01.txt",   "v_pr3.txt",     "wroz_7.txt",   "p_sum4.txt",   "st_1p.txt",    "st_1b.txt",    "folio.txt",
    "folio_a.txt",  "folio_b.txt",   "foliok.txt",   "oss_ewi1.txt", "oss_ewi2.txt", "fakkor.txt",   "fakkor_zw.txt",
    "faktura.txt",  "faktura_zw.txt", "ksef_zz.txt", "kso_1.txt",    "vz_10.txt",    "vz_20.txt",    "vz_30.txt",
    "pl_uzl1.txt",  "ksef_z1.txt",   "rfolio1.txt"};
// Templates no step names.
const char* const kOtherTemplates[] = {"rachunek.txt", "kp.txt", "kw.txt", "lista_p.txt", "wezwanie.txt"};

// Masks, templates and sibling-module templates the release retires (a part of each
// list; the program directory of the previous version still has them).
const char* const kRetiredMasks[] = {"01_01_01.scn", "01_01_05.scn", "01_01_10.scn", "02_01_01.scn", "05_01_03.scn",
                                     "08_01_02.scn", "08_01_09.scn", "11_01_04.scn", "19_02_01.scn", "dpitu.scn",
                                     "pit_opp.scn",  "ptree3.scn"};
const char* const kRetiredTemplates[] = {"pit_dsf.txt", "pit_op.txt", "pit_zap.txt", "rap_26l.txt", "rap_37l.txt"};
const char* const kRetiredVistrel[] = {"dsf_2.txt", "p28_26.txt", "p36_31.txt", "pitb_21.txt", "pzg_8.txt"};
const char* const kMasks[] = {"01_02_01.scn", "01_02_02.scn", "03_01_01.scn", "06_02_01.scn", "20_01_01.scn"};

std::string program_file(const std::string& name, const std::string& version) {
  // "MZ" and a line naming the stand-in: enough for copies, deletions and archives.
  return std::string("MZ\x90\x00", 4) + " ZUV stand-in " + name + " " + version + "\r\n" + std::string(64, '\0');
}

void write_program_files(const std::string& dir, const std::vector<std::string>& names, const std::string& version) {
  for (const auto& n : names) write_plain(join(dir, n), program_file(n, version));
}

void write_ksef_tree(const std::string& ksef) {
  const char* const kFiles[][2] = {
      {"", "zuv.ksef.exe"},
      {"", "ksef.client.dll"},
      {"", "ksef.config.json"},
      {"en\\", "ksef.client.resources.dll"},
      {"pl\\", "ksef.client.resources.dll"},
      {"runtimes\\win\\lib\\net6.0\\", "System.Security.Cryptography.Pkcs.dll"},
      {"runtimes\\win\\lib\\net9.0\\", "System.Security.Cryptography.Pkcs.dll"},
      {"runtimes\\win-arm64\\native\\", "e_sqlite3.dll"},
      {"runtimes\\win-x64\\native\\", "e_sqlite3.dll"},
      {"runtimes\\win-x86\\native\\", "e_sqlite3.dll"},
  };
  for (const auto& f : kFiles) {
    std::string dir = join(ksef, f[0]);
    make_directories(dir);
    write_plain(join(dir, f[1]), program_file(f[1], kProgramVersion));
  }
}

}  // namespace

std::string template_text(const std::string& name, const std::string& version) {
  return cp852("*** ZUV: wzorzec wydruku " + name + " (" + version + ") ***\r\n"
               "Nazwa firmy: {FIRMA}        Data wystawienia: {DATA}\r\n"
               "Lp.  Nazwa towaru lub usługi        Ilość   Cena netto   Wartość\r\n"
               "{POZYCJE}\r\n"
               "Razem do zapłaty: {BRUTTO} zł\r\n");
}

void write_release(const Options& options, const std::string& dir, table::WorkAreas& areas) {
  make_directories(dir);
  Prng prng = Prng(options.seed).fork(Prng::salt_of("release"));
  write_program_files(dir, {"zuv.exe", "un_zuv.exe", "setup2.exe", "7z.exe", "openssl.exe", "msxsl.exe", "ot4xb.dll",
                            "xbzlib.dll", "zuv_pl.dll", "zuv_ksef.dll", "libcrypto-3.dll"},
                      kProgramVersion);
  {
    std::string d = join(dir, "czytaj.to\\");
    make_directories(d);
    write_plain(join(d, "zuvsans.ttf"), std::string("\x00\x01\x00\x00", 4) + "ZUV Sans stand-in\r\n");
    write_plain(join(d, "zmiany.chm"), "ITSF stand-in: zmiany w wersji 26.01.033\r\n");
    write_plain(join(d, "czytaj.txt"), cp852("Zmiany w wersji 26.01.033: faktury KSeF, ewidencja OSS.\r\n"));
  }
  {
    std::string d = join(dir, "vistrel\\");
    make_directories(d);
    for (const char* n : {"p36_32.txt", "pit_37.txt", "pcsr_2.txt"}) write_plain(join(d, n), template_text(n, kProgramVersion));
  }
  {
    std::string d = join(dir, "mask\\");
    make_directories(d);
    for (const char* n : kMasks) write_plain(join(d, n), std::string("SCN;") + n + ";26.01.033\r\n");
  }
  {
    std::string d = join(dir, "txt\\");
    make_directories(d);
    for (const char* n : kStepTemplates) write_plain(join(d, n), template_text(n, kProgramVersion));
    for (const char* n : kOtherTemplates) write_plain(join(d, n), template_text(n, kProgramVersion));
  }
  {
    std::string d = join(dir, "xml\\");
    make_directories(d);
    write_plain(join(d, "jpk_v7m.xsd"), "<?xml version=\"1.0\"?>\r\n<!-- schemat 2026 -->\r\n");
    write_plain(join(d, "ksef_fa3.xsd"), "<?xml version=\"1.0\"?>\r\n<!-- FA(3) -->\r\n");
  }
  {
    std::string d = join(dir, "w001\\");
    make_directories(d);
    write_plain(join(d, "vat7.dek"), "VAT-7 (23)\r\n");
    write_plain(join(d, "pit11.dek"), "PIT-11 (30)\r\n");
  }
  write_ksef_tree(join(dir, "ksef\\"));
  write_public_tables(join(dir, "public\\"), false, 0, nullptr, prng.fork(Prng::salt_of("public")));
  write_templates(join(dir, "str\\"), true, areas, prng.fork(Prng::salt_of("str")));
  {
    TableWriter w(join(dir, "wb.dbf"), wersja_database_layout());
    w.append();
    w.text("baza", kDatabaseVersion);
    w.text("zuv", kProgramVersion);
    w.text("ok", "T");
    w.text("rok", kYear);
    w.close();
    TableWriter k(join(dir, "wk.dbf"), wersja_program_layout());
    k.append();
    k.text("rok", kYear);
    k.text("zuv", kProgramVersion);
    k.close();
  }
  stamp_tables(dir, true);
}

void write_program(const Options& options, const std::string& dir, const std::string& database_path) {
  (void)options;
  make_directories(dir);
  for (const char* sub : {"czytaj.to\\", "export\\zus\\", "export\\edek\\", "export\\crm\\", "export\\gus\\",
                          "export\\nfz\\", "mask\\", "vistrel\\", "install\\", "setings\\", "temp\\arch\\", "txt\\",
                          "dek\\"})
    make_directories(join(dir, sub));
  write_program_files(dir, {"zuv.exe", "un_zuv.exe", "openssl.exe", "ot4xb.dll", "xbzlib.dll", "zlib1.dll",
                            "socmapi.dll", "zuv_pl.dll", "zuv_old.dll", "fce32.dll", "zuv.ksef.exe"},
                      kInstalledVersion);
  {
    TableWriter w(join(dir, "wersja.dbf"), wersja_program_layout());
    w.append();
    w.text("rok", kYear);
    w.text("zuv", kInstalledVersion);
    w.close();
  }
  {
    if (database_path.size() > 60)
      throw SampleError("Ścieżka bazy danych ma więcej niż 60 znaków (pole PATH pliku baza.dbf): " + database_path);
    TableWriter w(join(dir, "baza.dbf"), baza_layout());
    w.append();
    w.text("PATH", cp852(database_path));
    w.close();
  }
  write_plain(join(dir, "setings\\ns.cfg"), "STANOWISKO_1 \r\n");
  {
    std::string d = join(dir, "txt\\");
    for (const char* n : kStepTemplates) write_plain(join(d, n), template_text(n, kInstalledVersion));
    for (const char* n : kRetiredTemplates) write_plain(join(d, n), template_text(n, kInstalledVersion));
    // Edited by the operator: kept by the deployment, which adds only missing files.
    write_plain(join(d, "rachunek.txt"), template_text("rachunek.txt", "edytowany przez operatora"));
    write_plain(join(d, "moj_wz.txt"), template_text("moj_wz.txt", "edytowany przez operatora"));
  }
  {
    std::string d = join(dir, "mask\\");
    for (const char* n : kRetiredMasks) write_plain(join(d, n), std::string("SCN;") + n + ";25.01.050\r\n");
    for (const char* n : kMasks) write_plain(join(d, n), std::string("SCN;") + n + ";25.01.050\r\n");
  }
  {
    std::string d = join(dir, "vistrel\\");
    for (const char* n : kRetiredVistrel) write_plain(join(d, n), template_text(n, kInstalledVersion));
  }
  {
    std::string d = join(dir, "czytaj.to\\");
    write_plain(join(d, "zuvsans.ttf"), std::string("\x00\x01\x00\x00", 4) + "ZUV Sans 25 stand-in\r\n");
    write_plain(join(d, "zmiany.chm"), "ITSF stand-in: zmiany w wersji 25.01.050\r\n");
  }
  {
    std::string d = join(dir, "temp\\");
    for (const char* n : {"mail_test.txt", "mail_test.log0", "mail_send.log1"}) write_plain(join(d, n), "test\r\n");
  }
  stamp_tables(dir, true);
}

}  // namespace zuv::sample
