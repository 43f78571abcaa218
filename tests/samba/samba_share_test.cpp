// The texts the Samba check reads: the server's configuration, a credentials file and
// the server's list of open files, and the refusal made of them.
#include <gtest/gtest.h>

#include "app/samba_share.h"
#include "app/json.h"

namespace zuv::app::samba {
namespace {

TEST(SambaConfig, SharesPortAndBoundAddressAreRead) {
  const ServerConfig c = parse_config(
      "# comment\n[global]\n  SMB Ports = 14451 445\n  interfaces = lo 127.0.0.1/8\n  bind interfaces only = Yes\n"
      "[homes]\n  read only = no\n[Dane]\n  path = /srv/zuv/\n[off]\n  path = /srv/off\n  available = no\n"
      "[user]\n  path = /home/%U\n[long]\n  path = /srv/\\\n  long\n");
  EXPECT_EQ(c.port, 14451);
  EXPECT_EQ(c.address, "127.0.0.1");
  ASSERT_EQ(c.shares.size(), 2u);
  EXPECT_EQ(c.shares[0].name, "Dane");
  EXPECT_EQ(c.shares[0].path, "/srv/zuv");  // the closing slash goes
  EXPECT_EQ(c.shares[1].path, "/srv/long");  // a continued line
}

TEST(SambaConfig, DefaultsWhenTheServerListensEverywhere) {
  const ServerConfig c = parse_config("[global]\ninterfaces = 10.0.0.5\n[a]\npath=/x\n");
  EXPECT_EQ(c.port, 445);
  EXPECT_EQ(c.address, "127.0.0.1");  // not bound: the loopback answers too
}

TEST(SambaConfig, TheDeepestShareHoldsTheDatabase) {
  ServerConfig c;
  c.shares = {{"all", "/srv"}, {"zuv", "/srv/zuv"}, {"zuvx", "/srv/zuvx"}};
  auto hit = share_of(c, "/srv/zuv/baza/");
  ASSERT_TRUE(hit);
  EXPECT_EQ(hit->share.name, "zuv");
  EXPECT_EQ(hit->inside, "baza");
  hit = share_of(c, "/srv/zuv");
  ASSERT_TRUE(hit);
  EXPECT_EQ(hit->inside, "");
  EXPECT_FALSE(share_of(c, "/srvx/baza"));  // a name that only begins like a share's
  c.shares = {{"root", "/"}};
  ASSERT_TRUE(share_of(c, "/srv/b"));
  EXPECT_EQ(share_of(c, "/srv/b")->inside, "srv/b");
}

TEST(SambaCredentials, MountCredentialsLinesAreRead) {
  std::string error;
  auto c = parse_credentials("username = kasia\r\npassword= ta jne \ndomain=BIURO\n# x\n", &error);
  ASSERT_TRUE(c) << error;
  EXPECT_EQ(c->username, "kasia");
  EXPECT_EQ(c->password, " ta jne ");  // kept whole
  EXPECT_EQ(c->domain, "BIURO");
  EXPECT_FALSE(parse_credentials("password=x\n", &error));
  EXPECT_NE(error.find("username="), std::string::npos);
}

// Abridged from what smbstatus 4.17 answers: one workstation with the semaphore open
// deny-none, our own connection with a firm table open deny-all, and a durable
// handle left by a connection that is gone.
const char* kStatus = R"({"timestamp": "x", "sessions": {
  "1": {"server_id": {"pid": "100"}, "username": "kasia", "remote_machine": "192.168.1.7"},
  "2": {"server_id": {"pid": "200"}, "username": "root", "remote_machine": "127.0.0.1"}},
 "open_files": {
  "/srv/zuv/baza/str/nazwy.dbf": {"opens": {"100/1": {"server_id": {"pid": "100"},
      "sharemode": {"hex": "0x00000007"}, "access_mask": {"READ_DATA": true}}}},
  "/srv/zuv/baza/firma1/ks_dok.dbf": {"opens": {"200/2": {"server_id": {"pid": "200"},
      "sharemode": {"hex": "0x00000000"}, "access_mask": {"READ_DATA": true}},
      "300/3": {"server_id": {"pid": "300"}, "sharemode": {"hex": "0x00000000"}, "access_mask": {"READ_DATA": true}}}},
  "/srv/zuv/bazax/a.dbf": {"opens": {"100/4": {"server_id": {"pid": "100"}, "sharemode": {"hex": "0x7"},
      "access_mask": {"READ_DATA": true}}}}}})";

TEST(SambaStatus, OthersOpensUnderTheDatabaseAreNamedWithTheirMachines) {
  std::string error;
  auto s = parse_status(kStatus, &error);
  ASSERT_TRUE(s) << error;
  EXPECT_EQ(holder_of(*s, "/srv/zuv/baza/firma1/ks_dok.dbf"), "200");
  EXPECT_EQ(holder_of(*s, "/srv/zuv/baza/str/nazwy.dbf"), "");  // not deny-all
  const auto others = opens_under(*s, "/srv/zuv/baza", "200");
  ASSERT_EQ(others.size(), 2u);  // not bazax, not our own
  const std::string text = others_refusal(*s, others, "/srv/zuv/baza/", "zuv");
  EXPECT_NE(text.find("192.168.1.7 (kasia)"), std::string::npos) << text;
  EXPECT_NE(text.find("rozłączona sesja"), std::string::npos) << text;
  EXPECT_NE(text.find("str\\nazwy.dbf"), std::string::npos) << text;
  EXPECT_NE(text.find("firma1\\ks_dok.dbf"), std::string::npos) << text;
  EXPECT_EQ(text.find("127.0.0.1"), std::string::npos) << text;
}

TEST(SambaStatus, AnAnswerWithoutTheListOfOpenFilesIsUnreadable) {
  std::string error;
  EXPECT_FALSE(parse_status(R"({"timestamp": "x", "smb_conf": "/etc/samba/smb.conf"})", &error));
  EXPECT_NE(error.find("otwartych plików"), std::string::npos);
  EXPECT_FALSE(parse_status("", &error));
  EXPECT_FALSE(parse_status("Can't load smb.conf", &error));
  EXPECT_NE(error.find("JSON"), std::string::npos);
}

TEST(Json, ValuesEscapesAndFaults) {
  auto v = parse_json(R"( {"a": [1, -2.5e3, true, false, null], "b": "x\"\\\/\u0142\ud83d\ude00\n"} )");
  ASSERT_TRUE(v);
  ASSERT_EQ(v->find("a")->items.size(), 5u);
  EXPECT_EQ(v->find("a")->items[1].text, "-2.5e3");
  EXPECT_TRUE(v->find("a")->items[2].boolean);
  EXPECT_EQ(v->find("b")->text, "x\"\\/\xC5\x82\xF0\x9F\x98\x80\n");
  EXPECT_EQ(v->find("c"), nullptr);
  for (const char* bad : {"{", "[1,]", "{\"a\" 1}", "\"x", "01x", "[1] 2", "tru", "\"\\q\"", "\"a\nb\""})
    EXPECT_FALSE(parse_json(bad)) << bad;
  EXPECT_FALSE(parse_json(std::string(200, '[') + std::string(200, ']')));  // nesting is bounded
}

}  // namespace
}  // namespace zuv::app::samba
