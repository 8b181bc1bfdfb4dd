// The simulator must accept exactly the Authorization lines the program builds from the simulator's
// own challenge, and refuse them when one part is off.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "http/digest.h"
#include "sim/digest_check.h"

namespace qor::sim {
namespace {

constexpr const char* NONCE = "0a1b2c3d4e5f60718293a4b5c6d7e8f9";

struct ClientLine {
  std::string value;  // what follows "Authorization:"
};

// Runs the program's side: parse the challenge, then build the line for `uri` as a request would.
ClientLine program_line(const DigestConfig& config, const char* password, const char* uri, int requests = 1) {
  DigestState state{};
  std::string challenge = challenge_header(config, NONCE, false);
  EXPECT_EQ(parse_digest_challenge(challenge.c_str(), state), 0);
  std::strncpy(state.username, config.user.c_str(), sizeof state.username - 1);
  std::strncpy(state.password, password, sizeof state.password - 1);
  std::strncpy(state.uri, uri, sizeof state.uri - 1);
  state.nonce_count = static_cast<std::uint32_t>(requests);
  char line[AUTHORIZATION_LINE_SIZE];
  int length = build_digest_authorization(state, line, sizeof line);
  std::string text(line, static_cast<std::size_t>(length));
  const std::string prefix = "Authorization:";
  EXPECT_EQ(text.compare(0, prefix.size(), prefix), 0);
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
  return {text.substr(prefix.size(), text.size() - prefix.size() - 2)};
}

AuthVerdict verify(const DigestConfig& config, const std::string& value,
                   const char* uri = "/admin/advanced") {
  return check_authorization(config, value, "GET", uri, [](const std::string& n) { return n == NONCE; })
      .verdict;
}

DigestConfig config_with(std::string qop, std::string algorithm, std::string opaque) {
  return DigestConfig{"admin",          "s3cret", "QOR Admin", std::move(qop), std::move(algorithm),
                      std::move(opaque)};
}

class ProgramLineAccepted
    : public ::testing::TestWithParam<std::tuple<const char*, const char*, const char*>> {};

TEST_P(ProgramLineAccepted, ForEveryChallengeShape) {
  auto [qop, algorithm, opaque] = GetParam();
  DigestConfig config = config_with(qop, algorithm, opaque);
  for (const char* uri : {"/admin/advanced", "/admin/upgrade?tftp://127.0.0.1:69/qor1a2b.bi1"}) {
    for (int requests : {1, 2, 17}) {
      ClientLine line = program_line(config, "s3cret", uri, requests);
      EXPECT_EQ(verify(config, line.value, uri), AUTH_OK) << line.value;
    }
  }
}

// Every challenge the simulator can send, but md5-sess without qop (refused below).
std::vector<std::tuple<const char*, const char*, const char*>> challenge_shapes() {
  std::vector<std::tuple<const char*, const char*, const char*>> shapes;
  for (const char* qop : {"", "auth", "auth-int", "auth,auth-int"}) {
    for (const char* algorithm : {"", "MD5", "MD5-sess"}) {
      if (qop[0] == 0 && algorithm == std::string("MD5-sess")) continue;
      for (const char* opaque : {"", "op4q"})
        shapes.emplace_back(qop, algorithm, opaque);
    }
  }
  return shapes;
}

INSTANTIATE_TEST_SUITE_P(Shapes, ProgramLineAccepted, ::testing::ValuesIn(challenge_shapes()));

TEST(DigestCheck, WrongPasswordOrRequestIsRefused) {
  const struct {
    const char *qop, *algorithm, *password, *uri;
    AuthVerdict verdict;
  } cases[] = {
      {"", "MD5", "s3cre", "/admin/advanced", AUTH_WRONG_RESPONSE},
      {"auth", "MD5", "s3cre", "/admin/advanced", AUTH_WRONG_RESPONSE},
      {"auth", "MD5-sess", "s3cre", "/admin/advanced", AUTH_WRONG_RESPONSE},
      {"auth", "MD5", "s3cret", "/admin/upgrade?tftp://127.0.0.1:69/a.bi1", AUTH_WRONG_URI},
      // Without a qop the program sends no cnonce, yet its md5-sess key hashes one: no device can check it.
      {"", "MD5-sess", "s3cret", "/admin/advanced", AUTH_BAD_CNONCE},
  };
  for (const auto& c : cases) {
    DigestConfig config = config_with(c.qop, c.algorithm, "");
    EXPECT_EQ(verify(config, program_line(config, c.password, "/admin/advanced").value, c.uri), c.verdict)
        << c.qop << ' ' << c.algorithm << ' ' << c.password << ' ' << c.uri;
  }
}

TEST(DigestCheck, NonceNotIssuedIsStale) {
  DigestConfig config = config_with("auth", "MD5", "");
  ClientLine line = program_line(config, "s3cret", "/admin/advanced");
  AuthCheck check = check_authorization(config, line.value, "GET", "/admin/advanced",
                                        [](const std::string&) { return false; });
  EXPECT_EQ(check.verdict, AUTH_STALE_NONCE);
  EXPECT_EQ(check.nonce, NONCE);
}

// Lines a careless client could send: each must be caught by its own check.
TEST(DigestCheck, TamperedLinesAreRefused) {
  DigestConfig config = config_with("auth,auth-int", "MD5-sess", "op4q");
  std::string good = program_line(config, "s3cret", "/admin/advanced").value;
  auto replaced = [&good](const std::string& from, const std::string& to) {
    std::string s = good;
    std::size_t at = s.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? s : s.replace(at, from.size(), to);
  };
  struct Case {
    std::string value;
    AuthVerdict expected;
  } cases[] = {
      {"", AUTH_MISSING},
      {"Basic YWRtaW46czNjcmV0", AUTH_MALFORMED},
      {replaced("nc=000000001", "nc=00000001"), AUTH_BAD_NC},
      {replaced("qop=auth,auth-int", "qop=auth"), AUTH_WRONG_QOP},
      {replaced("algorithm=\"MD5-sess\"", "algorithm=\"\""), AUTH_WRONG_ALGORITHM},
      {replaced(",opaque=\"op4q\"", ""), AUTH_WRONG_OPAQUE},
      {replaced("username=\"admin\"", "username=\"root\""), AUTH_WRONG_USER},
      {replaced("realm=\"QOR Admin\"", "realm=\"QOR\""), AUTH_WRONG_REALM},
      {replaced("uri=", "url="), AUTH_MALFORMED},
      {good + ",uri=\"/admin/advanced\"", AUTH_MALFORMED},
      {replaced("response=\"", "response=\"0"), AUTH_WRONG_RESPONSE},
  };
  for (const Case& c : cases)
    EXPECT_EQ(verify(config, c.value), c.expected) << c.value;
}

TEST(DigestCheck, ChallengeCarriesOnlyWhatIsOffered) {
  EXPECT_EQ(challenge_header(config_with("", "", ""), "n1", false),
            "WWW-Authenticate: Digest realm=\"QOR Admin\", nonce=\"n1\"\r\n");
  EXPECT_EQ(challenge_header(config_with("auth", "MD5", "o"), "n1", true),
            "WWW-Authenticate: Digest realm=\"QOR Admin\", nonce=\"n1\", qop=\"auth\", algorithm=\"MD5\", "
            "opaque=\"o\", stale=true\r\n");
}

}  // namespace
}  // namespace qor::sim
