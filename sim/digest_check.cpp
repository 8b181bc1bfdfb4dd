#include "sim/digest_check.h"

#include <strings.h>

#include <utility>
#include <vector>

#include "http/digest.h"

namespace qor::sim {

namespace {

using Params = std::vector<std::pair<std::string, std::string>>;

bool is_blank(char c) {
  return c == ' ' || c == '\t';
}

bool equal_nocase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

bool is_token_char(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
}

// Whether `name=` starts at `pos`, blanks skipped. The program writes a qop list unquoted and whole
// ("qop=auth,auth-int"), so a comma ends an unquoted value only when another parameter follows it.
bool next_is_param(std::string_view text, std::size_t pos) {
  while (pos < text.size() && is_blank(text[pos]))
    ++pos;
  std::size_t start = pos;
  while (pos < text.size() && is_token_char(text[pos]))
    ++pos;
  return pos > start && pos < text.size() && text[pos] == '=';
}

// A quoted value ends at the next double quote: the program writes no escapes, so none are read.
bool read_value(std::string_view text, std::size_t& pos, std::string& value) {
  if (pos < text.size() && text[pos] == '"') {
    std::size_t close = text.find('"', pos + 1);
    if (close == std::string_view::npos) return false;
    value = std::string(text.substr(pos + 1, close - pos - 1));
    pos = close + 1;
    return true;
  }
  std::size_t start = pos;
  while (pos < text.size() && !is_blank(text[pos]) && !(text[pos] == ',' && next_is_param(text, pos + 1)))
    ++pos;
  value = std::string(text.substr(start, pos - start));
  return true;
}

// name=value pairs separated by commas and optional blanks; a repeated name is malformed.
bool parse_params(std::string_view text, Params& params) {
  std::size_t pos = 0;
  while (true) {
    while (pos < text.size() && (is_blank(text[pos]) || text[pos] == ','))
      ++pos;
    if (pos >= text.size()) return true;
    std::size_t eq = text.find('=', pos);
    if (eq == std::string_view::npos) return false;
    std::string name(text.substr(pos, eq - pos));
    if (name.empty() || name.find_first_of(" \t,\"") != std::string::npos) return false;
    pos = eq + 1;
    std::string value;
    if (!read_value(text, pos, value)) return false;
    for (const auto& p : params) {
      if (equal_nocase(p.first, name)) return false;
    }
    params.emplace_back(std::move(name), std::move(value));
    if (pos < text.size() && !is_blank(text[pos]) && text[pos] != ',') return false;
  }
}

const std::string* find_param(const Params& params, std::string_view name) {
  for (const auto& p : params) {
    if (equal_nocase(p.first, name)) return &p.second;
  }
  return nullptr;
}

std::string param_or_empty(const Params& params, std::string_view name) {
  const std::string* value = find_param(params, name);
  return value ? *value : std::string();
}

bool is_nine_hex_digits(std::string_view nc) {
  if (nc.size() != 9) return false;
  for (char c : nc) {
    bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    if (!hex) return false;
  }
  return true;
}

bool fail(AuthCheck& check, AuthVerdict v, std::string detail) {
  check.verdict = v;
  check.detail = std::move(detail);
  return false;
}

std::string quoted_pair(std::string_view expected, std::string_view got) {
  return "expected \"" + std::string(expected) + "\", got \"" + std::string(got) + "\"";
}

// The directives the challenge fixed (qop, algorithm, opaque) must come back as they were given.
bool echoed_as_challenged(const DigestConfig& config, const Params& params, AuthCheck& check) {
  std::string algorithm = param_or_empty(params, "algorithm");
  if (!equal_nocase(algorithm, config.algorithm))
    return fail(check, AUTH_WRONG_ALGORITHM, "algorithm: " + quoted_pair(config.algorithm, algorithm));
  std::string opaque = param_or_empty(params, "opaque");
  if (opaque != config.opaque)
    return fail(check, AUTH_WRONG_OPAQUE, "opaque: " + quoted_pair(config.opaque, opaque));
  std::string qop = param_or_empty(params, "qop");
  if (qop != config.qop) return fail(check, AUTH_WRONG_QOP, "qop: " + quoted_pair(config.qop, qop));
  if (config.qop.empty()) return true;
  if (!is_nine_hex_digits(check.nc))
    return fail(check, AUTH_BAD_NC, "nc \"" + check.nc + "\" is not nine hex digits");
  if (param_or_empty(params, "cnonce").empty()) return fail(check, AUTH_BAD_CNONCE, "no cnonce");
  return true;
}

// The md5-sess key hashes the client nonce, which the line carries only together with a qop.
bool session_key_computable(const Params& params, AuthCheck& check) {
  if (!equal_nocase(param_or_empty(params, "algorithm"), "md5-sess") ||
      !param_or_empty(params, "cnonce").empty())
    return true;
  return fail(check, AUTH_BAD_CNONCE, "md5-sess without a cnonce: the session key cannot be checked");
}

// Everything but the response itself: who, where, which nonce, and the echoed directives.
bool fields_as_expected(const DigestConfig& config, const Params& params, std::string_view request_uri,
                        const std::function<bool(const std::string&)>& nonce_known, AuthCheck& check) {
  for (const char* required : {"username", "realm", "nonce", "uri", "response"}) {
    if (!find_param(params, required)) return fail(check, AUTH_MALFORMED, std::string("no ") + required);
  }
  check.nonce = *find_param(params, "nonce");
  check.nc = param_or_empty(params, "nc");
  const std::string& user = *find_param(params, "username");
  if (user != config.user) return fail(check, AUTH_WRONG_USER, "user: " + quoted_pair(config.user, user));
  const std::string& realm = *find_param(params, "realm");
  if (realm != config.realm)
    return fail(check, AUTH_WRONG_REALM, "realm: " + quoted_pair(config.realm, realm));
  if (!nonce_known(check.nonce))
    return fail(check, AUTH_STALE_NONCE, "nonce \"" + check.nonce + "\" not issued");
  const std::string& uri = *find_param(params, "uri");
  if (uri != request_uri) return fail(check, AUTH_WRONG_URI, "uri: " + quoted_pair(request_uri, uri));
  return echoed_as_challenged(config, params, check) && session_key_computable(params, check);
}

void check_response(const DigestConfig& config, const Params& params, std::string_view method,
                    AuthCheck& check) {
  std::string cnonce = param_or_empty(params, "cnonce");
  std::string qop = param_or_empty(params, "qop");
  std::string algorithm = param_or_empty(params, "algorithm");
  std::string uri = param_or_empty(params, "uri");
  std::string method_text(method);
  char expected[MD5_HEX_SIZE];
  compute_digest_response(check.nonce.c_str(), cnonce.c_str(), config.user.c_str(), config.realm.c_str(),
                          config.password.c_str(), algorithm.c_str(), check.nc.c_str(), method_text.c_str(),
                          qop.c_str(), uri.c_str(), "", expected);
  if (param_or_empty(params, "response") != expected) {
    fail(check, AUTH_WRONG_RESPONSE, "response does not match the password");
  } else {
    check.verdict = AUTH_OK;
    check.detail.clear();
  }
}

}  // namespace

const char* auth_verdict_name(AuthVerdict v) {
  switch (v) {
    case AUTH_OK:
      return "accepted";
    case AUTH_MISSING:
      return "no credentials";
    case AUTH_MALFORMED:
      return "malformed Authorization";
    case AUTH_WRONG_USER:
      return "wrong user name";
    case AUTH_WRONG_REALM:
      return "wrong realm";
    case AUTH_STALE_NONCE:
      return "unknown or stale nonce";
    case AUTH_WRONG_URI:
      return "uri differs from the request";
    case AUTH_WRONG_ALGORITHM:
      return "algorithm not as challenged";
    case AUTH_WRONG_OPAQUE:
      return "opaque not echoed";
    case AUTH_WRONG_QOP:
      return "qop not echoed whole";
    case AUTH_BAD_NC:
      return "bad nonce count";
    case AUTH_BAD_CNONCE:
      return "bad cnonce";
    case AUTH_WRONG_RESPONSE:
      return "wrong response (password?)";
  }
  return "?";
}

std::string challenge_header(const DigestConfig& config, std::string_view nonce, bool stale) {
  std::string line =
      "WWW-Authenticate: Digest realm=\"" + config.realm + "\", nonce=\"" + std::string(nonce) + "\"";
  if (!config.qop.empty()) line += ", qop=\"" + config.qop + "\"";
  if (!config.algorithm.empty()) line += ", algorithm=\"" + config.algorithm + "\"";
  if (!config.opaque.empty()) line += ", opaque=\"" + config.opaque + "\"";
  if (stale) line += ", stale=true";
  return line + "\r\n";
}

AuthCheck check_authorization(const DigestConfig& config, std::string_view value, std::string_view method,
                              std::string_view request_uri,
                              const std::function<bool(const std::string&)>& nonce_known) {
  AuthCheck check;
  std::size_t pos = 0;
  while (pos < value.size() && is_blank(value[pos]))
    ++pos;
  if (pos == value.size()) {
    fail(check, AUTH_MISSING, "no Authorization line");
    return check;
  }
  constexpr std::string_view SCHEME = "Digest";
  Params params;
  if (!equal_nocase(value.substr(pos, SCHEME.size()), SCHEME) || pos + SCHEME.size() >= value.size() ||
      !is_blank(value[pos + SCHEME.size()])) {
    fail(check, AUTH_MALFORMED, "scheme is not Digest");
  } else if (!parse_params(value.substr(pos + SCHEME.size()), params)) {
    fail(check, AUTH_MALFORMED, "parameters do not parse");
  } else if (fields_as_expected(config, params, request_uri, nonce_known, check)) {
    check_response(config, params, method, check);
  }
  return check;
}

}  // namespace qor::sim
