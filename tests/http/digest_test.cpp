#include "http/digest.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace qor {
namespace {

// RFC 2617's worked example.
constexpr const char* USER = "Mufasa";
constexpr const char* REALM = "testrealm@host.com";
constexpr const char* PASSWORD = "Circle Of Life";
constexpr const char* NONCE = "dcd98b7102dd2f0e8b11d0f600bfb0c093";
constexpr const char* CNONCE = "0a4f113b";
constexpr const char* URI = "/dir/index.html";

std::string response_for(const char* algorithm, const char* qop, const char* nc) {
  char out[MD5_HEX_SIZE];
  compute_digest_response(NONCE, CNONCE, USER, REALM, PASSWORD, algorithm, nc, "GET", qop, URI, "", out);
  return out;
}

DigestState example_state(const char* qop, const char* algorithm = "", const char* opaque = "") {
  DigestState s{};
  s.nonce_count = 1;
  std::strcpy(s.nonce, NONCE);
  std::strcpy(s.cnonce, CNONCE);
  std::strcpy(s.username, USER);
  std::strcpy(s.password, PASSWORD);
  std::strcpy(s.realm, REALM);
  std::strcpy(s.qop, qop);
  std::strcpy(s.algorithm, algorithm);
  std::strcpy(s.uri, URI);
  std::strcpy(s.opaque, opaque);
  return s;
}

std::string line_of(const DigestState& s) {
  char line[AUTHORIZATION_LINE_SIZE];
  int n = build_digest_authorization(s, line, sizeof line);
  EXPECT_EQ(n, static_cast<int>(std::strlen(line)));
  return line;
}

std::string cnonce_of_next_draw() {
  char text[8];
  std::snprintf(text, sizeof text, "%x", static_cast<unsigned>(std::rand() & 0x7FFF));
  return text;
}

TEST(DigestResponse, MatchesTheRfcExampleWithItsEightDigitCount) {
  char ha1[MD5_HEX_SIZE];
  digest_ha1("", USER, REALM, PASSWORD, NONCE, CNONCE, ha1);
  EXPECT_STREQ(ha1, "939e7578ed9e3c518a452acee763bce9");
  digest_ha1("MD5-sess", USER, REALM, PASSWORD, NONCE, CNONCE, ha1);  // hashes the raw digest again
  EXPECT_STREQ(ha1, "71f45625a6e5fcdd072ce44e8e101a01");
  EXPECT_EQ(response_for("", "auth", "00000001"), "6629fae49393a05397450978507c4ef1");
}

struct Variant {
  const char* algorithm;
  const char* qop;
  const char* response;  // computed independently from the same inputs
};

class DigestVariants : public ::testing::TestWithParam<Variant> {};

TEST_P(DigestVariants, Response) {
  const Variant& v = GetParam();
  EXPECT_EQ(response_for(v.algorithm, v.qop, v.qop[0] ? "000000001" : ""), v.response);
}

INSTANTIATE_TEST_SUITE_P(AlgorithmsAndQop, DigestVariants,
                         ::testing::Values(Variant{"", "auth", "567590dc99dcfcef45a1522daa7f7c97"},
                                           Variant{"MD5", "auth", "567590dc99dcfcef45a1522daa7f7c97"},
                                           Variant{"md5-sess", "auth", "6d53cb7822020a2c0633972d05890153"},
                                           Variant{"MD5-SESS", "auth", "6d53cb7822020a2c0633972d05890153"},
                                           Variant{"", "auth-int", "90eeddd6505115b9d35f5279705dc8ac"},
                                           Variant{"", "AUTH-INT", "c4c8e52f7f338e25e5fb6799d831501a"},
                                           Variant{"", "", "670fd8c2df070c60b045671b8b24ff02"},
                                           Variant{"", "auth,auth-int", "8f6853878b0328a9bd12bf4c0e80d9b5"}));

TEST(DigestLine, QopAuthWithoutOpaque) {
  EXPECT_EQ(line_of(example_state("auth")),
            "Authorization: Digest username=\"Mufasa\",realm=\"testrealm@host.com\","
            "nonce=\"dcd98b7102dd2f0e8b11d0f600bfb0c093\",uri=\"/dir/index.html\",algorithm=\"\","
            "response=\"567590dc99dcfcef45a1522daa7f7c97\",qop=auth,nc=000000001,cnonce=\"0a4f113b\"\r\n");
}

TEST(DigestLine, WithoutQopEndsAfterTheResponse) {
  std::string line = line_of(example_state(""));
  EXPECT_NE(line.find("response=\"670fd8c2df070c60b045671b8b24ff02\"\r\n"), std::string::npos);
  EXPECT_EQ(line.find("nc="), std::string::npos);
  EXPECT_EQ(line.find("cnonce"), std::string::npos);
}

TEST(DigestLine, OpaqueAndQopListAndCountInLineAndHashAlike) {
  DigestState s = example_state("auth,auth-int", "MD5", "5ccc069c403ebaf9f0171e9517f40e41");
  s.nonce_count = 0x1a;
  std::string line = line_of(s);
  EXPECT_NE(line.find(",algorithm=\"MD5\","), std::string::npos);
  char expected[MD5_HEX_SIZE];
  compute_digest_response(NONCE, CNONCE, USER, REALM, PASSWORD, "MD5", "00000001a", "GET", "auth,auth-int",
                          URI, "", expected);
  EXPECT_NE(line.find(std::string("response=\"") + expected +
                      "\",opaque=\"5ccc069c403ebaf9f0171e9517f40e41\",qop=auth,auth-int,nc=00000001a,"
                      "cnonce=\"0a4f113b\"\r\n"),
            std::string::npos)
      << line;
}

TEST(DigestLine, FullFieldsFitTheLineBufferAndASmallBufferIsCut) {
  DigestState s{};
  for (char* field : {s.nonce, s.cnonce, s.username, s.password, s.realm, s.uri, s.opaque})
    std::memset(field, 'x', 127);
  std::memset(s.qop, 'q', 15);
  std::memset(s.algorithm, 'a', 15);
  s.nonce_count = 0xFFFFFFFF;
  std::string line = line_of(s);
  EXPECT_LT(line.size(), AUTHORIZATION_LINE_SIZE);
  EXPECT_EQ(line.substr(line.size() - 2), "\r\n");
  EXPECT_NE(line.find("nc=0ffffffff"), std::string::npos);
  char small[40];  // a small buffer is cut, and stays terminated
  EXPECT_EQ(build_digest_authorization(example_state("auth"), small, sizeof small), 39);
  EXPECT_EQ(small[39], '\0');
}

TEST(DigestChallenge, StoresEveryValueAndDrawsACnonce) {
  DigestState s{};
  std::srand(7);
  std::string expected_cnonce = cnonce_of_next_draw();
  std::srand(7);
  const char* challenge =
      "WWW-Authenticate: Digest realm=\"dev\", nonce=\"n1\", algorithm=\"MD5-sess\", qop=\"auth\", "
      "opaque=\"op\"\r\n\r\n<html>";
  ASSERT_EQ(parse_digest_challenge(challenge, s), 0);
  EXPECT_STREQ(s.realm, "dev");
  EXPECT_STREQ(s.nonce, "n1");
  EXPECT_STREQ(s.previous_nonce, "n1");
  EXPECT_STREQ(s.algorithm, "MD5-sess");
  EXPECT_STREQ(s.qop, "auth");
  EXPECT_STREQ(s.opaque, "op");
  EXPECT_EQ(s.cnonce, expected_cnonce);
  EXPECT_LE(std::strlen(s.cnonce), 4u);
}

// The device quotes the algorithm; standard servers send it as a bare token.
struct AlgorithmCase {
  const char* challenge;  // after realm="r", nonce="n",
  const char* algorithm;
};

class ChallengeAlgorithm : public ::testing::TestWithParam<AlgorithmCase> {};

TEST_P(ChallengeAlgorithm, Stored) {
  DigestState s{};
  std::strcpy(s.algorithm, "KEPT");
  std::string challenge =
      std::string("WWW-Authenticate: Digest realm=\"r\", nonce=\"n\", ") + GetParam().challenge;
  ASSERT_EQ(parse_digest_challenge(challenge.c_str(), s), 0);
  EXPECT_STREQ(s.algorithm, GetParam().algorithm) << challenge;
}

INSTANTIATE_TEST_SUITE_P(
    QuotedAndBare, ChallengeAlgorithm,
    ::testing::Values(AlgorithmCase{"algorithm=\"MD5 sess\", qop=\"auth\"", "MD5 sess"},
                      AlgorithmCase{"qop=\"auth\"", ""},
                      AlgorithmCase{"algorithm=MD5, domain=\"/admin/\", qop=\"auth\"", "MD5"},
                      AlgorithmCase{"algorithm=md5 qop=\"auth\"", "md5"},
                      AlgorithmCase{"algorithm=MD5-sess\r\n\r\n<html>", "MD5-sess"},
                      AlgorithmCase{"algorithm=MD5-sess", "MD5-sess"},
                      AlgorithmCase{"algorithm=, qop=\"auth\"", ""},
                      AlgorithmCase{"algorithm=MD5-sess-and-more, qop=\"auth\"", "MD5-sess-and-mo"},
                      AlgorithmCase{"algorithm=MD5, opaque=\"o\", algorithm=\"MD5-sess\"", "MD5-sess"}));

TEST(DigestChallenge, SameNonceKeepsTheCountNewNonceResetsItAndEveryChallengeDrawsACnonce) {
  DigestState s{};
  std::srand(11);
  std::string draws[3] = {cnonce_of_next_draw(), cnonce_of_next_draw(), cnonce_of_next_draw()};
  std::srand(11);
  ASSERT_EQ(parse_digest_challenge("realm=\"r\" nonce=\"a\"", s), 0);
  EXPECT_EQ(s.cnonce, draws[0]);
  s.nonce_count = 2;
  ASSERT_EQ(parse_digest_challenge("realm=\"r\" nonce=\"a\"", s), 0);
  EXPECT_EQ(s.nonce_count, 2u);
  EXPECT_EQ(s.cnonce, draws[1]);
  ASSERT_EQ(parse_digest_challenge("realm=\"r\" nonce=\"b\"", s), 0);
  EXPECT_EQ(s.nonce_count, 0u);
  EXPECT_STREQ(s.previous_nonce, "b");
  EXPECT_EQ(s.cnonce, draws[2]);
}

TEST(DigestChallenge, ALaterChallengeWithoutOptionalValuesEmptiesThem) {
  DigestState s{};
  ASSERT_EQ(parse_digest_challenge("realm=\"r\" nonce=\"a\" qop=\"auth\" algorithm=\"MD5\" opaque=\"o\"", s),
            0);
  ASSERT_EQ(parse_digest_challenge("realm=\"r\" nonce=\"a\"", s), 0);
  EXPECT_STREQ(s.qop, "");
  EXPECT_STREQ(s.algorithm, "");
  EXPECT_STREQ(s.opaque, "");
  s.nonce_count = 1;
  std::strcpy(s.password, "p");
  EXPECT_EQ(line_of(s).find("qop"), std::string::npos);
}

TEST(DigestChallenge, MissingRealmChangesNothingMissingNonceHasReplacedTheRealm) {
  DigestState s{};
  ASSERT_EQ(parse_digest_challenge("realm=\"old\" nonce=\"n\" qop=\"auth\"", s), 0);
  DigestState before = s;
  EXPECT_EQ(parse_digest_challenge("Digest nonce=\"m\" realm=unquoted", s), 1);
  EXPECT_EQ(std::memcmp(&before, &s, sizeof s), 0);
  EXPECT_EQ(parse_digest_challenge("Digest realm=\"new\"", s), 1);
  EXPECT_STREQ(s.realm, "new");
  EXPECT_STREQ(s.nonce, "n");
  EXPECT_STREQ(s.qop, "auth");
}

TEST(DigestChallenge, ValueWithoutClosingQuoteRunsToTheEnd) {
  DigestState s{};
  ASSERT_EQ(parse_digest_challenge("realm=\"r\" nonce=\"abc", s), 0);
  EXPECT_STREQ(s.nonce, "abc");
}

// A realm or nonce cut to its field would only earn a refusal, so it makes the challenge unusable;
// the other values are cut.
TEST(DigestChallenge, OverLongValues) {
  const std::string fits(127, 'f'), too_long(128, 'x'), long_tail(200, 'o');
  DigestState s{};
  ASSERT_EQ(parse_digest_challenge(("realm=\"" + fits + "\" nonce=\"" + fits + "\"").c_str(), s), 0);
  EXPECT_EQ(s.realm, fits);
  EXPECT_EQ(s.nonce, fits);

  DigestState before = s;
  EXPECT_EQ(parse_digest_challenge(("realm=\"" + too_long + "\" nonce=\"n\"").c_str(), s), 1);
  EXPECT_EQ(std::memcmp(&before, &s, sizeof s), 0);

  EXPECT_EQ(parse_digest_challenge(("realm=\"r2\" nonce=\"" + too_long + "\"").c_str(), s), 1);
  EXPECT_STREQ(s.realm, "r2");
  EXPECT_EQ(s.nonce, fits);

  ASSERT_EQ(parse_digest_challenge(("realm=\"r\" nonce=\"n\" opaque=\"" + long_tail +
                                    "\" qop=\"auth,auth-int,token\" algorithm=\"MD5-sess-and-more\"")
                                       .c_str(),
                                   s),
            0);
  EXPECT_EQ(s.opaque, long_tail.substr(0, 127));
  EXPECT_STREQ(s.qop, "auth,auth-int,t");
  EXPECT_STREQ(s.algorithm, "MD5-sess-and-mo");
}

}  // namespace
}  // namespace qor
